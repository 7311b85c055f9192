#include "link/serial_port.h"

#include "link/port_names.h"

namespace marvalo {

SerialPort::SerialPort() = default;

LinkError SerialPort::error(LinkError::Kind kind, std::string operation, std::string reason) const {
    return LinkError{kind, std::move(operation), describe(), std::move(reason)};
}

std::string SerialPort::describe() const {
    return describePort(commPort_);
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
