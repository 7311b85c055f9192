#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "link/sleeper.h"

namespace marvalo {

// One ordered record of what the exchange did to the port and the clock,
// in a form a test can compare in one line: "open", "clear", "rts on",
// "write 2A 30 31 44 0D", "sleep 50", "drain", "rts off", "read", "close",
// "apply settings" (new line settings while open). It also holds the fake
// time, so the fake port and sleeper it is shared by agree on the clock.
struct OperationLog : std::vector<std::string> {
    using std::vector<std::string>::vector;
    std::int64_t nowUs = 0;
};

// Part of a reply that reaches the port `afterMs` after the request was
// written.
struct TimedBytes {
    int afterMs;
    Bytes bytes;
};

// A port that records every operation, can be told to refuse any of them,
// and hands back prepared replies.
class FakePort final : public SerialPort {
  public:
    enum class Op { Open, Rts, Clear, Write, Drain, Wait, Read, Settings };

    explicit FakePort(OperationLog &log) : log_(log) {}

    // The next read after a write finds this reply.
    void queueReply(Bytes reply) { replies_.push_back(std::move(reply)); }
    // The next write is answered piece by piece, in fake time.
    void queueTimedReply(std::vector<TimedBytes> pieces) { timedReply_ = std::move(pieces); }
    // Bytes that are waiting before the exchange starts (stale input).
    void receiveNow(const Bytes &bytes) { input_.insert(input_.end(), bytes.begin(), bytes.end()); }
    // 2-wire RS485 adapters hear their own request.
    void echoWrites(bool echo) { echo_ = echo; }
    void failNext(Op op, LinkError::Kind kind) { failures_[op] = kind; }
    bool rtsRaised() const { return rts_; }
    // As a driver that switches the RS485 transceiver itself.
    void switchRs485InKernel(bool on) { kernelRs485_ = on; }
    bool kernelSwitchesRs485() const override { return kernelRs485_ && open_; }

    std::string describe() const override {
        return "COM " + std::to_string(commPort()) + " (fake)";
    }
    bool portOpen() const override { return open_; }
    LinkStatus open() override;
    void close() override;
    LinkStatus setRts(bool raised) override;
    LinkStatus discardInput() override;
    LinkStatus write(const Bytes &request) override;
    LinkStatus drain() override;
    Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) override;
    Result<Bytes, LinkError> readAvailable() override;

  protected:
    LinkStatus applyLine(const LineSettings &line) override;

  private:
    // Logs the operation and hands back the failure prepared for it, if any.
    std::optional<LinkError> record(std::string entry, Op op, const char *operation);

    OperationLog &log_;
    bool open_ = false;
    bool rts_ = false;
    bool echo_ = false;
    bool kernelRs485_ = false;
    bool wroteSinceRead_ = false;
    Bytes input_;
    std::deque<Bytes> replies_;
    std::vector<TimedBytes> timedReply_;
    std::deque<std::pair<std::int64_t, Bytes>> arriving_;  // fake instant, bytes
    std::map<Op, LinkError::Kind> failures_;
};

class FakeSleeper final : public Sleeper {
  public:
    explicit FakeSleeper(OperationLog &log) : log_(log) {}
    void sleepMs(int milliseconds) override {
        log_.push_back("sleep " + std::to_string(milliseconds));
        log_.nowUs += std::int64_t{milliseconds} * 1000;
    }
    std::int64_t steadyUs() const override { return log_.nowUs; }

  private:
    OperationLog &log_;
};

}  // namespace marvalo
