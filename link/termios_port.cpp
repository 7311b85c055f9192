#include "link/termios_port.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/text/system_error_text.h"
#include "link/parity_marks.h"
#include "link/port_names.h"
#include "os/line_speed.h"

namespace marvalo {
namespace {

// Bytes on the wire per second at this line setting (start bit included),
// for bounding how long a write may take.
int bytesPerSecond(const LineSettings &line) {
    const int bits =
        1 + line.dataBits + (line.parity == LineSettings::Parity::None ? 0 : 1) + line.stopBits;
    return line.baud / bits;
}

// A UART samples each bit in its middle: a rate off by more than about 2 %
// drifts a whole bit within one character.
bool speedClose(int got, int wanted) {
    return std::abs(static_cast<long>(got) - wanted) * 50 <= wanted;
}

bool isHangup(int err) {
    return err == EIO || err == ENXIO || err == ENODEV;
}

// What to do about a refused open. Joining the device's group only helps
// when the group may read and write it (dialout, crw-rw----); otherwise
// name the owner and the mode, so the operator asks for the right change.
std::string permissionHint(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "permiso denegado";
    std::string group = std::to_string(info.st_gid);
    if (const struct group *entry = ::getgrgid(info.st_gid))
        group = entry->gr_name;
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        return "permiso denegado; el usuario debe pertenecer al grupo \"" + group +
               "\", dueño del dispositivo";
    }
    std::string owner = std::to_string(info.st_uid);
    if (const struct passwd *entry = ::getpwuid(info.st_uid))
        owner = entry->pw_name;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777));
    return "permiso denegado; el dispositivo es de \"" + owner + "\" (grupo \"" + group +
           "\") con permisos " + mode +
           ", que no dejan al grupo leer y escribir: pida al administrador acceso al puerto";
}

}  // namespace

TermiosPort::~TermiosPort() {
    close();
}

std::string TermiosPort::devicePath() const {
    if (devicePath_)
        return *devicePath_;
    auto mapped = portMap().resolve(commPort());
    return mapped ? mapped.value().path : std::string();
}

std::string TermiosPort::describe() const {
    // A device given by path has no COM number: naming one would send the
    // operator looking for the wrong port.
    if (devicePath_)
        return *devicePath_;
    // While open, the adapter it was opened as: once unplugged, the map no
    // longer knows where it went, and the message must still name it.
    if (openedAs_)
        return "COM " + std::to_string(commPort()) + " (" + openedAs_->text() + ")";
    return SerialPort::describe();
}

bool TermiosPort::kernelSwitchesRs485() const {
    return fd_.valid() && rs485Saved_.has_value();
}

std::string TermiosPort::kind() const {
    const std::string path = devicePath();
    if (!net::looksLikeServerAddress(path))
        return "local";
    const char *scheme = net::schemeKindName(path);
    return scheme ? scheme : "local";
}

std::string TermiosPort::recordedSettings() const {
    return kind() == "socket" ? kServerSettings : settings();
}

LinkStatus TermiosPort::openNetwork(const std::string &text) {
    auto address = net::parseServerAddress(text);
    if (!address)
        return error(LinkError::Kind::NoSuchPort, "abrir", address.error());
    // The connection kept from the last exchange, if it leads to the same
    // server; any other is let go here.
    std::unique_ptr<NetworkPort> kept = std::move(network_);
    if (kept && kept->address().written == address.value().written) {
        kept->setConnectTimeoutMs(connectTimeoutMs_);
        kept->setStopQuery(stopQuery());
        if (auto set = kept->setSettings(settings()); !set)
            return set;
        if (auto opened = kept->open(); !opened)
            return opened;
        network_ = std::move(kept);
        return Done{};
    }
    kept.reset();
    auto port = std::make_unique<NetworkPort>(address.value());
    port->setConnectTimeoutMs(connectTimeoutMs_);
    port->setStopQuery(stopQuery());
    port->setLabel(describe());
    if (auto set = port->setSettings(settings()); !set)
        return set;
    if (auto opened = port->open(); !opened)
        return opened;
    network_ = std::move(port);
    return Done{};
}

LinkError TermiosPort::systemError(std::string operation, int err) const {
    LinkError::Kind kind = isHangup(err) ? LinkError::Kind::Vanished : LinkError::Kind::Io;
    std::string reason = systemErrorText(err);
    if (kind == LinkError::Kind::Vanished) {
        reason = "el dispositivo ya no responde (¿se desconectó el adaptador?): " + reason;
    }
    return error(kind, std::move(operation), std::move(reason));
}

