#include "core/verdicts/verdict.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/modbus/function_table.h"
#include "core/settings/panel_state.h"
#include "core/text/byte_text.h"

namespace marvalo {
namespace {

constexpr std::size_t kModbusReadOverhead = 5;  // address, function, count, CRC
// Leftovers of an earlier answer are a frame at most; looking further for
// an answer behind them would let a flood of bytes cost a square of its size.
constexpr std::size_t kMaxStrayBytes = 256;

Verdict verdict(VerdictKind kind, std::string text) {
    return Verdict{kind, std::move(text)};
}

// One sentence for every protocol: the address that answered and the one
// asked, each as its protocol writes it; the asked one left out only when
// the request is too short to name it.
Verdict otherAddressVerdict(const std::string &answered, const std::string &asked) {
    return verdict(VerdictKind::OtherAddress,
                   "responde la dirección " + answered +
                       (asked.empty() ? std::string() : " en lugar de la " + asked));
}

// A text protocol's address digits, as they came from the line: named,
// never raw.
std::string quotedAddress(Bytes::const_iterator from, std::size_t length) {
    return "\"" + namedText(Bytes(from, from + static_cast<std::ptrdiff_t>(length))) + "\"";
}

std::string hexByte(std::uint8_t byte) {
    return toHex(Bytes{byte});
}

bool startsWith(const Bytes &whole, const Bytes &prefix) {
    return !prefix.empty() && whole.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), whole.begin());
}

std::string bytesCount(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string strayBytes(std::size_t count) {
    return bytesCount(count) + (count == 1 ? " sobrante" : " sobrantes");
}

std::string registersCount(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " registro" : " registros");
}

// ---- Modbus RTU: the shapes come from the function table ----

std::span<const std::uint8_t> from(const Bytes &bytes, std::size_t offset) {
    return std::span<const std::uint8_t>(bytes).subspan(offset);
}

bool crcHolds(const Bytes &reply, std::size_t offset, std::size_t length) {
    return offset + length <= reply.size() &&
           marvalo::crcHolds(std::span<const std::uint8_t>(reply).subspan(offset, length));
}

// Is there a whole, checked answer to `ask` at `offset`? Returns its length.
std::optional<std::size_t> frameAt(const ReplyForm &ask, const Bytes &reply, std::size_t offset) {
    if (offset + 2 > reply.size() || reply[offset] != ask.address)
        return std::nullopt;
    const std::uint8_t function = reply[offset + 1];
    if (function == (ask.function | kModbusExceptionBit) &&
        crcHolds(reply, offset, kModbusExceptionLength))
        return kModbusExceptionLength;
    if (function != ask.function)
        return std::nullopt;
    const auto length = rightReplyLength(ask, from(reply, offset));
    if (length && crcHolds(reply, offset, *length))
        return length;
    return std::nullopt;
}

// Is there an answer to `ask` at `offset` that ends the reply, its CRC
// good or not? Without a CRC to vouch for it, every byte its shape fixes
// must be the request's: the address and function (or an exception's, with
// a code the protocol names), the byte count it was asked for, the fields
// it repeats. Bytes that answer something else are never taken for it.
bool damagedFrameAt(const ReplyForm &ask, const Bytes &request, const Bytes &reply,
                    std::size_t offset) {
    if (offset + 2 > reply.size() || reply[offset] != ask.address)
        return false;
    const std::uint8_t function = reply[offset + 1];
    if (function == (ask.function | kModbusExceptionBit))
        return offset + kModbusExceptionLength == reply.size() &&
               findModbusException(reply[offset + 2]) != nullptr;
    const auto length =
        function == ask.function ? rightReplyLength(ask, from(reply, offset)) : std::nullopt;
    if (!length || offset + *length != reply.size() || *length < ask.echoed ||
        request.size() < ask.echoed ||
        !std::equal(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(ask.echoed),
                    reply.begin() + static_cast<std::ptrdiff_t>(offset)))
        return false;
    constexpr std::size_t kCountAt = 2;
    return !ask.byteCount || reply[offset + kCountAt] == *ask.byteCount;
}

