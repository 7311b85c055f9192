#pragma once

#include <linux/serial.h>
#include <termios.h>

#include <optional>

#include "link/line_io.h"
#include "link/line_target.h"
#include "os/file_descriptor.h"

namespace marvalo {

// The driver's RS485 settings are read and written through this call
// (TIOCGRS485, TIOCSRS485); ptys have none, so a test hands over a
// driver's answer here.
using Rs485Call = int (*)(int fd, unsigned long request, struct serial_rs485 *settings);

struct TermiosOptions {
    // Ask the driver to switch an RS485 transceiver (TIOCSRS485) at every
    // open, whatever the ports table says; refused by most USB adapters.
    bool kernelRs485 = false;
    // Ask USB adapters to hand bytes over at once (ASYNC_LOW_LATENCY) while
    // open; the old flags come back on close.
    bool lowLatency = false;
    // Switch a driver's RS485 mode off at open and leave it off: the way
    // back to a plain line after a run that could not give it back (one
    // ended by SIGKILL).
    bool kernelRs485Off = false;
    Rs485Call rs485Call = nullptr;  // null: the real ioctl
};

// A line on a POSIX tty through termios: raw 8-bit bytes, no flow control,
// the port held exclusively while open and its previous line settings given
// back on close. The node opened must be the device sysfs named for it.
class TermiosLine final : public LineIo {
  public:
    TermiosLine(LineTarget target, const LineSettings &line, TermiosOptions options);
    ~TermiosLine() override;

    std::string kind() const override { return "local"; }
    std::string describe() const override { return target_.label; }
    void retarget(const LineTarget &target) override { target_ = target; }
    std::string recordedSettings(const std::string &asked) const override { return asked; }
    bool kernelSwitchesRs485() const override;

    bool portOpen() const override { return fd_.valid(); }
    LinkStatus open() override;
    void close() override;
    LinkStatus applySettings(const LineSettings &line) override;
    LinkStatus setRts(bool raised) override;
    LinkStatus discardInput() override;
    LinkStatus write(const Bytes &request) override;
    LinkStatus drain() override;
    Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) override;
    Result<Bytes, LinkError> readAvailable() override;

    // The descriptor, for the simulator's poll loop.
    int fd() const { return fd_.get(); }

  private:
    LinkError error(LinkError::Kind kind, std::string operation, std::string reason) const;
    LinkError systemError(std::string operation, int err) const;
    LinkStatus applyNow(const LineSettings &line);
    // A rate termios has no code for, through termios2.
    LinkStatus applyCustomSpeed(int baud);
    LinkStatus checkDeviceNumber(int fd) const;
    int rs485(unsigned long request, struct serial_rs485 *settings) const;
    LinkStatus enableKernelRs485();
    void disableKernelRs485();
    void enableLowLatency();

    LineTarget target_;
    LineSettings line_;  // the settings this line runs at
    TermiosOptions options_;
    FileDescriptor fd_;
    std::optional<struct termios> saved_;
    Bytes pendingMark_;                              // a parity mark cut in two by a read's end
    std::optional<struct serial_rs485> rs485Saved_;  // given back on close
    std::optional<int> serialFlagsSaved_;
};

}  // namespace marvalo
