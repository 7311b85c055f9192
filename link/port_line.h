#pragma once

#include <memory>
#include <optional>

#include "link/line_factory.h"
#include "link/serial_port.h"

namespace marvalo {

// The serial port the panel and the tools hold: a COM number (or a device
// given by path) and the settings, above whichever backend carries the
// line. At the start of each exchange the number is resolved once into one
// line; the backend open from the last exchange goes on if it serves that
// same line, and is closed and replaced if not, before anything is written.
// Messages, records and checks name that line, never a second look-up.
class PortLine final : public SerialPort {
  public:
    PortLine() = default;
    ~PortLine() override;

    // The device path can be given directly (tests, the simulator);
    // otherwise COM n maps to a line through the port map.
    void setDevicePath(std::string path) { givenPath_ = std::move(path); }
    void setKernelRs485(bool wanted) { options_.termios.kernelRs485 = wanted; }
    void setLowLatency(bool wanted) { options_.termios.lowLatency = wanted; }
    void setKernelRs485Off(bool wanted) { options_.termios.kernelRs485Off = wanted; }
    void setRs485Call(Rs485Call call) { options_.termios.rs485Call = call; }
    // Bounds connecting to a serial server and every wait on its answers.
    void setConnectTimeoutMs(int ms) { options_.connectTimeoutMs = ms; }

    // The line the current (or last) exchange resolved to, while the number
    // or device it came from is still the one chosen.
    const LineTarget *target() const;

    // Resolves now the line the first exchange is to use, and hands that
    // same resolution to it: what is said and checked before it (a banner,
    // the outputs against the device) names the line it writes to. A
    // failure is the first exchange's failure too, while the number (or
    // device) is still the one it was resolved for. Once a line is held,
    // nothing is resolved ahead: the next exchange looks it up itself, and
    // until then everything names the held line.
    LinkStatus resolveFirstLine();

    // How many times the exchange found a line other than the one held (a
    // new backend): a change tells the exchange after it that the line is
    // new to it, as a check that looks once per line needs to know. The
    // held line opened again after a reply closed it is no change.
    std::uint64_t lineChanges() const override { return lineChanges_; }

    std::string describe() const override;
    std::string kind() const override;
    std::string recordedSettings() const override;
    std::string devicePath() const override;
    bool kernelSwitchesRs485() const override;

    bool portOpen() const override { return backend_ && backend_->portOpen(); }
    LinkStatus prepareExchange() override;
    LinkStatus open() override { return prepareExchange(); }
    void close() override;
    LinkStatus setRts(bool raised) override;
    LinkStatus discardInput() override;
    LinkStatus write(const Bytes &request) override;
    LinkStatus drain() override;
    Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) override;
    Result<Bytes, LinkError> readAvailable() override;
    std::optional<std::string> takeNotice() override {
        return backend_ ? backend_->takeNotice() : std::nullopt;
    }

    // The termios backend's descriptor, -1 for any other.
    int fd() const;

  protected:
    LinkStatus applyLine(const LineSettings &line) override;

  private:
    Result<LineTarget, LinkError> resolve() const;
    LinkError notOpen(const char *operation) const;

    std::optional<std::string> givenPath_;
    LineOptions options_;
    std::optional<LineTarget> target_;
    // Resolved before the first exchange, for it and for the number or
    // device it was resolved from: taken by prepareExchange.
    struct Ahead {
        Result<LineTarget, LinkError> line;
        std::optional<std::string> givenPath;
        int commPort;
    };
    std::optional<Ahead> ahead_;
    bool aheadStillChosen() const;
    std::uint64_t lineChanges_ = 0;
    std::unique_ptr<LineIo> backend_;  // open, closed for reuse (a server kept), or none
};

}  // namespace marvalo