Verdict judgeModbusFrame(const ReplyForm &ask, const Bytes &request, const Bytes &reply);

// The tail of an earlier answer followed by a whole one: common in
// continuous sending at low rates, where the last reply outlives its wait.
// A checked answer anywhere first; else a damaged one that ends the reply.
std::optional<Verdict> strayPrefix(const ReplyForm &ask, const Bytes &request, const Bytes &reply) {
    const std::size_t last = std::min(reply.size(), kMaxStrayBytes + 1);
    std::optional<std::size_t> found;
    for (std::size_t offset = 1; offset < last && !found; ++offset) {
        if (frameAt(ask, reply, offset))
            found = offset;
    }
    for (std::size_t offset = 1; offset < last && !found; ++offset) {
        if (damagedFrameAt(ask, request, reply, offset))
            found = offset;
    }
    if (!found)
        return std::nullopt;
    const auto start = reply.begin() + static_cast<std::ptrdiff_t>(*found);
    const Verdict inner = judgeModbusFrame(ask, request, Bytes(start, reply.end()));
    return Verdict{VerdictKind::StrayPrefix,
                   strayBytes(*found) + " antes de la respuesta (" +
                       toHex(Bytes(reply.begin(), start)) + "); después: " + inner.text,
                   *found};
}

// A read answered with its own byte count, whose CRC holds over the length
// that count gives: the unit answered another quantity than was asked.
std::optional<Verdict> otherCount(const ReplyForm &ask, const Bytes &reply) {
    constexpr std::size_t kCountAt = 2;
    if (!ask.byteCount || reply.size() <= kCountAt || reply[0] != ask.address ||
        reply[1] != ask.function || reply[kCountAt] == *ask.byteCount)
        return std::nullopt;
    const std::size_t count = reply[kCountAt];
    if (!crcHolds(reply, 0, kModbusReadOverhead + count))
        return std::nullopt;
    if (ask.bits) {
        return verdict(VerdictKind::WrongCount, "la respuesta trae " + bytesCount(count) +
                                                    " de bits; se pidieron " +
                                                    std::to_string(*ask.bits) + " bits (" +
                                                    bytesCount(*ask.byteCount) + ")");
    }
    // Both sides in one unit: an odd count is no whole number of registers.
    const std::size_t asked = *ask.byteCount / 2;
    return verdict(
        VerdictKind::WrongCount,
        "la respuesta trae " +
            (count % 2 == 0 ? registersCount(count / 2) + "; se pidieron " + std::to_string(asked)
                            : bytesCount(count) + " de datos; se pidieron " +
                                  bytesCount(*ask.byteCount) + " (" + registersCount(asked) + ")"));
}

// What a whole, checked right answer may still get wrong, by its shape.
std::optional<Verdict> shapeFault(const ReplyForm &ask, const Bytes &request, const Bytes &reply,
                                  std::size_t length) {
    if (ask.byteCount && reply[2] != *ask.byteCount) {
        return verdict(VerdictKind::Unrecognised, "la respuesta anuncia " + bytesCount(reply[2]) +
                                                      " de datos y se pidieron " +
                                                      bytesCount(*ask.byteCount));
    }
    if (ask.info && ask.shape == ReplyShape::ByteCount && ask.info->count == CountRule::Announced &&
        reply[2] < kLeastServerIdCount)
        return verdict(VerdictKind::WrongCount,
                       "la respuesta trae " + bytesCount(reply[2]) + " de datos; la función " +
                           std::to_string(ask.function) +
                           " trae al menos el id y el indicador de marcha");
    constexpr std::size_t kMoreFollowsAt = 5;
    if (ask.shape == ReplyShape::MeiObjects && reply[kMoreFollowsAt] != 0x00 &&
        reply[kMoreFollowsAt] != 0xFF)
        return verdict(VerdictKind::Unrecognised, "\"siguen más\" vale " +
                                                      hexByte(reply[kMoreFollowsAt]) +
                                                      "; una respuesta dice 00 (no) o FF (sí)");
    if (ask.bits && *ask.bits % 8 != 0 && *ask.byteCount > 0) {
        const std::uint8_t last = reply[length - 3];
        if ((last >> (*ask.bits % 8)) != 0)
            return verdict(VerdictKind::Unrecognised,
                           "los bits sin usar del último byte (" + hexByte(last) + ") no son cero");
    }
    if (ask.echoed > 2 &&
        (request.size() < ask.echoed || reply.size() < ask.echoed ||
         !std::equal(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(ask.echoed),
                     reply.begin()))) {
        return verdict(
            VerdictKind::Unrecognised,
            "la respuesta no repite los campos de la petición (" +
                toHex(Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(
                                                               std::min(ask.echoed, length - 2)))) +
                ")");
    }
    return std::nullopt;
}

