#include "link/fake_line_io.h"

#include <algorithm>

namespace marvalo {

std::optional<LinkError> FakeLineIo::record(std::string entry, FakeLineScript::Op op,
                                            const char *operation) {
    script_.log.push_back(std::move(entry));
    auto failure = script_.failures.find(op);
    if (failure == script_.failures.end())
        return std::nullopt;
    const LinkError::Kind kind = failure->second;
    script_.failures.erase(failure);
    return LinkError{kind, operation, script_.label, "fallo preparado"};
}

LinkStatus FakeLineIo::open() {
    if (auto failure = record("open", FakeLineScript::Op::Open, "abrir")) {
        return *failure;
    }
    script_.open = true;
    return Done{};
}

void FakeLineIo::close() {
    script_.log.push_back("close");
    script_.open = false;
    script_.rts = false;
}

LinkStatus FakeLineIo::setRts(bool raised) {
    if (auto failure =
            record(raised ? "rts on" : "rts off", FakeLineScript::Op::Rts, "cambiar RTS en")) {
        return *failure;
    }
    script_.rts = raised;
    return Done{};
}

LinkStatus FakeLineIo::discardInput() {
    if (auto failure = record("clear", FakeLineScript::Op::Clear, "vaciar la entrada de")) {
        return *failure;
    }
    script_.input.clear();
    // What was due by now has arrived, and is thrown away with the rest.
    while (!script_.arriving.empty() && script_.arriving.front().first <= script_.log.nowUs) {
        script_.arriving.pop_front();
    }
    return Done{};
}

LinkStatus FakeLineIo::write(const Bytes &request) {
    if (auto failure =
            record("write " + toHex(request), FakeLineScript::Op::Write, "escribir en")) {
        return *failure;
    }
    if (script_.echo) {
        script_.receiveNow(request);
    }
    for (auto &piece : script_.timedReply) {
        script_.arriving.emplace_back(script_.log.nowUs + std::int64_t{piece.afterMs} * 1000,
                                      std::move(piece.bytes));
    }
    script_.timedReply.clear();
    script_.wroteSinceRead = true;
    return Done{};
}

LinkStatus FakeLineIo::drain() {
    if (auto failure = record("drain", FakeLineScript::Op::Drain, "terminar de enviar por")) {
        return *failure;
    }
    return Done{};
}

Result<bool, LinkError> FakeLineIo::waitForInput(std::int64_t timeoutUs) {
    if (!script_.input.empty())
        return true;
    const std::int64_t until = script_.log.nowUs + timeoutUs;
    const bool arrives = !script_.arriving.empty() && script_.arriving.front().first <= until;
    const std::int64_t waitedUs =
        (arrives ? std::max(script_.arriving.front().first, script_.log.nowUs) : until) -
        script_.log.nowUs;
    const std::string waited = waitedUs % 1000 == 0
                                   ? std::to_string(waitedUs / 1000)
                                   : std::to_string(static_cast<double>(waitedUs) / 1000.0);
    if (auto failure = record("sleep " + waited, FakeLineScript::Op::Wait, "esperar datos de")) {
        return *failure;
    }
    script_.log.nowUs += waitedUs;
    if (!arrives)
        return false;
    script_.receiveNow(script_.arriving.front().second);
    script_.arriving.pop_front();
    return true;
}

Result<Bytes, LinkError> FakeLineIo::readAvailable() {
    if (auto failure = record("read", FakeLineScript::Op::Read, "leer de")) {
        return *failure;
    }
    if (script_.wroteSinceRead && !script_.replies.empty()) {
        script_.receiveNow(script_.replies.front());
        script_.replies.pop_front();
    }
    script_.wroteSinceRead = false;
    Bytes received;
    received.swap(script_.input);
    return received;
}

LinkStatus FakeLineIo::applySettings(const LineSettings &) {
    // Closed, the settings wait for the open: nothing reaches the line.
    if (!script_.open)
        return Done{};
    if (auto failure = record("apply settings", FakeLineScript::Op::Settings, "configurar")) {
        return *failure;
    }
    return Done{};
}

}  // namespace marvalo
