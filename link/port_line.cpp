#include "link/port_line.h"

#include "core/net/server_address.h"
#include "link/network_port.h"

namespace marvalo {

PortLine::~PortLine() {
    backend_.reset();
}

namespace {

// A path that names a serial server (given, or mapped as text by
// $MARVALO_COMn) is parsed here, once; one from the table comes parsed.
Result<LineTarget, LinkError> withAddress(LineTarget target) {
    if (target.address || !net::looksLikeServerAddress(target.path))
        return target;
    auto address = net::parseServerAddress(target.path);
    if (!address)
        return LinkError{LinkError::Kind::NoSuchPort, "abrir", target.label, address.error()};
    target.address = address.value();
    return target;
}

}  // namespace

bool PortLine::aheadStillChosen() const {
    return ahead_ && ahead_->givenPath == givenPath_ &&
           (givenPath_ || ahead_->commPort == commPort());
}

const LineTarget *PortLine::target() const {
    const LineTarget *line = aheadStillChosen() && ahead_->line.ok() ? &ahead_->line.value()
                             : target_                               ? &*target_
                                                                     : nullptr;
    if (!line)
        return nullptr;
    const bool current =
        givenPath_ ? !line->commPort && line->path == *givenPath_ : line->commPort == commPort();
    return current ? line : nullptr;
}

Result<LineTarget, LinkError> PortLine::resolve() const {
    if (givenPath_)
        return withAddress(
            LineTarget{*givenPath_, std::nullopt, *givenPath_, false, std::nullopt, std::nullopt});
    const std::string number = "COM " + std::to_string(commPort());
    auto mapped = portMap().resolve(commPort());
    if (!mapped)
        return LinkError{LinkError::Kind::NoSuchPort, "abrir", number, mapped.error()};
    const MappedDevice &device = mapped.value();
    return withAddress(LineTarget{device.path, device.deviceNumber,
                                  number + " (" + device.text() + ")", device.kernelRs485,
                                  commPort(), device.server});
}

LinkStatus PortLine::resolveFirstLine() {
    if (backend_)
        return Done{};
    ahead_ = Ahead{resolve(), givenPath_, commPort()};
    if (!ahead_->line)
        return ahead_->line.error();
    return Done{};
}

LinkStatus PortLine::prepareExchange() {
    // Resolved ahead for this number or device, not one chosen since.
    auto resolved = aheadStillChosen() ? std::move(ahead_->line) : resolve();
    ahead_.reset();
    if (!resolved) {
        // The number leads nowhere now: the line held from before is let go
        // rather than written to.
        backend_.reset();
        target_.reset();
        return resolved.error();
    }
    if (backend_ && target_ && target_->sameLine(resolved.value())) {
        // The same line, named as it is now: the latency timer or the
        // adapter's name may have changed since it was opened.
        target_ = std::move(resolved.value());
        backend_->retarget(*target_);
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
    else
        ++lineChanges_;
    return opened;
}

void PortLine::close() {
    if (backend_)
        backend_->close();
}

std::string PortLine::describe() const {
    if (const LineTarget *line = target())
        return line->label;
    // A device given by path has no COM number: naming one would send the
    // operator looking for the wrong port.
    return givenPath_ ? *givenPath_ : SerialPort::describe();
}

std::string PortLine::kind() const {
    if (backend_ && target())
        return backend_->kind();
    if (const LineTarget *line = target())
        return line->address ? line->address->kindName() : "local";
    const std::string path = devicePath();
    const char *scheme = net::looksLikeServerAddress(path) ? net::schemeKindName(path) : nullptr;
    return scheme ? scheme : "local";
}

std::string PortLine::recordedSettings() const {
    if (backend_ && target())
        return backend_->recordedSettings(settings());
    return recordedSettingsOf(kind(), settings());
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
