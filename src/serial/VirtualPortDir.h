#pragma once
// The virtual-port directory: where simulated serial ports are announced.
//
// A simulator (ours, or socat driven by a script) creates a pseudo-terminal
// and publishes it as a symbolic link COM<n> -> <pty slave path> in this
// directory; the port enumeration lists every such link whose target exists
// as port number n. The directory is operating-system state, like the kernel's
// device list, not a configuration file of ours.
//
// Location, first match wins:
//   $KELM_PORTS_DIR                    (tests point this at a temporary directory)
//   $XDG_RUNTIME_DIR/kelm/ports
//   /tmp/kelm-<uid>/ports
#include <optional>
#include <string>
#include <vector>

namespace kelm {

class VirtualPortDir {
  public:
    // Port numbers a link may carry. Numbers from 4097 up are given to
    // ports without a "COM" name, so a link never takes one of them.
    static constexpr unsigned kMinNumber = 1;
    static constexpr unsigned kMaxNumber = 4096;

    struct Entry {
        unsigned number = 0;   // n of COM<n>
        std::string link;      // full path of the link
        std::string target;    // what the link points to (the pty's slave path)
        bool present = false;  // the target exists now and is a device node
    };

    // The directory path (not created).
    static std::string Path();

    // Creates the directory (and its parents) when missing, mode 0700. Fails
    // when the path is not a directory owned by the caller: a directory in
    // /tmp that someone else made must not be trusted with our port links.
    static bool Ensure(std::string* error = nullptr);

    // Path of the link for port number n.
    static std::string LinkPath(unsigned n);

    // Publishes target as COM<n>, atomically (the link never exists half
    // made). A link that already stands there is replaced only when its
    // target is gone or is the same target: a live port of another simulator
    // is never taken over. Returns false with a readable reason otherwise.
    static bool Publish(unsigned n, const std::string& target, std::string* error = nullptr);

    // Removes COM<n>. With expectedTarget given, the link is removed only
    // when it still points there, so a simulator that exits never removes a
    // link that another one has published since. Returns true when a link
    // was removed.
    static bool Unpublish(unsigned n, const std::optional<std::string>& expectedTarget = {});

    // Every COM<n> link in the directory, by ascending number; names that are
    // not COM followed by a number in range, and entries that are not links,
    // are skipped. Dangling links are listed with present = false.
    static std::vector<Entry> List();

    // Parses "COM<n>" (upper case, digits only, in range); nullopt otherwise.
    static std::optional<unsigned> NumberOfName(const std::string& name);
};

}  // namespace kelm
