#include "link/line_factory.h"

#include "link/network_port.h"

namespace marvalo {

Result<std::unique_ptr<LineIo>, LinkError> makeLineIo(const LineTarget &target,
                                                      const LineSettings &line,
                                                      const LineOptions &options) {
    if (options.fake)
        return std::unique_ptr<LineIo>(std::make_unique<FakeLineIo>(*options.fake));
    if (!target.address) {
        return std::unique_ptr<LineIo>(
            std::make_unique<TermiosLine>(target, line, options.termios));
    }
    auto network = std::make_unique<NetworkPort>(*target.address);
    network->setConnectTimeoutMs(options.connectTimeoutMs);
    network->setStopQuery(options.stopQuery);
    network->retarget(target);
    if (auto set = network->applySettings(line); !set)
        return set.error();
    return std::unique_ptr<LineIo>(std::move(network));
}

}  // namespace marvalo
