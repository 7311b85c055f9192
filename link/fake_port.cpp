#include "link/fake_port.h"

namespace marvalo {

bool FakePort::takeFailure(Op op, LinkError::Kind &kind) {
    auto failure = failures_.find(op);
    if (failure == failures_.end())
        return false;
    kind = failure->second;
    failures_.erase(failure);
    return true;
}

LinkStatus FakePort::open() {
    log_.push_back("open");
    LinkError::Kind kind;
    if (takeFailure(Op::Open, kind)) {
        return error(kind, "abrir", "fallo preparado");
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
    log_.push_back(raised ? "rts on" : "rts off");
    LinkError::Kind kind;
    if (takeFailure(Op::Rts, kind)) {
        return error(kind, "cambiar RTS en", "fallo preparado");
    }
    rts_ = raised;
    return Done{};
}

LinkStatus FakePort::discardInput() {
    log_.push_back("clear");
    LinkError::Kind kind;
    if (takeFailure(Op::Clear, kind)) {
        return error(kind, "vaciar la entrada de", "fallo preparado");
    }
    input_.clear();
    return Done{};
}

LinkStatus FakePort::write(const Bytes &request) {
    log_.push_back("write " + toHex(request));
    LinkError::Kind kind;
    if (takeFailure(Op::Write, kind)) {
        return error(kind, "escribir en", "fallo preparado");
    }
    if (echo_) {
        receiveNow(request);
    }
    wroteSinceRead_ = true;
    return Done{};
}

LinkStatus FakePort::drain() {
    log_.push_back("drain");
    LinkError::Kind kind;
    if (takeFailure(Op::Drain, kind)) {
        return error(kind, "terminar de enviar por", "fallo preparado");
    }
    return Done{};
}

Result<Bytes, LinkError> FakePort::readAvailable() {
    log_.push_back("read");
    LinkError::Kind kind;
    if (takeFailure(Op::Read, kind)) {
        return error(kind, "leer de", "fallo preparado");
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
    LinkError::Kind kind;
    if (takeFailure(Op::Settings, kind)) {
        return error(kind, "configurar", "fallo preparado");
    }
    return Done{};
}

}  // namespace marvalo
