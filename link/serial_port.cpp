#include "link/serial_port.h"

#include "link/port_names.h"

namespace marvalo {

namespace {

EnvironmentPortMap environmentMap;

}  // namespace

SerialPort::SerialPort() : map_(&environmentMap) {}

LinkError SerialPort::error(LinkError::Kind kind, std::string operation, std::string reason) const {
    return LinkError{kind, std::move(operation), describe(), std::move(reason)};
}

// Outside an exchange the port names what the map saw last: only an
// exchange (and a tooltip asked to look again) walks the kernel's tree.
std::string SerialPort::describe() const {
    const std::string number = "COM " + std::to_string(commPort_);
    auto mapped = map_->lastSeen(commPort_);
    if (!mapped)
        return number;
    return number + " (" + mapped.value().text() + ")";
}

std::string SerialPort::describeAdapter(bool lookAgain) const {
    const std::string number = "COM " + std::to_string(commPort_);
    auto mapped = lookAgain ? map_->resolve(commPort_) : map_->lastSeen(commPort_);
    if (!mapped)
        return number + ": " + mapped.error();
    return number + ": " + mapped.value().text();
}

std::string SerialPort::devicePath() const {
    auto mapped = map_->lastSeen(commPort_);
    return mapped ? mapped.value().path : std::string();
}

LinkStatus SerialPort::setCommPort(int number) {
    if (number < kFirstCommPort || number > kLastCommPort) {
        return error(LinkError::Kind::BadPortNumber, "elegir el puerto",
                     "el número de puerto " + std::to_string(number) + " debe estar entre 1 y 5");
    }
    if (portOpen()) {
        return error(LinkError::Kind::PortIsOpen, "cambiar de puerto",
                     "ciérrelo antes de elegir otro");
    }
    commPort_ = number;
    return Done{};
}

LinkStatus SerialPort::setSettings(const std::string &text) {
    auto parsed = parseLineSettings(text);
    if (!parsed) {
        return error(LinkError::Kind::BadSettings, "configurar", parsed.error());
    }
    if (portOpen()) {
        if (auto applied = applyLine(parsed.value()); !applied) {
            return applied;
        }
    }
    settingsText_ = text;
    line_ = parsed.value();
    return Done{};
}

}  // namespace marvalo