Verdict judgeModbusFrame(const ReplyForm &ask, const Bytes &request, const Bytes &reply) {
    const std::uint8_t function = reply.size() > 1 ? reply[1] : ask.function;
    const bool exception = function == (ask.function | kModbusExceptionBit);
    if (auto wrongCount = otherCount(ask, reply))
        return *wrongCount;
    const std::optional<std::size_t> expected =
        exception ? std::optional<std::size_t>(kModbusExceptionLength)
                  : rightReplyLength(ask, from(reply, 0));
    if (reply.size() < 2 ||
        // One comparison: an unknown length never lets the compiler read
        // the empty optional's payload ahead of its flag.
        ((function == ask.function || exception) &&
         reply.size() < expected.value_or(std::numeric_limits<std::size_t>::max()))) {
        return verdict(
            VerdictKind::Incomplete,
            expected ? "llegaron " + std::to_string(reply.size()) + " de " + bytesCount(*expected)
                     : "llegaron " + bytesCount(reply.size()) + ", aún sin una respuesta entera");
    }
    if (function != ask.function && !exception) {
        if (reply[0] != ask.address) {
            return verdict(VerdictKind::Unrecognised,
                           "no es una respuesta Modbus a esta petición (empieza por " +
                               toHex(Bytes(reply.begin(), reply.begin() + 2)) + ")");
        }
        return verdict(VerdictKind::OtherFunction,
                       "responde con la función " + std::to_string(function) +
                           " a una petición de la función " + std::to_string(ask.function));
    }
    if (!crcHolds(reply, 0, *expected) && reply.size() > *expected &&
        crcHolds(reply, 0, reply.size())) {
        return verdict(VerdictKind::ExtraBytes, "la respuesta trae " + bytesCount(reply.size()) +
                                                    " con su CRC; una correcta tiene " +
                                                    bytesCount(*expected));
    }
    if (!crcHolds(reply, 0, *expected)) {
        return verdict(VerdictKind::BadCheck,
                       "el CRC no corresponde a los " + bytesCount(*expected) + " de la respuesta");
    }
    if (reply[0] != ask.address) {
        return otherAddressVerdict(std::to_string(reply[0]), std::to_string(ask.address));
    }
    if (exception) {
        return verdict(VerdictKind::Exception, exceptionText(reply[2]));
    }
    if (*expected > kMaxRtuFrame) {
        return verdict(VerdictKind::ExtraBytes, "la respuesta ocupa " + bytesCount(*expected) +
                                                    "; una trama RTU tiene como mucho " +
                                                    bytesCount(kMaxRtuFrame));
    }
    if (auto fault = shapeFault(ask, request, reply, *expected))
        return *fault;
    if (reply.size() > *expected) {
        return verdict(
            VerdictKind::ExtraBytes,
            "respuesta correcta seguida de " + bytesCount(reply.size() - *expected) + " de más");
    }
    return verdict(VerdictKind::Ok, "respuesta correcta (" + bytesCount(*expected) + ")");
}

