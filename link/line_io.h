#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/frames/bytes.h"
#include "link/line_settings.h"
#include "link/line_target.h"
#include "link/link_error.h"

namespace marvalo {

// What moves bytes on a line, wherever it leads: open and close, the RTS
// line, discarding input, writing, draining, waiting and reading. Every
// operation that can fail says so as a value naming the line.
class LineTransfer {
  public:
    virtual ~LineTransfer() = default;
    LineTransfer() = default;
    LineTransfer(const LineTransfer &) = delete;
    LineTransfer &operator=(const LineTransfer &) = delete;

    virtual bool portOpen() const = 0;
    virtual LinkStatus open() = 0;
    virtual void close() = 0;
    virtual LinkStatus setRts(bool raised) = 0;
    // Everything received and not yet read is thrown away.
    virtual LinkStatus discardInput() = 0;
    // The whole request, or the reason it could not all be written.
    virtual LinkStatus write(const Bytes &request) = 0;
    // Returns once the written bytes have left the transmitter.
    virtual LinkStatus drain() = 0;
    // Blocks until input is waiting (true) or `timeoutUs` has passed (false).
    virtual Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) = 0;
    // The bytes received so far, possibly none, at most 64 KiB a call (the
    // rest stays for the next); never waits.
    virtual Result<Bytes, LinkError> readAvailable() = 0;
    // What the line did on its own that the exchange's record must say,
    // beside its verdict (a server connection found closed and opened
    // again); given once.
    virtual std::optional<std::string> takeNotice() { return std::nullopt; }
};

// One line's backend, whatever carries it: a tty through termios or a
// serial server over TCP. A backend is made for one resolved line and never
// changes where it leads; the port above it replaces it when the line a
// COM number means changes.
class LineIo : public LineTransfer {
  public:
    // "local", "rfc2217" or "socket": what the records say the line is.
    virtual std::string kind() const = 0;
    // How messages and records name the line.
    virtual std::string describe() const = 0;
    // The value this exchange resolved for the same line (sameLine): the
    // port above hands it over whole to a line it keeps, so its name, its
    // number and the advice built from them are this exchange's.
    virtual void retarget(const LineTarget &target) = 0;
    // The settings as records show them when `asked` was asked for: a raw
    // TCP server runs its own.
    virtual std::string recordedSettings(const std::string &asked) const = 0;
    // True when the driver switches the RS485 transceiver itself.
    virtual bool kernelSwitchesRs485() const { return false; }
    // In force from now: applied at once when open, else at the next open.
    virtual LinkStatus applySettings(const LineSettings &line) = 0;
};

}  // namespace marvalo
