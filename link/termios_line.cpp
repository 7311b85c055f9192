#include "link/termios_line.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/text/system_error_text.h"
#include "link/parity_marks.h"
#include "os/line_speed.h"
#include "os/write_all.h"

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

TermiosLine::TermiosLine(LineTarget target, const LineSettings &line, TermiosOptions options)
    : target_(std::move(target)), line_(line), options_(options) {}

TermiosLine::~TermiosLine() {
    close();
}

bool TermiosLine::kernelSwitchesRs485() const {
    return fd_.valid() && rs485Saved_.has_value();
}

LinkError TermiosLine::error(LinkError::Kind kind, std::string operation,
                             std::string reason) const {
    return LinkError{kind, std::move(operation), target_.label, std::move(reason)};
}

LinkError TermiosLine::systemError(std::string operation, int err) const {
    LinkError::Kind kind = isHangup(err) ? LinkError::Kind::Vanished : LinkError::Kind::Io;
    std::string reason = systemErrorText(err);
    if (kind == LinkError::Kind::Vanished) {
        reason = "el dispositivo ya no responde (¿se desconectó el adaptador?): " + reason;
    }
    return error(kind, std::move(operation), std::move(reason));
}

LinkStatus TermiosLine::open() {
    if (portOpen())
        return Done{};
    const bool kernelRs485 = options_.kernelRs485 || target_.kernelRs485;
    const std::string &path = target_.path;
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
                return error(LinkError::Kind::NoSuchPort, "abrir",
                             "no existe ese puerto (" + errnoName(err) + "); " +
                                 (!target_.commPort
                                      ? std::string("compruebe la ruta del dispositivo")
                                      : "elija otro o asigne MARVALO_COM" +
                                            std::to_string(*target_.commPort) + " al dispositivo"));
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
    if (auto same = checkDeviceNumber(fd.get()); !same)
        return same;
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
    if (auto applied = applyNow(line_); !applied) {
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
    } else if (options_.kernelRs485Off) {
        disableKernelRs485();
    }
    if (options_.lowLatency)
        enableLowLatency();
    return Done{};
}

int TermiosLine::rs485(unsigned long request, struct serial_rs485 *settings) const {
    return options_.rs485Call ? options_.rs485Call(fd_.get(), request, settings)
                              : ::ioctl(fd_.get(), request, settings);
}

void TermiosLine::disableKernelRs485() {
    struct serial_rs485 now {};
    if (rs485(TIOCGRS485, &now) != 0 || (now.flags & SER_RS485_ENABLED) == 0)
        return;  // no RS485 in the driver, or off already
    now.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
    (void)rs485(TIOCSRS485, &now);
}

LinkStatus TermiosLine::enableKernelRs485() {
    // A driver may refuse to read its RS485 settings or only to change
    // them: either way it cannot switch the transceiver, and the operator
    // needs the same way out.
    auto refusal = [this](int err) {
        if (err != ENOTTY && err != EINVAL && err != EOPNOTSUPP)
            return systemError("activar el RS485 del núcleo en", err);
        return error(LinkError::Kind::NoRts, "activar el RS485 del núcleo en",
                     "su controlador no sabe cambiar el sentido de un transceptor RS485 (" +
                         errnoName(err) +
                         "); quite \"RS485 del núcleo\" de este número: si el adaptador "
                         "cambia de sentido por sí mismo, úselo como RS232, y si no, use el "
                         "RTS temporizado del panel");
    };
    struct serial_rs485 before {};
    if (rs485(TIOCGRS485, &before) != 0)
        return refusal(errno);
    // Only the switch: which level of RTS means "sending" and the delays
    // are the board's wiring (rs485-rts-active-low in its device tree), and
    // the driver already knows them.
    struct serial_rs485 wanted = before;
    wanted.flags |= SER_RS485_ENABLED;
    if (rs485(TIOCSRS485, &wanted) != 0)
        return refusal(errno);
    rs485Saved_ = before;
    return Done{};
}