Verdict judgeModbus(const Bytes &request, const Bytes &reply) {
    const auto ask = replyFormOf(request);
    if (!ask) {
        return verdict(VerdictKind::Unrecognised, "la petición no es una trama Modbus completa");
    }
    if (ask->address == kModbusBroadcast) {
        if (reply.empty())
            return verdict(VerdictKind::Ok, "difusión (dirección 0): sin respuesta, como debe ser");
        return verdict(VerdictKind::Unrecognised,
                       "respuesta a una difusión (dirección 0), a la que nadie debe responder");
    }
    Verdict atStart = judgeModbusFrame(*ask, request, reply);
    if (atStart.kind == VerdictKind::Ok || atStart.kind == VerdictKind::Exception ||
        atStart.kind == VerdictKind::ExtraBytes || atStart.kind == VerdictKind::WrongCount)
        return atStart;
    if (auto stray = strayPrefix(*ask, request, reply))
        return *stray;
    return atStart;
}

// ---- ISO 1745 ----

// A block at the start of `reply`: [SOH aa] STX text ETX BCC. Where it
// ends, its BCC included, is known once its ETX and BCC have come.
struct IsoBlock {
    Verdict verdict;
    std::optional<std::size_t> end = std::nullopt;
};

IsoBlock judgeIsoBlock(const Bytes &request, const Bytes &reply) {
    constexpr std::size_t kHeadingLength = 3;  // SOH and two address digits
    std::size_t stx = 0;
    bool otherAddress = false;
    if (reply[0] == kSoh) {
        if (reply.size() < kHeadingLength + 1) {
            return {verdict(VerdictKind::Incomplete, "solo la cabecera SOH")};
        }
        // Judged once the block is whole: the rest of it may still be coming.
        otherAddress =
            request.size() < kHeadingLength || reply[1] != request[1] || reply[2] != request[2];
        stx = kHeadingLength;
    }
    if (reply[stx] != kStx) {
        return {verdict(VerdictKind::Unrecognised, "no es un bloque STX … ETX BCC")};
    }
    const auto textStart = reply.begin() + static_cast<std::ptrdiff_t>(stx) + 1;
    const auto etxAt = std::find(textStart, reply.end(), kEtx);
    if (etxAt == reply.end()) {
        return {verdict(VerdictKind::Incomplete, "el bloque no termina en ETX")};
    }
    if (etxAt + 1 == reply.end()) {
        return {verdict(VerdictKind::Incomplete, "falta el BCC después del ETX")};
    }
    const auto end = static_cast<std::size_t>(etxAt - reply.begin()) + 2;
    if (otherAddress) {
        return {otherAddressVerdict(quotedAddress(reply.begin() + 1, kHeadingLength - 1),
                                    request.size() < kHeadingLength
                                        ? std::string()
                                        : quotedAddress(request.begin() + 1, kHeadingLength - 1)),
                end};
    }
    const std::uint8_t expected =
        bccOfCheckedPart(std::span<const std::uint8_t>(textStart, etxAt + 1));
    const std::uint8_t received = *(etxAt + 1);
    if (received != expected) {
        return {verdict(VerdictKind::BadCheck,
                        "BCC " + hexByte(received) + ", se esperaba " + hexByte(expected)),
                end};
    }
    if (reply.size() > end) {
        return {verdict(VerdictKind::ExtraBytes,
                        "bloque correcto seguido de " + bytesCount(reply.size() - end) + " de más"),
                end};
    }
    return {verdict(VerdictKind::Ok, "bloque correcto"), end};
}

