#pragma once

#include <cstdint>
#include <string>

#include "core/bytes.h"

namespace marvalo {

// Why a reply is good or bad, judged against the request that asked for it.
enum class VerdictKind : std::uint8_t {
    Ok,
    Silence,
    Echo,
    Incomplete,
    BadCheck,
    Exception,
    OtherAddress,
    OtherFunction,
    ExtraBytes,
    StrayPrefix,
    Unrecognised,
};
inline constexpr std::size_t kVerdictKindCount = 11;

struct Verdict {
    VerdictKind kind = VerdictKind::Unrecognised;
    std::string text;  // Spanish, for the operator: what is wrong, with the numbers
};

// Stable English keys for scripts and files: "ok", "silence", "bad-check"...
const char *verdictKey(VerdictKind kind);
// Short Spanish names for counts and colours: "correcta", "sin respuesta"...
const char *verdictName(VerdictKind kind);

// False while more bytes could still change the verdict: nothing yet, part
// of a frame, or only our own request heard back (the answer may follow).
inline bool replyIsComplete(VerdictKind kind) {
    return kind != VerdictKind::Silence && kind != VerdictKind::Incomplete &&
           kind != VerdictKind::Echo;
}

// `protocol` as in the panel (0 Korvel, 1 ISO 1745, 2 Modbus RTU). A Modbus
// broadcast (address 0) that stays silent is judged Ok: nobody may answer.
Verdict judgeReply(std::uint8_t protocol, const Bytes &request, const Bytes &reply);

// The Modbus application protocol's exception names, in Spanish.
std::string modbusExceptionName(std::uint8_t code);

}  // namespace marvalo
