#pragma once

#include <linux/serial.h>
#include <termios.h>

#include <memory>
#include <optional>

#include "link/network_port.h"
#include "link/serial_port.h"
#include "os/file_descriptor.h"

namespace marvalo {

// The serial port on a POSIX tty through termios: raw 8-bit bytes, no flow
// control, the port held exclusively while open and its previous line
// settings given back on close. A device that is a serial server's address
// (rfc2217://, socket://), given or mapped, opens a NetworkPort instead and
// every call goes to it, so the panel, the tools and the plans reach
// servers through the one port they already hold.
class TermiosPort final : public SerialPort {
  public:
    TermiosPort() = default;
    ~TermiosPort() override;

    // The device path can be given directly (tests, the simulator);
    // otherwise COM n maps to a path through port_names.
    void setDevicePath(std::string path) { devicePath_ = std::move(path); }
    // Ask the driver to switch an RS485 transceiver (TIOCSRS485) at every
    // open, whatever the port map says; refused by most USB adapters.
    void setKernelRs485(bool wanted) { kernelRs485Wanted_ = wanted; }
    // Ask USB adapters to hand bytes over at once (ASYNC_LOW_LATENCY) while
    // open; the old flags come back on close.
    void setLowLatency(bool wanted) { lowLatencyWanted_ = wanted; }
    bool kernelSwitchesRs485() const override;
    std::string devicePath() const override;
    std::string describe() const override;
    std::string kind() const override;
    std::string recordedSettings() const override;
    // Bounds connecting to a serial server and every wait on its answers.
    void setConnectTimeoutMs(int ms) { connectTimeoutMs_ = ms; }

    bool portOpen() const override { return fd_.valid() || (network_ && network_->portOpen()); }
    LinkStatus open() override;
    void close() override;
    LinkStatus setRts(bool raised) override;
    LinkStatus discardInput() override;
    LinkStatus write(const Bytes &request) override;
    LinkStatus drain() override;
    Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) override;
    Result<Bytes, LinkError> readAvailable() override;

    // The driver's RS485 settings are read and written through this call
    // (TIOCGRS485, TIOCSRS485); ptys have none, so a test hands over a
    // driver's answer here.
    using Rs485Call = int (*)(int fd, unsigned long request, struct serial_rs485 *settings);
    void setRs485Call(Rs485Call call) { rs485Call_ = call; }

    // The descriptor, for the simulator's poll loop.
    int fd() const { return fd_.get(); }

  protected:
    LinkStatus applyLine(const LineSettings &line) override;

  private:
    LinkError systemError(std::string operation, int err) const;
    LinkStatus applyCustomSpeed(int baud);
    LinkStatus enableKernelRs485();
    LinkStatus openNetwork(const std::string &address);
    void enableLowLatency();

    std::optional<std::string> devicePath_;
    FileDescriptor fd_;
    std::optional<struct termios> saved_;
    Bytes pendingMark_;  // a parity mark cut in two by the end of a read
    bool kernelRs485Wanted_ = false;
    bool lowLatencyWanted_ = false;
    std::optional<struct serial_rs485> rs485Saved_;  // given back on close
    Rs485Call rs485Call_ = nullptr;                  // null: the real ioctl
    std::optional<int> serialFlagsSaved_;
    std::optional<MappedDevice> openedAs_;
    std::unique_ptr<NetworkPort> network_;  // while open through a serial server
    int connectTimeoutMs_ = kDefaultConnectTimeoutMs;
};

}  // namespace marvalo