// The node is opened by name, and a name can lead elsewhere than sysfs
// said (a stale link, a node made by hand, an adapter replugged between
// the look and the open): the descriptor's own device number settles it.
LinkStatus TermiosLine::checkDeviceNumber(int fd) const {
    struct stat opened {};
    if (!target_.deviceNumber)
        return Done{};
    if (::fstat(fd, &opened) != 0)
        return systemError("abrir", errno);
    if (opened.st_rdev == *target_.deviceNumber)
        return Done{};
    auto number = [](dev_t device) {
        return std::to_string(::major(device)) + ":" + std::to_string(::minor(device));
    };
    return error(LinkError::Kind::NoSuchPort, "abrir",
                 target_.path + " es el dispositivo " + number(opened.st_rdev) +
                     ", pero el sistema (sysfs) dice que el adaptador de ese número es el " +
                     number(*target_.deviceNumber) +
                     ": no se abre, para no hablar con otro aparato; vuelva a conectar el "
                     "adaptador o revise " +
                     target_.path);
}

void TermiosLine::enableLowLatency() {
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

void TermiosLine::close() {
    if (!fd_.valid())
        return;
    if (saved_) {
        // Hand the port back as we found it; TCSANOW so an unplugged adapter
        // cannot hold the close up.
        ::tcsetattr(fd_.get(), TCSANOW, &*saved_);
    }
    if (rs485Saved_) {
        (void)rs485(TIOCSRS485, &*rs485Saved_);
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
    // Exclusive mode outlives our descriptor while anyone else holds the
    // tty (a simulator keeps its pty open), so give it up explicitly.
    ::ioctl(fd_.get(), TIOCNXCL);
    saved_.reset();
    fd_.reset();  // closing also releases the flock
    pendingMark_.clear();
}

LinkStatus TermiosLine::applySettings(const LineSettings &line) {
    if (fd_.valid()) {
        if (auto applied = applyNow(line); !applied)
            return applied;
    }
    line_ = line;
    return Done{};
}

LinkStatus TermiosLine::applyNow(const LineSettings &line) {
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

LinkStatus TermiosLine::applyCustomSpeed(int baud) {
    const LineSpeed set = setCustomSpeed(fd_.get(), baud);
    if (set.error == EINVAL || set.error == ENOTTY) {
        return error(LinkError::Kind::BadSettings, "configurar",
                     "su controlador no acepta la velocidad a medida de " + std::to_string(baud) +
                         " baudios (" + errnoName(set.error) +
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

LinkStatus TermiosLine::setRts(bool raised) {
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

LinkStatus TermiosLine::discardInput() {
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "vaciar la entrada de", "el puerto está cerrado");
    pendingMark_.clear();
    if (::tcflush(fd_.get(), TCIFLUSH) != 0) {
        return systemError("vaciar la entrada de", errno);
    }
    return Done{};
}

LinkStatus TermiosLine::write(const Bytes &request) {
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "escribir en", "el puerto está cerrado");
    // Generous bound: twice the time the bytes take on the wire, plus 2 s.
    const long limitMs = 2000 + 2000L * static_cast<long>(request.size()) / bytesPerSecond(line_);
    const os::WriteProgress progress =
        os::writeAll(fd_.get(), request.data(), request.size(),
                     std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs));
    if (progress.timedOut) {
        return error(LinkError::Kind::Io, "escribir en",
                     "se enviaron " + std::to_string(progress.written) + " de " +
                         std::to_string(request.size()) +
                         " bytes y el puerto dejó de aceptar datos");
    }
    if (progress.error != 0)
        return systemError("escribir en", progress.error);
    return Done{};
}

LinkStatus TermiosLine::drain() {
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "terminar de enviar por", "el puerto está cerrado");
    while (::tcdrain(fd_.get()) != 0) {
        if (errno != EINTR)
            return systemError("terminar de enviar por", errno);
    }
    return Done{};
}

Result<bool, LinkError> TermiosLine::waitForInput(std::int64_t timeoutUs) {
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

Result<Bytes, LinkError> TermiosLine::readAvailable() {
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
    if (line_.parity == LineSettings::Parity::None) {
        return raw;
    }
    return unmarkParityErrors(pendingMark_, raw);
}

}  // namespace marvalo
