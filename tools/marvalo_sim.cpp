// marvalo-sim: plays an instrument on a serial line, so the panel can be
// shown, tested and benchmarked without hardware.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/text/suggestion.h"
#include "core/version.h"
#include "link/termios_port.h"
#include "os/file_descriptor.h"
#include "tools/faults.h"
#include "tools/instrument.h"

namespace {

using namespace marvalo;

constexpr int kExitUsage = 64;

constexpr const char *kHelp =
    "Usage: marvalo-sim [--device PATH] [--settings \" 9600,n,8,1\"] [--address NN] [FAULTS] "
    "[--log]\n"
    "\n"
    "Plays a Marvalo-compatible instrument. Without --device it opens a\n"
    "pseudo-terminal pair and prints, as the first line of its output, the path\n"
    "the panel should use (MARVALO_COM1=that-path marvalo). With --device it\n"
    "serves a real serial port at --settings (default \" 9600,n,8,1\").\n"
    "\n"
    "It answers at --address (default 01), in all three protocols: Korvel\n"
    "*01D<CR> with 01D+0023.4<CR> (V the version, A the address, else ?);\n"
    "ISO 1745 0D with STX 0D+0023.4 ETX BCC (a wrong BCC gets NAK); Modbus RTU\n"
    "through libmodbus, holding register n holding n and input register n\n"
    "holding 1000 + n (n < 600), with 256 coils, but for 500..511, which hold\n"
    "values for the 32-bit and signed formats (32-bit ones high word first):\n"
    "  500 u32 3000000366     502 u32 4294967295     504 s32 -2147483648\n"
    "  506 f32 20 +/- 5, a sine, and 508 s16 +/-1000, a sine, one step of 40\n"
    "      to a wave with every Modbus request answered\n"
    "  509 s16 -1234          510 u32 a counter from 3000000000, one up with\n"
    "      every Modbus request answered\n"
    "(marvalo-send ... modbus --start 500 --words 12 --registers u32).\n"
    "A Modbus frame too short for its function is not answered; one whose\n"
    "counts disagree with its length gets exception 03. A line that sends more\n"
    "than 4096 bytes without a pause is not answered.\n"
    "\n"
    "Faults, for tests and demonstrations (all combine with --drop-every):\n"
    "  --silent            never answer\n"
    "  --delay MS          answer MS milliseconds late\n"
    "  --drop-every N      leave every Nth request unanswered\n"
    "  --echo              send the request back before the answer, as 2-wire\n"
    "                      RS485 adapters do\n"
    "  --exception CODE    Modbus: answer with exception CODE (1..255); ISO 1745:\n"
    "                      answer NAK\n"
    "  --bad-check         damage the Modbus CRC or the ISO 1745 BCC\n"
    "  --short N           send only the first N bytes of each answer\n"
    "  --wrong-address     answer as the next address up\n"
    "  --stray HEX         send these bytes (\"14DA3E\") before each answer\n"
    "  --slow MS           pause MS milliseconds between the answer's bytes\n"
    "  --fault-every N     apply the faults above to every Nth answer only\n"
    "\n"
    "Output:\n"
    "  --log               print each request and answer in hex with a timestamp\n"
    "\n"
    "Exit status: 1 the line could not be opened or failed; 64 the command\n"
    "line is wrong. Otherwise it serves until it is stopped.\n";

struct Options {
    std::optional<std::string> device;
    std::string settings = " 9600,n,8,1";
    int address = 1;
    bool silent = false;
    int delayMs = 0;
    int dropEvery = 0;
    bool echo = false;
    bool log = false;
    int slowMs = 0;
    int faultEvery = 1;
    Faults faults;
};

int usage(const std::string &problem) {
    std::cerr << "marvalo-sim: " << problem << "\n\n" << kHelp;
    return kExitUsage;
}

std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    char text[32];
    std::strftime(text, sizeof text, "%H:%M:%S", std::localtime(&seconds));
    char withMs[40];
    std::snprintf(withMs, sizeof withMs, "%s.%03d", text, static_cast<int>(ms.count()));
    return withMs;
}

// The two ends the simulator can serve: the controller side of its own
// pty, or a real port through the same termios layer the panel uses.
struct Line {
    int fd = -1;
    TermiosPort *port = nullptr;

