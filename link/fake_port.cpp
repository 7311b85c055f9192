#include "link/fake_port.h"

#include <algorithm>

namespace marvalo {

std::optional<LinkError> FakePort::record(std::string entry, Op op, const char *operation) {
    log_.push_back(std::move(entry));
    auto failure = failures_.find(op);
    if (failure == failures_.end())
        return std::nullopt;
    const LinkError::Kind kind = failure->second;
    failures_.erase(failure);
    return error(kind, operation, "fallo preparado");
}

LinkStatus FakePort::open() {
    if (auto failure = record("open", Op::Open, "abrir")) {
        return *failure;
    }
    open_ = true;
    return Done{};
}

void FakePort::close() {
    log_.push_back("close");
    open_ = false;
    rts_ = false;
}

LinkStatus FakePort::setRts(bool raised) {
    if (auto failure = record(raised ? "rts on" : "rts off", Op::Rts, "cambiar RTS en")) {
        return *failure;
    }
    rts_ = raised;
    return Done{};
}

LinkStatus FakePort::discardInput() {
    if (auto failure = record("clear", Op::Clear, "vaciar la entrada de")) {
        return *failure;
    }
    input_.clear();
    // What was due by now has arrived, and is thrown away with the rest.
    while (!arriving_.empty() && arriving_.front().first <= log_.nowUs) {
        arriving_.pop_front();
    }
    return Done{};
}

LinkStatus FakePort::write(const Bytes &request) {
    if (auto failure = record("write " + toHex(request), Op::Write, "escribir en")) {
        return *failure;
    }
    if (echo_) {
        receiveNow(request);
    }
    for (auto &piece : timedReply_) {
        arriving_.emplace_back(log_.nowUs + std::int64_t{piece.afterMs} * 1000,
                               std::move(piece.bytes));
    }
    timedReply_.clear();
    wroteSinceRead_ = true;
    return Done{};
}

LinkStatus FakePort::drain() {
    if (auto failure = record("drain", Op::Drain, "terminar de enviar por")) {
        return *failure;
    }
    return Done{};
}

Result<bool, LinkError> FakePort::waitForInput(std::int64_t timeoutUs) {
    if (!input_.empty())
        return true;
    const std::int64_t until = log_.nowUs + timeoutUs;
    const bool arrives = !arriving_.empty() && arriving_.front().first <= until;
    const std::int64_t waitedUs =
        (arrives ? std::max(arriving_.front().first, log_.nowUs) : until) - log_.nowUs;
    const std::string waited = waitedUs % 1000 == 0
                                   ? std::to_string(waitedUs / 1000)
                                   : std::to_string(static_cast<double>(waitedUs) / 1000.0);
    if (auto failure = record("sleep " + waited, Op::Wait, "esperar datos de")) {
        return *failure;
    }
    log_.nowUs += waitedUs;
    if (!arrives)
        return false;
    receiveNow(arriving_.front().second);
    arriving_.pop_front();
    return true;
}

Result<Bytes, LinkError> FakePort::readAvailable() {
    if (auto failure = record("read", Op::Read, "leer de")) {
        return *failure;
    }
    if (wroteSinceRead_ && !replies_.empty()) {
        receiveNow(replies_.front());
        replies_.pop_front();
    }
    wroteSinceRead_ = false;
    Bytes received;
    received.swap(input_);
    return received;
}

LinkStatus FakePort::applyLine(const LineSettings &) {
    if (auto failure = record("apply settings", Op::Settings, "configurar")) {
        return *failure;
    }
    return Done{};
}

}  // namespace marvalo