LinkStatus TermiosPort::open() {
    if (portOpen())
        return Done{};
    // Looked up at every open: an adapter plugged in again works at once.
    bool kernelRs485 = kernelRs485Wanted_;
    std::string path;
    std::optional<MappedDevice> mappedAs;
    if (devicePath_) {
        path = *devicePath_;
    } else {
        auto mapped = portMap().resolve(commPort());
        if (!mapped)
            return error(LinkError::Kind::NoSuchPort, "abrir", mapped.error());
        mappedAs = mapped.value();
        path = mappedAs->path;
        kernelRs485 = kernelRs485 || mappedAs->kernelRs485;
    }
    if (!net::looksLikeServerAddress(path))
        network_.reset();  // a local device now: the server is let go
    else {
        openedAs_ = mappedAs;
        auto opened = openNetwork(path);
        if (!opened)
            openedAs_.reset();
        return opened;
    }
    // O_NOCTTY: the port must never become our controlling terminal.
    // O_NONBLOCK: a port without carrier must not hang the open, and reads
    // must return at once with whatever has arrived.
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        const int err = errno;
        switch (err) {
            case ENOENT:
            case ENXIO:
            case ENODEV:
                return error(
                    LinkError::Kind::NoSuchPort, "abrir",
                    "no existe ese puerto (" + std::string(std::strerror(err)) + "); " +
                        (devicePath_ ? std::string("compruebe la ruta del dispositivo")
                                     : "elija otro o asigne MARVALO_COM" +
                                           std::to_string(commPort()) + " al dispositivo"));
            case EACCES:
            case EPERM:
                return error(LinkError::Kind::NoPermission, "abrir", permissionHint(path));
            case EBUSY:
                return error(LinkError::Kind::Busy, "abrir",
                             "el puerto está en uso por otro programa");
            default:
                return systemError("abrir", err);
        }
    }
    if (!::isatty(fd.get())) {
        return error(LinkError::Kind::NotASerialPort, "abrir", path + " no es un puerto serie");
    }
    // Root ignores TIOCEXCL, so an advisory lock refuses a second panel too.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return error(LinkError::Kind::Busy, "abrir", "el puerto está en uso por otro programa");
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        return systemError("abrir", errno);
    }
    struct termios saved {};
    if (::tcgetattr(fd.get(), &saved) != 0) {
        return systemError("leer la configuración de", errno);
    }
    fd_ = std::move(fd);
    saved_ = saved;
    openedAs_ = mappedAs;
    if (auto applied = applyLine(line()); !applied) {
        close();
        return applied;
    }
    pendingMark_.clear();
    if (::tcflush(fd_.get(), TCIOFLUSH) != 0) {
        const LinkError failure = systemError("vaciar", errno);
        close();
        return failure;
    }
    // Linux raises RTS (and DTR) on every open, and some instruments and
    // converters read RTS as "the PC is sending". RTS rests low; only an
    // RS485 exchange raises it around its write. DTR stays as the kernel
    // sets it: isolated interfaces draw their power from it. A port without
    // modem lines (a pty, some USB adapters) has nothing to lower.
    const int rts = TIOCM_RTS;
    if (::ioctl(fd_.get(), TIOCMBIC, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
        const LinkError failure = systemError("desactivar RTS en", errno);
        close();
        return failure;
    }
    if (kernelRs485) {
        if (auto switched = enableKernelRs485(); !switched) {
            close();
            return switched;
        }
    }
    if (lowLatencyWanted_)
        enableLowLatency();
    return Done{};
}

LinkStatus TermiosPort::enableKernelRs485() {
    auto call = [this](unsigned long request, struct serial_rs485 *settings) {
        return rs485Call_ ? rs485Call_(fd_.get(), request, settings)
                          : ::ioctl(fd_.get(), request, settings);
    };
    struct serial_rs485 before {};
    if (call(TIOCGRS485, &before) != 0) {
        const int err = errno;
        if (err == ENOTTY || err == EINVAL) {
            return error(LinkError::Kind::NoRts, "activar el RS485 del núcleo en",
                         "su controlador no sabe cambiar el sentido de un transceptor RS485 (" +
                             std::string(std::strerror(err)) +
                             "); quite \"RS485 del núcleo\" de este número: si el adaptador "
                             "cambia de sentido por sí mismo, úselo como RS232, y si no, use el "
                             "RTS temporizado del panel");
        }
        return systemError("activar el RS485 del núcleo en", err);
    }
    // Only the switch: which level of RTS means "sending" and the delays
    // are the board's wiring (rs485-rts-active-low in its device tree), and
    // the driver already knows them.
    struct serial_rs485 wanted = before;
    wanted.flags |= SER_RS485_ENABLED;
    if (call(TIOCSRS485, &wanted) != 0)
        return systemError("activar el RS485 del núcleo en", errno);
    rs485Saved_ = before;
    return Done{};
}

