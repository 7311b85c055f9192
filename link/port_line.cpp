#include "link/port_line.h"

#include "core/net/server_address.h"
#include "link/network_port.h"

namespace marvalo {

PortLine::~PortLine() {
    backend_.reset();
}

const LineTarget *PortLine::target() const {
    if (!target_)
        return nullptr;
    const bool current = givenPath_ ? !target_->commPort && target_->path == *givenPath_
                                    : target_->commPort == commPort();
    return current ? &*target_ : nullptr;
}

Result<LineTarget, LinkError> PortLine::resolve() const {
    if (givenPath_)
        return LineTarget{*givenPath_, std::nullopt, *givenPath_, false, std::nullopt};
    const std::string number = "COM " + std::to_string(commPort());
    auto mapped = portMap().resolve(commPort());
    if (!mapped)
        return LinkError{LinkError::Kind::NoSuchPort, "abrir", number, mapped.error()};
    const MappedDevice &device = mapped.value();
    return LineTarget{device.path, device.deviceNumber, number + " (" + device.text() + ")",
                      device.kernelRs485, commPort()};
}

LinkStatus PortLine::prepareExchange() {
    auto resolved = resolve();
    if (!resolved) {
        // The number leads nowhere now: the line held from before is let go
        // rather than written to.
        backend_.reset();
        target_.reset();
        return resolved.error();
    }
    if (backend_ && target_ && target_->sameLine(resolved.value())) {
        if (backend_->portOpen())
            return Done{};
        if (auto set = backend_->applySettings(line()); !set)
            return set;
        auto reopened = backend_->open();
        if (!reopened)
            backend_.reset();
        return reopened;
    }
    backend_.reset();  // closed before the new line opens: nothing more goes to it
    target_ = std::move(resolved.value());
    LineOptions options = options_;
    options.stopQuery = [this] { return stopAsked(); };
    auto made = makeLineIo(*target_, line(), options);
    if (!made)
        return made.error();
    backend_ = std::move(made.value());
    auto opened = backend_->open();
    if (!opened)
        backend_.reset();
    return opened;
}

void PortLine::close() {
    if (backend_)
        backend_->close();
}

std::string PortLine::describe() const {
    if (backend_ && target())
        return backend_->describe();
    if (const LineTarget *line = target())
        return line->label;
    // A device given by path has no COM number: naming one would send the
    // operator looking for the wrong port.
    return givenPath_ ? *givenPath_ : SerialPort::describe();
}

std::string PortLine::kind() const {
    if (backend_ && target())
        return backend_->kind();
    const std::string path = target() ? target()->path : devicePath();
    const char *scheme = net::looksLikeServerAddress(path) ? net::schemeKindName(path) : nullptr;
    return scheme ? scheme : "local";
}

std::string PortLine::recordedSettings() const {
    if (backend_ && target())
        return backend_->recordedSettings(settings());
    return kind() == "socket" ? kServerSettings : settings();
}

std::string PortLine::devicePath() const {
    if (const LineTarget *line = target())
        return line->path;
    return givenPath_ ? *givenPath_ : SerialPort::devicePath();
}

bool PortLine::kernelSwitchesRs485() const {
    return backend_ && backend_->kernelSwitchesRs485();
}

int PortLine::fd() const {
    const auto *termios = dynamic_cast<const TermiosLine *>(backend_.get());
    return termios ? termios->fd() : -1;
}

LinkStatus PortLine::applyLine(const LineSettings &line) {
    return backend_ ? backend_->applySettings(line) : LinkStatus(Done{});
}

LinkError PortLine::notOpen(const char *operation) const {
    return error(LinkError::Kind::NotOpen, operation, "el puerto está cerrado");
}

LinkStatus PortLine::setRts(bool raised) {
    if (!portOpen())
        return notOpen(raised ? "activar RTS en" : "desactivar RTS en");
    return backend_->setRts(raised);
}

LinkStatus PortLine::discardInput() {
    return portOpen() ? backend_->discardInput() : notOpen("vaciar la entrada de");
}

LinkStatus PortLine::write(const Bytes &request) {
    return portOpen() ? backend_->write(request) : notOpen("escribir en");
}

LinkStatus PortLine::drain() {
    return portOpen() ? backend_->drain() : notOpen("terminar de enviar por");
}

Result<bool, LinkError> PortLine::waitForInput(std::int64_t timeoutUs) {
    if (!portOpen())
        return notOpen("esperar datos de");
    return backend_->waitForInput(timeoutUs);
}

Result<Bytes, LinkError> PortLine::readAvailable() {
    if (!portOpen())
        return notOpen("leer de");
    return backend_->readAvailable();
}

}  // namespace marvalo
