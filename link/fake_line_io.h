#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/line_io.h"

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

// What a test prepares for the recording line and reads back from it: the
// replies, the failures to hand out, the log. The test's holder owns it;
// the backend the factory makes acts on it.
struct FakeLineScript {
    enum class Op { Open, Rts, Clear, Write, Drain, Wait, Read, Settings };

    explicit FakeLineScript(OperationLog &log) : log(log) {}
    void receiveNow(const Bytes &bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }

    OperationLog &log;
    std::string label;  // how failures name the line
    bool open = false;
    bool rts = false;
    bool echo = false;         // 2-wire RS485 adapters hear their own request
    bool kernelRs485 = false;  // as a driver that switches the transceiver itself
    bool wroteSinceRead = false;
    Bytes input;
    std::deque<Bytes> replies;
    std::vector<TimedBytes> timedReply;
    std::deque<std::pair<std::int64_t, Bytes>> arriving;  // fake instant, bytes
    std::map<Op, LinkError::Kind> failures;
};

// The recording backend, a sibling of the termios and network ones: every
// operation goes to the script's log, can be made to fail, and reads the
// prepared replies in fake time.
class FakeLineIo final : public LineIo {
  public:
    explicit FakeLineIo(FakeLineScript &script) : script_(script) {}

    std::string kind() const override { return "local"; }
    std::string describe() const override { return script_.label; }
    void retarget(const LineTarget &target) override { script_.label = target.label; }
    std::string recordedSettings(const std::string &asked) const override { return asked; }
    bool kernelSwitchesRs485() const override { return script_.kernelRs485 && script_.open; }
    LinkStatus applySettings(const LineSettings &line) override;

    bool portOpen() const override { return script_.open; }
    LinkStatus open() override;
    void close() override;
    LinkStatus setRts(bool raised) override;
    LinkStatus discardInput() override;
    LinkStatus write(const Bytes &request) override;
    LinkStatus drain() override;
    Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) override;
    Result<Bytes, LinkError> readAvailable() override;

  private:
    // Logs the operation and hands back the failure prepared for it, if any.
    std::optional<LinkError> record(std::string entry, FakeLineScript::Op op,
                                    const char *operation);

    FakeLineScript &script_;
};

}  // namespace marvalo