void TermiosPort::enableLowLatency() {
    // USB adapters hold received bytes up to their latency timer (16 ms on
    // ftdi_sio) unless asked otherwise; drivers without the flag refuse,
    // and that is no failure.
    struct serial_struct serial {};
    if (::ioctl(fd_.get(), TIOCGSERIAL, &serial) != 0)
        return;
    const int before = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd_.get(), TIOCSSERIAL, &serial) == 0)
        serialFlagsSaved_ = before;
}

void TermiosPort::close() {
    if (network_) {
        network_->close();
        openedAs_.reset();
    }
    if (!fd_.valid())
        return;
    if (saved_) {
        // Hand the port back as we found it; TCSANOW so an unplugged adapter
        // cannot hold the close up.
        ::tcsetattr(fd_.get(), TCSANOW, &*saved_);
    }
    if (rs485Saved_) {
        if (rs485Call_)
            rs485Call_(fd_.get(), TIOCSRS485, &*rs485Saved_);
        else
            ::ioctl(fd_.get(), TIOCSRS485, &*rs485Saved_);
    }
    if (serialFlagsSaved_) {
        struct serial_struct serial {};
        if (::ioctl(fd_.get(), TIOCGSERIAL, &serial) == 0) {
            serial.flags = *serialFlagsSaved_;
            ::ioctl(fd_.get(), TIOCSSERIAL, &serial);
        }
    }
    rs485Saved_.reset();
    serialFlagsSaved_.reset();
    openedAs_.reset();
    // Exclusive mode outlives our descriptor while anyone else holds the
    // tty (a simulator keeps its pty open), so give it up explicitly.
    ::ioctl(fd_.get(), TIOCNXCL);
    saved_.reset();
    fd_.reset();  // closing also releases the flock
    pendingMark_.clear();
}

LinkStatus TermiosPort::applyLine(const LineSettings &line) {
    if (network_)
        return network_->applyLineNow(line);
    struct termios tio {};
    if (::tcgetattr(fd_.get(), &tio) != 0) {
        return systemError("configurar", errno);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSIZE | PARENB | PARODD | CSTOPB);
    tio.c_cflag |= line.dataBits == 7 ? CS7 : CS8;
    if (line.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR | ISTRIP);
    if (line.parity != LineSettings::Parity::None) {
        tio.c_cflag |= PARENB;
        if (line.parity == LineSettings::Parity::Odd)
            tio.c_cflag |= PARODD;
        // Mark bad bytes so they can be shown as "?" instead of passing as
        // good data. Setting INPCK with PARENB also keeps glibc from refusing
        // the change on a pty.
        tio.c_iflag |= INPCK | PARMRK;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    // Any other rate goes through termios2 once the rest is set; until then
    // the line keeps the rate it had.
    const std::optional<unsigned> standard = standardSpeedCode(line.baud);
    if (standard && (::cfsetispeed(&tio, *standard) != 0 || ::cfsetospeed(&tio, *standard) != 0))
        return systemError("configurar", errno);
    if (::tcsetattr(fd_.get(), TCSANOW, &tio) != 0)
        return systemError("configurar", errno);
    return standard ? LinkStatus(Done{}) : applyCustomSpeed(line.baud);
}

LinkStatus TermiosPort::applyCustomSpeed(int baud) {
    const LineSpeed set = setCustomSpeed(fd_.get(), baud);
    if (set.error == EINVAL || set.error == ENOTTY) {
        return error(LinkError::Kind::BadSettings, "configurar",
                     "su controlador no acepta la velocidad a medida de " + std::to_string(baud) +
                         " baudios (" + std::strerror(set.error) +
                         "); use una de termios: 300 a 921600");
    }
    if (set.error != 0)
        return systemError("configurar", set.error);
    if (!speedClose(set.baud, baud)) {
        return error(LinkError::Kind::BadSettings, "configurar",
                     "su controlador pone " + std::to_string(set.baud) + " baudios al pedirle " +
                         std::to_string(baud) +
                         ", más de un 2 % de diferencia: la unidad no "
                         "entendería los caracteres");
    }
    return Done{};
}

LinkStatus TermiosPort::setRts(bool raised) {
    if (network_)
        return network_->setRts(raised);
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "cambiar RTS en", "el puerto está cerrado");
    const int rts = TIOCM_RTS;
    if (::ioctl(fd_.get(), raised ? TIOCMBIS : TIOCMBIC, &rts) != 0) {
        const int err = errno;
        if (err == ENOTTY || err == EINVAL) {
            return error(LinkError::Kind::NoRts, raised ? "activar RTS en" : "desactivar RTS en",
                         "el dispositivo no tiene línea RTS; RS485 necesita un adaptador que la "
                         "maneje, o use RS232");
        }
        return systemError(raised ? "activar RTS en" : "desactivar RTS en", err);
    }
    return Done{};
}

