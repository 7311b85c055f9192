// marvalo-send: the panel's exchange without the window, for scripts. Same
// request builder, port layer, waits and verdicts as the panel, so a script
// and the panel never disagree about an instrument.
#include <algorithm>
#include <filesystem>
#include <iostream>

#include "core/text/byte_text.h"
#include "files/file_places.h"
#include "files/ports_file.h"
#include "ports/bench_ports.h"
#include "tools/port_listing.h"
#include "tools/send_modes.h"
#include "tools/send_options.h"

namespace {

using namespace marvalo;

// The panel's COM numbers: the same table, where the panel keeps it when
// both are installed (or unpacked) in one folder.
std::filesystem::path portsTablePath() {
    std::error_code noFolder;
    const std::filesystem::path programFolder =
        std::filesystem::read_symlink("/proc/self/exe", noFolder).parent_path();
    return chooseFilePlace(noFolder ? std::filesystem::current_path() : programFolder,
                           kPortsFileName)
               .saveFolder /
           kPortsFileName;
}

}  // namespace

int main(int argc, char **argv) {
    auto command = parseCommandLine(argc, argv);
    if (!command)
        return command.error().status;
    const SendOptions &options = command.value().options;

    BenchPorts benchPorts(portsTablePath());
    benchPorts.setHint(
        "elija otro con --port N, dé el dispositivo con --device RUTA o vea marvalo-send "
        "--list-ports");
    if (auto problem = benchPorts.takeProblem()) {
        for (std::size_t from = 0; from < problem->size();) {  // one problem a line
            const std::size_t end = std::min(problem->find('\n', from), problem->size());
            std::cerr << safeText(problem->substr(from, end - from)) << "\n";
            from = end + 1;
        }
    }
    if (options.listPorts) {
        std::cout << (options.json ? portListingJson(benchPorts) : portListingText(benchPorts));
        return kExitAllGood;
    }
    if (options.portCommand)
        return runPortCommand(*options.portCommand, benchPorts);
    if (options.scan)
        return runScan(options, benchPorts);
    if (options.plan)
        return runPlanFile(options, benchPorts);
    return runExchanges(options, command.value().request, benchPorts);
}