Verdict judgeIso1745(const Bytes &request, const Bytes &reply) {
    if (reply.size() == 1) {
        switch (reply[0]) {
            case kAck:
                return verdict(VerdictKind::Ok, "ACK: el instrumento acepta la petición");
            case kNak:
                return verdict(VerdictKind::Exception, "NAK: el instrumento rechaza la petición");
            case kEot:
                return verdict(VerdictKind::Exception,
                               "EOT: el instrumento no tiene nada que enviar");
            default:
                break;
        }
    }
    Verdict atStart = judgeIsoBlock(request, reply).verdict;
    if (atStart.kind != VerdictKind::Unrecognised)
        return atStart;
    // A right block anywhere first; else one whose BCC is wrong, when that
    // BCC ends the reply: a heading's address was checked, and no bytes of
    // some other block follow it.
    std::optional<std::pair<std::size_t, Verdict>> found;
    for (std::size_t offset = 1; offset < reply.size() && offset <= kMaxStrayBytes; ++offset) {
        if (reply[offset] != kSoh && reply[offset] != kStx)
            continue;
        const Bytes rest(reply.begin() + static_cast<std::ptrdiff_t>(offset), reply.end());
        IsoBlock inner = judgeIsoBlock(request, rest);
        const VerdictKind kind = inner.verdict.kind;
        const bool right = kind == VerdictKind::Ok || kind == VerdictKind::ExtraBytes;
        if (right || (!found && kind == VerdictKind::BadCheck && inner.end == rest.size()))
            found.emplace(offset, std::move(inner.verdict));
        if (right)
            break;
    }
    if (!found)
        return atStart;
    return Verdict{VerdictKind::StrayPrefix,
                   strayBytes(found->first) + " antes del bloque; después: " + found->second.text,
                   found->first};
}

// ---- Korvel: the line's content is the instrument's business ----

constexpr std::size_t kKorvelAddressAt = 1;  // "*01D": the digits after the star
constexpr std::size_t kKorvelAddressLength = 2;

bool isDigit(std::uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

// An answer names the address it was asked by first ("01D+0023.4" to
// "*01D"). Bytes before that address that are no text of a line (a control
// byte, a byte beyond ASCII, the end of an earlier line) are stray, as for
// Modbus; text there ("ERR 01") is the instrument's own answer. Returns
// where the answer starts.
std::size_t korvelStart(const Bytes &request, const Bytes &reply) {
    if (request.size() < kKorvelAddressAt + kKorvelAddressLength || request[0] != kKorvelStart)
        return 0;
    const auto address = request.begin() + kKorvelAddressAt;
    bool noText = false;
    for (std::size_t at = 0; at + kKorvelAddressLength <= reply.size() && at <= kMaxStrayBytes;
         ++at) {
        if (std::equal(address, address + kKorvelAddressLength,
                       reply.begin() + static_cast<std::ptrdiff_t>(at)))
            return noText ? at : 0;
        noText = noText || reply[at] < 0x20 || reply[at] > 0x7E;
    }
    return 0;
}

// One line from `start`: its address against the one asked, and whatever
// follows its CR (or CR LF) is extra, a second line included.
Verdict judgeKorvelLine(const Bytes &request, const Bytes &reply, std::size_t start) {
    const auto line = reply.begin() + static_cast<std::ptrdiff_t>(start);
    const bool asked =
        request.size() >= kKorvelAddressAt + kKorvelAddressLength && request[0] == kKorvelStart;
    if (asked && reply.size() >= start + kKorvelAddressLength && isDigit(line[0]) &&
        isDigit(line[1]) &&
        !std::equal(line, line + kKorvelAddressLength, request.begin() + kKorvelAddressAt)) {
        return otherAddressVerdict(
            quotedAddress(line, kKorvelAddressLength),
            quotedAddress(request.begin() + kKorvelAddressAt, kKorvelAddressLength));
    }
    auto end = std::find(line, reply.end(), kCr) + 1;
    if (end != reply.end() && *end == kLf)
        ++end;
    if (end != reply.end()) {
        return verdict(VerdictKind::ExtraBytes,
                       "línea completa seguida de " +
                           bytesCount(static_cast<std::size_t>(reply.end() - end)) + " de más");
    }
    return verdict(VerdictKind::Ok, "línea completa");
}

// CR ends the line; many instruments send CR LF, and that ends it too.
Verdict judgeKorvel(const Bytes &request, const Bytes &reply) {
    const bool crLf = reply.size() >= 2 && reply[reply.size() - 2] == kCr && reply.back() == kLf;
    if (reply.back() != kCr && !crLf)
        return verdict(VerdictKind::Incomplete, "la línea no termina en CR");
    const std::size_t start = korvelStart(request, reply);
    Verdict line = judgeKorvelLine(request, reply, start);
    if (start == 0)
        return line;
    return Verdict{
        VerdictKind::StrayPrefix,
        strayBytes(start) + " antes de la respuesta (" +
            toHex(Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(start))) +
            "); después: " + line.text,
        start};
}

}  // namespace

