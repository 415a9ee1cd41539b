#include "serial/VirtualPortDir.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelm {

namespace {

void SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

std::string ErrnoText(const std::string& what, const std::string& path, int err) {
    return what + " " + path + ": " + std::strerror(err);
}

// mkdir -p with mode 0700 for every level we create.
bool MakeDirs(const std::string& path, std::string* error) {
    if (path.empty()) return true;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return true;
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (!MakeDirs(path.substr(0, slash), error)) return false;
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        SetError(error, ErrnoText("cannot create", path, errno));
        return false;
    }
    return true;
}

std::optional<std::string> ReadLink(const std::string& path) {
    std::string buf(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) < buf.size()) {
            buf.resize(static_cast<std::size_t>(n));
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

// Whether a link's target is a device node that exists; relative targets
// are taken from the directory, as the kernel resolves them. A link to
// anything else (a file left where a pty was) is no port.
bool TargetExists(const std::string& linkPath) {
    struct stat st {};
    return ::stat(linkPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace

std::string VirtualPortDir::Path() {
    if (const char* over = std::getenv("KELM_PORTS_DIR"); over && *over) return over;
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && xdg[0] == '/') {
        return std::string(xdg) + "/kelm/ports";
    }
    return "/tmp/kelm-" + std::to_string(::getuid()) + "/ports";
}

bool VirtualPortDir::Ensure(std::string* error) {
    const std::string dir = Path();
    if (!MakeDirs(dir, error)) return false;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        SetError(error, ErrnoText("cannot examine", dir, errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetError(error, dir + " is not a directory");
        return false;
    }
    if (st.st_uid != ::getuid()) {
        SetError(error, dir + " belongs to another user");
        return false;
    }
    return true;
}

std::string VirtualPortDir::LinkPath(unsigned n) {
    return Path() + "/COM" + std::to_string(n);
}

std::optional<unsigned> VirtualPortDir::NumberOfName(const std::string& name) {
    if (name.size() < 4 || name.size() > 7 || name.compare(0, 3, "COM") != 0) return std::nullopt;
    unsigned n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    if (name[3] == '0' || n < kMinNumber || n > kMaxNumber) return std::nullopt;
    return n;
}

bool VirtualPortDir::Publish(unsigned n, const std::string& target, std::string* error) {
    if (n < kMinNumber || n > kMaxNumber) {
        SetError(error, "port number " + std::to_string(n) + " is out of range 1-4096");
        return false;
    }
    if (target.empty()) {
        SetError(error, "no target to publish");
        return false;
    }
    if (!Ensure(error)) return false;
    const std::string link = LinkPath(n);
    if (const auto old = ReadLink(link)) {
        if (*old != target && TargetExists(link)) {
            SetError(error, link + " already stands for " + *old + ", which is in use");
            return false;
        }
    } else {
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0) {
            SetError(error, link + " exists and is not a link");
            return false;
        }
    }
    // Make the link under a private name, then rename it into place: readers
    // see either the old link or the new one, never a missing or partial one.
    const std::string tmp =
        Path() + "/.COM" + std::to_string(n) + ".tmp" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0) {
        SetError(error, ErrnoText("cannot create link", tmp, errno));
        return false;
    }
    if (::rename(tmp.c_str(), link.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        SetError(error, ErrnoText("cannot publish", link, err));
        return false;
    }
    return true;
}

bool VirtualPortDir::Unpublish(unsigned n, const std::optional<std::string>& expectedTarget) {
    if (n < kMinNumber || n > kMaxNumber) return false;
    const std::string link = LinkPath(n);
    const auto old = ReadLink(link);
    if (!old) return false;  // missing, or not a link: not ours to remove
    if (expectedTarget && *old != *expectedTarget) return false;
    return ::unlink(link.c_str()) == 0;
}

std::vector<VirtualPortDir::Entry> VirtualPortDir::List() {
    std::vector<Entry> out;
    const std::string dir = Path();
    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        const auto n = NumberOfName(name);
        if (!n) continue;
        const std::string link = dir + "/" + name;
        const auto target = ReadLink(link);
        if (!target) continue;
        out.push_back(Entry{*n, link, *target, TargetExists(link)});
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(),
              [](const Entry& a, const Entry& b) { return a.number < b.number; });
    return out;
}

}  // namespace kelm
