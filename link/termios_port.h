#pragma once

#include <termios.h>

#include <optional>

#include "link/serial_port.h"
#include "os/file_descriptor.h"

namespace marvalo {

// The serial port on a POSIX tty through termios: raw 8-bit bytes, no flow
// control, the port held exclusively while open and its previous line
// settings given back on close.
class TermiosPort final : public SerialPort {
  public:
    TermiosPort() = default;
    ~TermiosPort() override;

    // The device path can be given directly (tests, the simulator);
    // otherwise COM n maps to a path through port_names.
    void setDevicePath(std::string path) { devicePath_ = std::move(path); }
    std::string devicePath() const;
    std::string describe() const override;

    bool portOpen() const override { return fd_.valid(); }
    LinkStatus open() override;
    void close() override;
    LinkStatus setRts(bool raised) override;
    LinkStatus discardInput() override;
    LinkStatus write(const Bytes &request) override;
    LinkStatus drain() override;
    Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) override;
    Result<Bytes, LinkError> readAvailable() override;

    // The descriptor, for the simulator's poll loop.
    int fd() const { return fd_.get(); }

  protected:
    LinkStatus applyLine(const LineSettings &line) override;

  private:
    LinkError systemError(std::string operation, int err) const;

    std::optional<std::string> devicePath_;
    FileDescriptor fd_;
    std::optional<struct termios> saved_;
    Bytes pendingMark_;  // a parity mark cut in two by the end of a read
};

}  // namespace marvalo