std::span<const std::uint8_t> judgedFrame(const Verdict &verdict, const Bytes &reply) {
    return std::span<const std::uint8_t>(reply).subspan(std::min(verdict.frameStart, reply.size()));
}

const char *verdictKey(VerdictKind kind) {
    static constexpr std::array<const char *, kVerdictKindCount> kKeys = {
        "ok",          "silence",      "echo",          "incomplete",
        "bad-check",   "exception",    "other-address", "other-function",
        "extra-bytes", "stray-prefix", "unrecognised",  "wrong-count",
    };
    return kKeys.at(static_cast<std::size_t>(kind));
}

const char *verdictName(VerdictKind kind) {
    static constexpr std::array<const char *, kVerdictKindCount> kNames = {
        "correcta",
        "sin respuesta",
        "eco",
        "incompleta",
        "control erróneo",
        "excepción",
        "otra dirección",
        "otra función",
        "bytes de más",
        "bytes sobrantes delante",
        "no reconocida",
        "otra cantidad",
    };
    return kNames.at(static_cast<std::size_t>(kind));
}

std::string modbusExceptionName(std::uint8_t code) {
    const ModbusExceptionInfo *known = findModbusException(code);
    return known ? std::string(known->name) : "código de excepción desconocido";
}

std::string exceptionText(std::uint8_t code) {
    return "excepción " + hexByte(code) + ": " + modbusExceptionName(code);
}

std::size_t echoedRequestLength(std::uint8_t protocol, const Bytes &request, const Bytes &reply) {
    const bool modbus = protocol == static_cast<std::uint8_t>(Protocol::Modbus);
    const bool broadcast = modbus && request.size() > 1 && request[0] == kModbusBroadcast;
    // Some functions' right answer is their request, byte for byte.
    const auto form = modbus && !broadcast ? replyFormOf(request) : std::nullopt;
    const bool answerEchoesRequest = form && form->shape == ReplyShape::Echo;
    if (!startsWith(reply, request) || (answerEchoesRequest && reply.size() == request.size()))
        return 0;
    return request.size();
}

namespace {

// The reply's own frame, stray bytes in front found the one way each
// protocol finds them, whatever came before it.
Verdict judgeFrame(std::uint8_t protocol, const Bytes &request, const Bytes &reply) {
    switch (static_cast<Protocol>(protocol)) {
        case Protocol::Korvel:
            return judgeKorvel(request, reply);
        case Protocol::Iso1745:
            return judgeIso1745(request, reply);
        case Protocol::Modbus:
            return judgeModbus(request, reply);
    }
    return verdict(VerdictKind::Unrecognised, "protocolo desconocido");
}

}  // namespace

Verdict judgeReply(std::uint8_t protocol, const Bytes &request, const Bytes &reply) {
    const bool modbus = protocol == static_cast<std::uint8_t>(Protocol::Modbus);
    const bool broadcast = modbus && request.size() > 1 && request[0] == kModbusBroadcast;
    if (reply.empty() && !broadcast) {
        return verdict(VerdictKind::Silence, "sin respuesta");
    }
    const std::size_t echo = echoedRequestLength(protocol, request, reply);
    if (echo == 0)
        return judgeFrame(protocol, request, reply);
    if (reply.size() == echo)
        return Verdict{VerdictKind::Echo, "eco: se recibió la propia petición", echo, echo};
    // Stray bytes may stand between the echo and the answer.
    const Verdict behind = judgeFrame(
        protocol, request, Bytes(reply.begin() + static_cast<std::ptrdiff_t>(echo), reply.end()));
    return Verdict{VerdictKind::Echo,
                   "eco: la propia petición seguida de " + bytesCount(reply.size() - echo) +
                       "; después: " + behind.text,
                   echo + behind.frameStart, echo, behind.kind};
}

}  // namespace marvalo