    bool read(Bytes &into) {
        if (port != nullptr) {
            auto got = port->readAvailable();
            if (!got) {
                std::cerr << "marvalo-sim: " << got.error().message() << "\n";
                return false;
            }
            into.insert(into.end(), got.value().begin(), got.value().end());
            return true;
        }
        std::uint8_t chunk[1024];
        constexpr std::size_t kMostPerCall = 64 * 1024;  // a flood must not keep us here
        for (std::size_t taken = 0; taken < kMostPerCall;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0) {
                into.insert(into.end(), chunk, chunk + n);
                taken += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return true;
            // EIO: nobody holds the other end. We keep it open ourselves, so
            // this only happens when the pty is torn down.
            return n < 0 && errno == EIO;
        }
        return true;
    }

    bool write(const Bytes &bytes) {
        if (port != nullptr) {
            auto written = port->write(bytes);
            if (!written)
                std::cerr << "marvalo-sim: " << written.error().message() << "\n";
            return written.ok();
        }
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                return false;
            }
        }
        return true;
    }
};

// A request ends when the line has been quiet for four character times
// (Modbus RTU asks for 3.5), never less than 5 ms.
int frameGapMs(const LineSettings &line) {
    const int bitsPerChar = 10 + (line.parity == LineSettings::Parity::None ? 0 : 1);
    return std::max(5, 4 * bitsPerChar * 1000 / line.baud + 1);
}

