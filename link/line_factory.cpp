#include "link/line_factory.h"

#include "core/net/server_address.h"
#include "link/network_port.h"

namespace marvalo {

bool LineTarget::server() const {
    return net::looksLikeServerAddress(path);
}

Result<std::unique_ptr<LineIo>, LinkError> makeLineIo(const LineTarget &target,
                                                      const LineSettings &line,
                                                      const LineOptions &options) {
    if (options.fake)
        return std::unique_ptr<LineIo>(std::make_unique<FakeLineIo>(*options.fake));
    if (!target.server()) {
        return std::unique_ptr<LineIo>(
            std::make_unique<TermiosLine>(target, line, options.termios));
    }
    auto address = net::parseServerAddress(target.path);
    if (!address)
        return LinkError{LinkError::Kind::NoSuchPort, "abrir", target.label, address.error()};
    auto network = std::make_unique<NetworkPort>(address.value());
    network->setConnectTimeoutMs(options.connectTimeoutMs);
    network->setStopQuery(options.stopQuery);
    if (target.commPort)
        network->setLabel(target.label);
    if (auto set = network->applySettings(line); !set)
        return set.error();
    return std::unique_ptr<LineIo>(std::move(network));
}

}  // namespace marvalo
