#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/frames/bytes.h"

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
    WrongCount,  // a whole, checked Modbus read answer with another register count
};
inline constexpr std::size_t kVerdictKindCount = 12;

struct Verdict {
    VerdictKind kind = VerdictKind::Unrecognised;
    std::string text;  // Spanish, for the operator: what is wrong, with the numbers
    // Where the frame judged begins in the reply: bytes before it are stray
    // (StrayPrefix) or our own request heard back (Echo), possibly followed
    // by stray bytes; 0 for the others.
    std::size_t frameStart = 0;
    std::size_t echoLength = 0;  // how many of those bytes are the echo
    // The kind of the frame found behind the echo, when it is not `kind`
    // itself: the one fact that says whether an echoed reply is whole.
    std::optional<VerdictKind> frameKind = std::nullopt;
};

// The bytes of the frame `verdict` judged in `reply`: after an echo and
// stray bytes in front, none when only the echo came. Whatever reads a
// reply's contents (its fields, its registers) reads these, so that it
// decodes the frame the verdict speaks of and not the bytes before it.
std::span<const std::uint8_t> judgedFrame(const Verdict &verdict, const Bytes &reply);

// Stable English keys for scripts and files: "ok", "silence", "bad-check"...
const char *verdictKey(VerdictKind kind);
// Short Spanish names for counts and colours: "correcta", "sin respuesta"...
const char *verdictName(VerdictKind kind);

// True once the reply holds a whole frame, good or damaged, so an exchange
// may end before its wait: the frame the verdict found, behind an echo and
// stray bytes alike. False while more bytes could still make one: nothing
// yet, part of a frame, our own request heard back alone, or bytes that are
// no frame (yet): stray bytes may come before the answer.
inline bool replyIsComplete(const Verdict &verdict) {
    const VerdictKind kind = verdict.frameKind.value_or(verdict.kind);
    return kind != VerdictKind::Silence && kind != VerdictKind::Incomplete &&
           kind != VerdictKind::Echo && kind != VerdictKind::Unrecognised &&
           kind != VerdictKind::OtherFunction;
}

// How many bytes at the start of `reply` are our own request heard back (a
// two-wire RS485 adapter hears itself): the request's length, or 0 when the
// reply does not start with it or when it is the right answer itself (a
// Modbus function that answers with its request, as 6 does).
std::size_t echoedRequestLength(std::uint8_t protocol, const Bytes &request, const Bytes &reply);

// `protocol` as in the panel (0 Korvel, 1 ISO 1745, 2 Modbus RTU). A Modbus
// broadcast (address 0) that stays silent is judged Ok: nobody may answer.
Verdict judgeReply(std::uint8_t protocol, const Bytes &request, const Bytes &reply);

// The Modbus application protocol's exception names, in Spanish.
std::string modbusExceptionName(std::uint8_t code);
// "excepción 02: dirección de datos no permitida", wherever one is named.
std::string exceptionText(std::uint8_t code);

}  // namespace marvalo