int serve(Line &line, const Options &options, const LineSettings &settings) {
    Instrument instrument(options.address);
    const int gapMs = frameGapMs(settings);
    long requests = 0;
    long answers = 0;
    while (true) {
        struct pollfd ready {
            line.fd, POLLIN, 0
        };
        if (::poll(&ready, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("marvalo-sim: poll");
            return 1;
        }
        // A line that never falls quiet is no request: what is kept of it is
        // bounded (the longest Modbus frame is 256 bytes) and the rest is
        // read and dropped, so a flood costs no memory.
        constexpr std::size_t kMaxRequestBytes = 4096;
        Bytes request;
        bool overflowed = false;
        do {
            Bytes arrived;
            if (!line.read(arrived))
                return 1;
            const std::size_t room = kMaxRequestBytes - request.size();
            overflowed = overflowed || arrived.size() > room;
            request.insert(
                request.end(), arrived.begin(),
                arrived.begin() + static_cast<std::ptrdiff_t>(std::min(room, arrived.size())));
            ready.revents = 0;
        } while (::poll(&ready, 1, gapMs) > 0);
        if (overflowed) {
            if (options.log)
                std::cout << timestamp() << " <- (more than " << kMaxRequestBytes
                          << " bytes without a pause: not answered)" << std::endl;
            continue;
        }
        if (request.empty()) {
            // Hang-up without data: wait for the other end to come back.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        ++requests;
        if (options.log)
            std::cout << timestamp() << " <- " << toHex(request) << std::endl;
        if (options.echo && !line.write(request))
            return 1;

        std::optional<Bytes> reply = instrument.answer(request);
        const bool dropped = options.dropEvery > 0 && requests % options.dropEvery == 0;
        if (!reply || options.silent || dropped) {
            if (options.log) {
                std::cout << timestamp() << " -- " << (reply ? "(held back)" : "(no answer)")
                          << std::endl;
            }
            continue;
        }
        if (options.delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options.delayMs));
        }
        ++answers;
        if (answers % options.faultEvery == 0)
            reply = options.faults.apply(request, std::move(*reply));
        if (options.slowMs > 0) {
            for (std::size_t i = 0; i < reply->size(); ++i) {
                if (i > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(options.slowMs));
                if (!line.write(Bytes{(*reply)[i]}))
                    return 1;
            }
        } else if (!line.write(*reply)) {
            return 1;
        }
        if (options.log)
            std::cout << timestamp() << " -> " << toHex(*reply) << std::endl;
    }
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        if (name == "--help" || name == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if (name == "--version") {
            std::cout << "marvalo-sim " << kVersion << "\n";
            return 0;
        } else if (name == "--silent") {
            options.silent = true;
        } else if (name == "--echo") {
            options.echo = true;
        } else if (name == "--log") {
            options.log = true;
        } else if (name == "--device") {
            const char *path = value();
            if (path == nullptr)
                return usage("--device necesita una ruta");
            options.device = path;
        } else if (name == "--settings") {
            const char *text = value();
            if (text == nullptr)
                return usage("--settings necesita un texto como \" 9600,n,8,1\"");
            options.settings = text;
        } else if (name == "--address") {
            const char *text = value();
            const auto address = text ? parseDecimalIn(text, 0, 99) : std::nullopt;
            if (!address)
                return usage("--address admite un número de 00 a 99");
            options.address = static_cast<int>(*address);
        } else if (name == "--delay") {
            const char *text = value();
            const auto delay = text ? parseDecimalIn(text, 0, 60000) : std::nullopt;
            if (!delay)
                return usage("--delay admite milisegundos de 0 a 60000");
            options.delayMs = static_cast<int>(*delay);
        } else if (name == "--drop-every") {
            const char *text = value();
            const auto every = text ? parseDecimalIn(text, 1, 1000000) : std::nullopt;
            if (!every)
                return usage("--drop-every admite un número de peticiones, de 1 en adelante");
            options.dropEvery = static_cast<int>(*every);
        } else if (name == "--bad-check") {
            options.faults.badCheck = true;
        } else if (name == "--wrong-address") {
            options.faults.wrongAddress = true;
        } else if (name == "--exception") {
            const char *text = value();
            const auto code = text ? parseDecimalIn(text, 1, 255) : std::nullopt;
            if (!code)
                return usage("--exception admite un código de excepción Modbus de 1 a 255");
            options.faults.exception = static_cast<std::uint8_t>(*code);
        } else if (name == "--short") {
            const char *text = value();
            const auto count = text ? parseDecimalIn(text, 0, 100000) : std::nullopt;
            if (!count)
                return usage("--short admite un número de bytes, de 0 en adelante");
            options.faults.shortTo = static_cast<std::size_t>(*count);
        } else if (name == "--fault-every") {
            const char *text = value();
            const auto every = text ? parseDecimalIn(text, 1, 1000000) : std::nullopt;
            if (!every)
                return usage("--fault-every admite un número de respuestas, de 1 en adelante");
            options.faultEvery = static_cast<int>(*every);
        } else if (name == "--slow") {
            const char *text = value();
            const auto pause = text ? parseDecimalIn(text, 0, 10000) : std::nullopt;
            if (!pause)
                return usage("--slow admite milisegundos de 0 a 10000");
            options.slowMs = static_cast<int>(*pause);
        } else if (name == "--stray") {
            const char *text = value();
            const auto bytes = text ? bytesFromHexText(text) : std::nullopt;
            if (!bytes)
                return usage("--stray admite bytes en hex, como 14DA3E o \"14 DA 3E\"");
            options.faults.stray = *bytes;
        } else {
            return usage("opción desconocida '" + safeText(name) + "'" +
                         suggestion(name, optionNames(kHelp)));
        }
    }
    const auto settings = parseLineSettings(options.settings);
    if (!settings)
        return usage(settings.error());

    if (options.device) {
        TermiosPort port;
        port.setDevicePath(*options.device);
        if (auto set = port.setSettings(options.settings); !set)
            return usage(set.error().message());
        if (auto opened = port.open(); !opened) {
            std::cerr << "marvalo-sim: " << opened.error().message() << "\n";
            return 1;
        }
        std::cout << *options.device << std::endl;
        Line line{port.fd(), &port};
        return serve(line, options, settings.value());
    }

    int controller = -1;
    int device = -1;
    char name[256] = {};
    if (::openpty(&controller, &device, name, nullptr, nullptr) != 0) {
        std::perror("marvalo-sim: openpty");
        return 1;
    }
    FileDescriptor controllerEnd(controller);
    // Holding the device end ourselves keeps the pty alive between the
    // panel's exchanges, which close and reopen it.
    FileDescriptor deviceEnd(device);
    struct termios raw {};
    ::tcgetattr(device, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(device, TCSANOW, &raw);
    ::fcntl(controller, F_SETFL, ::fcntl(controller, F_GETFL) | O_NONBLOCK);
    std::cout << name << std::endl;
    Line line{controller, nullptr};
    return serve(line, options, settings.value());
}
