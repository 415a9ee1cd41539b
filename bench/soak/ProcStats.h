#pragma once
// What a long run is judged by, read from /proc for this process: open
// descriptors, threads, and processor time (the whole process, or one thread
// of it); resident memory is bench::RssKb.
#include <dirent.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "BenchSupport.h"

namespace kelm::bench {

// Entries of a /proc directory, without "." and "..".
inline int CountEntries(const char* dir) {
    DIR* d = ::opendir(dir);
    if (!d) return -1;
    int n = 0;
    while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    // The directory stream itself holds a descriptor while /proc/self/fd is read.
    return std::string(dir) == "/proc/self/fd" ? n - 1 : n;
}

inline int OpenFds() {
    return CountEntries("/proc/self/fd");
}

inline int Threads() {
    return CountEntries("/proc/self/task");
}

// User and system time of the whole process, in milliseconds.
inline double ProcessCpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Processor time of one thread of this process, in milliseconds; 0 when the
// thread's clock cannot be read.
inline double ThreadCpuMs(pthread_t thread) {
    clockid_t id;
    if (::pthread_getcpuclockid(thread, &id) != 0) return 0;
    timespec ts{};
    if (::clock_gettime(id, &ts) != 0) return 0;
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// What the process holds at one moment, by name: each thread's id with its
// name (/proc/self/task/<tid>/comm) and each descriptor with its target
// (/proc/self/fd/<n>). Compared with an earlier snapshot, it tells what is
// left over, not merely how many.
struct ProcSnapshot {
    std::map<std::string, std::string> threads;  // tid -> name
    std::map<std::string, std::string> fds;      // fd -> target

    static ProcSnapshot Take() {
        ProcSnapshot s;
        if (DIR* d = ::opendir("/proc/self/task")) {
            while (const dirent* e = ::readdir(d)) {
                if (e->d_name[0] == '.') continue;
                std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
                std::string name;
                // A thread that cannot be read any more has just ended.
                if (f && std::getline(f, name)) s.threads[e->d_name] = name;
            }
            ::closedir(d);
        }
        if (DIR* d = ::opendir("/proc/self/fd")) {
            const int own = ::dirfd(d);
            while (const dirent* e = ::readdir(d)) {
                if (e->d_name[0] == '.' || std::atoi(e->d_name) == own) continue;
                char target[512];
                const std::string link = std::string("/proc/self/fd/") + e->d_name;
                const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
                s.fds[e->d_name] = n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
            }
            ::closedir(d);
        }
        return s;
    }

    // What differs from before, one per line: threads and descriptors that
    // are new ("+thread <tid> <name>", "+fd <n> -> <target>"; the same
    // number with another target counts as new) and those gone ("-thread",
    // "-fd").
    std::string DiffFrom(const ProcSnapshot& before) const {
        std::string out;
        auto diff = [&out](const std::map<std::string, std::string>& a,
                           const std::map<std::string, std::string>& b, const char* what,
                           const char* sep) {
            for (const auto& [id, v] : a) {
                const auto it = b.find(id);
                if (it == b.end() || it->second != v)
                    out += std::string(what) + " " + id + sep + v + "\n";
            }
        };
        diff(threads, before.threads, "+thread", " ");
        diff(fds, before.fds, "+fd", " -> ");
        diff(before.threads, threads, "-thread", " ");
        diff(before.fds, fds, "-fd", " -> ");
        return out;
    }
};

}  // namespace kelm::bench
