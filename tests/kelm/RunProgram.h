#pragma once
// Runs a program with arguments and extra environment, and collects its
// standard output, standard error and exit status. A program that runs past
// the limit is killed (status -1).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace kelm::test {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// With stderrFd not -1 the program's standard error is that descriptor (a
// terminal, say) and err stays empty.
inline RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::pair<std::string, std::string>>& env = {},
                            std::chrono::seconds limit = std::chrono::seconds(60),
                            int stderrFd = -1) {
    int outPipe[2];
    int errPipe[2];
    RunResult r;
    if (pipe2(outPipe, O_CLOEXEC) != 0) return r;
    if (pipe2(errPipe, O_CLOEXEC) != 0) return r;
    const pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(stderrFd >= 0 ? stderrFd : errPipe[1], 2);
        unsetenv("KELM_PORT");
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace kelm::test
