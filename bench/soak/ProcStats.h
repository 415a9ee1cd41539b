#pragma once
// What a long run is judged by, read from /proc for this process: resident
// memory, open descriptors, threads, and processor time (the whole process,
// or one thread of it).
#include <dirent.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace kelm::bench {

inline long RssKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

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

}  // namespace kelm::bench
