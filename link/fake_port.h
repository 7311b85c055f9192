#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/fake_line_io.h"
#include "link/serial_port.h"
#include "link/sleeper.h"

namespace marvalo {

// A port that records every operation, can be told to refuse any of them,
// and hands back prepared replies: a holder, as the panel's port is, over
// the recording backend the one factory makes.
class FakePort final : public SerialPort {
  public:
    using Op = FakeLineScript::Op;

    explicit FakePort(OperationLog &log);

    // The next read after a write finds this reply.
    void queueReply(Bytes reply) { script_.replies.push_back(std::move(reply)); }
    // The next write is answered piece by piece, in fake time.
    void queueTimedReply(std::vector<TimedBytes> pieces) { script_.timedReply = std::move(pieces); }
    // Bytes that are waiting before the exchange starts (stale input).
    void receiveNow(const Bytes &bytes) { script_.receiveNow(bytes); }
    // 2-wire RS485 adapters hear their own request.
    void echoWrites(bool echo) { script_.echo = echo; }
    void failNext(Op op, LinkError::Kind kind) { script_.failures[op] = kind; }
    bool rtsRaised() const { return script_.rts; }
    // As a driver that switches the RS485 transceiver itself.
    void switchRs485InKernel(bool on) { script_.kernelRs485 = on; }
    bool kernelSwitchesRs485() const override { return line_->kernelSwitchesRs485(); }

    std::string describe() const override {
        return "COM " + std::to_string(commPort()) + " (fake)";
    }
    bool portOpen() const override { return line_->portOpen(); }
    LinkStatus open() override {
        script_.label = describe();  // the number changes only while closed
        return line_->open();
    }
    void close() override { line_->close(); }
    LinkStatus setRts(bool raised) override { return line_->setRts(raised); }
    LinkStatus discardInput() override { return line_->discardInput(); }
    LinkStatus write(const Bytes &request) override { return line_->write(request); }
    LinkStatus drain() override { return line_->drain(); }
    Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) override {
        return line_->waitForInput(timeoutUs);
    }
    Result<Bytes, LinkError> readAvailable() override { return line_->readAvailable(); }

  protected:
    LinkStatus applyLine(const LineSettings &line) override { return line_->applySettings(line); }

  private:
    FakeLineScript script_;
    std::unique_ptr<LineIo> line_;
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