LinkStatus TermiosPort::discardInput() {
    if (network_)
        return network_->discardInput();
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "vaciar la entrada de", "el puerto está cerrado");
    pendingMark_.clear();
    if (::tcflush(fd_.get(), TCIFLUSH) != 0) {
        return systemError("vaciar la entrada de", errno);
    }
    return Done{};
}

LinkStatus TermiosPort::write(const Bytes &request) {
    if (network_)
        return network_->write(request);
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "escribir en", "el puerto está cerrado");
    // Generous bound: twice the time the bytes take on the wire, plus 2 s.
    const long limitMs = 2000 + 2000L * static_cast<long>(request.size()) / bytesPerSecond(line());
    std::size_t written = 0;
    while (written < request.size()) {
        const ssize_t n = ::write(fd_.get(), request.data() + written, request.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            return systemError("escribir en", errno);
        }
        struct pollfd ready {
            fd_.get(), POLLOUT, 0
        };
        const int polled = ::poll(&ready, 1, static_cast<int>(limitMs));
        if (polled == 0) {
            return error(LinkError::Kind::Io, "escribir en",
                         "se enviaron " + std::to_string(written) + " de " +
                             std::to_string(request.size()) +
                             " bytes y el puerto dejó de aceptar datos");
        }
        if (polled < 0 && errno != EINTR)
            return systemError("escribir en", errno);
        if (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            return systemError("escribir en", EIO);
        }
    }
    return Done{};
}

LinkStatus TermiosPort::drain() {
    if (network_)
        return network_->drain();
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "terminar de enviar por", "el puerto está cerrado");
    while (::tcdrain(fd_.get()) != 0) {
        if (errno != EINTR)
            return systemError("terminar de enviar por", errno);
    }
    return Done{};
}

Result<bool, LinkError> TermiosPort::waitForInput(std::int64_t timeoutUs) {
    if (network_)
        return network_->waitForInput(timeoutUs);
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "esperar datos de", "el puerto está cerrado");
    // The kernel lets a poll oversleep by 0.1 % of its timeout to batch
    // wake-ups: 0.3 ms on a 317 ms wait. So wait most of it first and then
    // the short rest, whose slack is negligible (ppoll, not poll: the rest
    // is below a millisecond).
    constexpr std::int64_t kSlackShare = 256;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeoutUs);
    std::int64_t stepUs = timeoutUs - timeoutUs / kSlackShare;
    while (true) {
        constexpr std::int64_t kUsPerSecond = 1'000'000;
        const struct timespec step {
            static_cast<time_t>(stepUs / kUsPerSecond),
                static_cast<long>(stepUs % kUsPerSecond) * 1000
        };
        struct pollfd ready {
            fd_.get(), POLLIN, 0
        };
        const int polled = ::ppoll(&ready, 1, &step, nullptr);
        if (polled < 0 && errno != EINTR)
            return systemError("esperar datos de", errno);
        if (polled > 0) {
            // A reply sent just before the peer hung up is still read first.
            if (ready.revents & POLLIN)
                return true;
            return systemError("esperar datos de", EIO);
        }
        stepUs = std::chrono::duration_cast<std::chrono::microseconds>(
                     deadline - std::chrono::steady_clock::now())
                     .count();
        if (stepUs <= 0)
            return false;
    }
}

Result<Bytes, LinkError> TermiosPort::readAvailable() {
    if (network_)
        return network_->readAvailable();
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "leer de", "el puerto está cerrado");
    Bytes raw;
    std::uint8_t chunk[4096];
    // A peer that streams faster than we read would keep this loop going
    // for ever; what is left waits for the next call.
    constexpr std::size_t kMostPerCall = 64 * 1024;
    while (raw.size() < kMostPerCall) {
        const ssize_t n = ::read(fd_.get(), chunk, sizeof chunk);
        if (n > 0) {
            raw.insert(raw.end(), chunk, chunk + n);
            continue;
        }
        if (n == 0) {
            // Raw mode with VMIN = VTIME = 0 reads 0 both for "nothing yet"
            // and for a hung-up tty (an unplugged USB adapter); poll tells.
            struct pollfd state {
                fd_.get(), POLLIN, 0
            };
            if (::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                return systemError("leer de", EIO);
            }
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            break;
        return systemError("leer de", errno);
    }
    if (line().parity == LineSettings::Parity::None) {
        return raw;
    }
    return unmarkParityErrors(pendingMark_, raw);
}

}  // namespace marvalo
