// marvalo-send: the panel's exchange without the window, for scripts. Same
// request builder, port layer, waits and verdicts as the panel, so a script
// and the panel never disagree about an instrument.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iostream>

#include "core/text/byte_text.h"
#include "core/text/system_error_text.h"
#include "files/file_places.h"
#include "files/ports_file.h"
#include "ports/bench_ports.h"
#include "tools/port_listing.h"
#include "tools/send_modes.h"
#include "tools/send_options.h"
#include "tools/stdout_writer.h"
#include "tools/stop_signal.h"

namespace {

using namespace marvalo;

// The panel's COM numbers: the same table, found by the panel's rule.
PortsTablePlace portsTable() {
    std::error_code noFolder;
    const std::filesystem::path programFolder =
        std::filesystem::read_symlink("/proc/self/exe", noFolder).parent_path();
    return portsTablePlace(noFolder ? std::filesystem::current_path() : programFolder);
}

// Every mode ends as a plan does when stdout takes no more (> /dev/full):
// exit 4 and a sentence. A reader that left (| head -n 1) ends a run of
// exchanges quietly, with the exit status of what was seen; a stop that
// cut the output short has the signal's status already.
int withOutputChecked(StdoutWriter &out, int status) {
    std::cout.flush();
    const int lost = out.error();
    if (lost == ECANCELED)
        std::cerr << kStdoutCutText << ".\n";
    if (lost == 0 || lost == EPIPE || lost == ECANCELED)
        return status;
    std::cerr << "marvalo-send: la salida estándar no admite más (" << systemErrorText(lost)
              << "): lo que quedaba por escribir se perdió.\n";
    return kExitPortFailed;
}

int run(int argc, char **argv, StdoutWriter &out) {
    auto command = parseCommandLine(argc, argv);
    if (!command)
        return withOutputChecked(out, command.error().status);
    const SendOptions &options = command.value().options;

    BenchPorts benchPorts(portsTable());
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
        return withOutputChecked(out, kExitAllGood);
    }
    if (options.portCommand)
        return withOutputChecked(out, runPortCommand(*options.portCommand, benchPorts));
    if (options.scan)
        return withOutputChecked(out, runScan(options, benchPorts));
    // A run's own lines end as the run decides; a check's are all it does.
    if (options.plan)
        return options.check ? withOutputChecked(out, runPlanFile(options, benchPorts, out))
                             : runPlanFile(options, benchPorts, out);
    return withOutputChecked(out, runExchanges(options, command.value().request, benchPorts));
}

}  // namespace

int main(int argc, char **argv) {
    StdoutWriter out(stopWriteTimeIsUp);
    return run(argc, argv, out);
}
