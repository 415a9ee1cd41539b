// kelm: the command-line front end of KELM-Utility. Scans a line for KELM
// modules, finds a module whose settings were forgotten, reads a module's
// identity and gives it a new address, serial format and protocol.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <vector>

#include "Common.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
    using namespace kelm::cli;
#ifdef _WIN32
    // Line ends stay LF: what the program prints (text, JSON, CSV, the
    // configuration files) is then the same bytes on every system, and
    // scripts that compare or parse it need no second case.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    CLI::App app{"kelm: configure and test KELM remote I/O modules on an RS-485 line", "kelm"};
    app.set_version_flag("--version", std::string("kelm ") + KELM_VERSION);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 done; 1 the module answered with an exception, or a read-back differs; "
        "2 bad command line or value (nothing is sent); 3 the port cannot be opened; 4 no "
        "reply.\nkelm COMMAND --help explains each command.");
    std::vector<Command> commands{
        AddPortsCommand(app),   AddScanCommand(app),  AddFindCommand(app),
        AddInfoCommand(app),    AddSetCommand(app),   AddReadCommand(app),
        AddWriteCommand(app),   AddWatchCommand(app), AddBackupCommand(app),
        AddRestoreCommand(app), AddCloneCommand(app), AddProvisionCommand(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "kelm: " << e.what() << "\n";
        std::cerr << "Run with --help for more information.\n";
        return kExitUsage;
    }
    try {
        for (const auto& c : commands) {
            if (c.app->parsed()) return c.run();
        }
    } catch (const Failure& f) {
        std::cerr << "kelm: " << f.message << '\n';
        return f.status;
    } catch (const std::exception& e) {
        std::cerr << "kelm: " << e.what() << '\n';
        return kExitPort;
    }
    return kExitUsage;
}
