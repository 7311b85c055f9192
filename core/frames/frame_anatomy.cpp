#include "core/frames/frame_anatomy.h"

#include <algorithm>
#include <cstdio>

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/modbus/function_table.h"
#include "core/settings/panel_state.h"
#include "core/text/byte_text.h"
#include "core/verdicts/verdict.h"

namespace marvalo {
namespace {

constexpr std::size_t kCrcLength = 2;

std::string bytesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string hexOf(const Bytes &bytes, std::size_t offset, std::size_t length) {
    return toHex(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + length)));
}

std::string textOf(const Bytes &bytes, std::size_t offset, std::size_t length) {
    return namedText(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                           bytes.begin() + static_cast<std::ptrdiff_t>(offset + length)));
}

int wordAt(const Bytes &bytes, std::size_t at) {
    return (bytes[at] << 8) | bytes[at + 1];
}

// Parts of a frame laid end to end, whatever is left over as its own field.
class Fields {
  public:
    explicit Fields(const Bytes &frame) : frame_(frame) {}
    bool has(std::size_t length) const { return at_ + length <= frame_.size(); }
    void add(std::string name, std::size_t length, std::string value, bool problem = false) {
        fields_.push_back({std::move(name), at_, length, std::move(value), problem});
        at_ += length;
    }
    std::size_t at() const { return at_; }
    std::vector<FrameField> finish() {
        if (at_ < frame_.size())
            add("Sin reconocer", frame_.size() - at_,
                hexOf(frame_, at_, frame_.size() - at_) + " (" + bytesText(frame_.size() - at_) +
                    ")",
                true);
        return std::move(fields_);
    }

  private:
    const Bytes &frame_;
    std::size_t at_ = 0;
    std::vector<FrameField> fields_;
};

bool crcField(Fields &fields, const Bytes &frame) {
    if (!fields.has(kCrcLength))
        return false;
    const std::size_t at = fields.at();
    const Bytes expected = CalcCRC(std::span<const std::uint8_t>(frame).subspan(0, at));
    const std::string received = hexOf(frame, at, kCrcLength);
    const bool holds = received == toHex(expected);
    fields.add("CRC", kCrcLength,
               holds ? "CRC " + received + " correcto"
                     : "CRC " + received + " recibido, " + toHex(expected) + " esperado",
               !holds);
    return true;
}

// A read's registers: the frame its byte count announces, whatever the
// format, as the verdict reads it, so the CRC follows the announced data
// and bytes past it are named, never taken for data. A shorter frame keeps
// its CRC in its last two bytes; a lone last register or an odd byte is
// shown where it stands. A count the frame does not carry is named.
void readData(Fields &fields, const Bytes &frame, const Bytes &request, RegisterView view,
              bool wrongCount) {
    const std::size_t announced = frame[2];
    const std::size_t after = frame.size() - 3;
    const std::size_t carried = after >= kCrcLength ? after - kCrcLength : after;
    const std::size_t data = std::min(announced, carried);
    fields.add("Nº de bytes", 1,
               data == announced ? std::to_string(announced)
                                 : std::to_string(announced) + " anunciados, " +
                                       std::to_string(data) + (data == 1 ? " llegó" : " llegaron"),
               wrongCount || data != announced || announced % 2 != 0);
    if (const auto values = decodeRegisters(request, frame, view)) {
        for (const RegisterValue &value : *values)
            fields.add("Registro " + std::to_string(value.number), value.raw.size(),
                       registerText(value));
        return;
    }
    // Not a whole, checked answer: the registers as far as the bytes go,
    // numbered only as far as the request asked.
    const int start = request.size() >= 4 ? wordAt(request, 2) : 0;
    const std::size_t asked =
        request.size() >= 6 ? static_cast<std::size_t>(wordAt(request, 4)) : 0;
    const std::size_t width = isWideFormat(view.format) ? 4 : 2;
    const std::size_t end = 3 + data;
    while (fields.at() < end) {
        if ((fields.at() - 3) / 2 >= asked) {
            fields.add("Sin pedir", end - fields.at(), hexOf(frame, fields.at(), end - fields.at()),
                       true);
            break;
        }
        const std::size_t length = std::min(width, end - fields.at());
        if (length == 1) {
            fields.add("Byte suelto", 1, hexOf(frame, fields.at(), 1), true);
            break;
        }
        const int number = start + static_cast<int>((fields.at() - 3) / 2);
        fields.add("Registro " + std::to_string(number), length, hexOf(frame, fields.at(), length));
    }
}

std::string wordText(const Bytes &frame, std::size_t at) {
    return std::to_string(wordAt(frame, at));
}

// A bit list as it stands on the wire: each byte's lowest bit first,
// numbered from `first`; bits past `count` (the last byte's padding) left out.
std::string bitsText(const Bytes &frame, std::size_t at, std::size_t bytes, int first,
                     std::size_t count) {
    std::string text = "desde " + std::to_string(first) + ":";
    for (std::size_t bit = 0; bit < count && bit / 8 < bytes; ++bit)
        text += (frame[at + bit / 8] >> (bit % 8)) & 1 ? " 1" : " 0";
    return text;
}

// The rest of the frame before its CRC, as it comes.
void dataToCrc(Fields &fields, const Bytes &frame, const char *name) {
    if (fields.at() + kCrcLength < frame.size()) {
        const std::size_t length = frame.size() - kCrcLength - fields.at();
        fields.add(name, length, hexOf(frame, fields.at(), length));
    }
}

// The fields after address and function that a request's layout puts
// there; an answer that echoes its request has the same.
void requestFields(Fields &fields, const Bytes &frame, const ModbusFunctionInfo &info,
                   bool echoHeadOnly) {
    const bool bits = quantityKey(info) == "bits";
    switch (info.request) {
        case RequestLayout::StartCount:
        case RequestLayout::StartCountBytes:
            if (!fields.has(4))
                return;
            fields.add("Inicio", 2, wordText(frame, 2));
            fields.add(bits ? "Nº de bits" : "Nº de registros", 2, wordText(frame, 4));
            if (info.request == RequestLayout::StartCountBytes && !echoHeadOnly && fields.has(1)) {
                const std::size_t count = frame[6];
                fields.add("Nº de bytes", 1, std::to_string(count));
                if (fields.has(count))
                    fields.add("Datos", count,
                               bits ? bitsText(frame, 7, count, static_cast<int>(wordAt(frame, 2)),
                                               static_cast<std::size_t>(wordAt(frame, 4)))
                                    : hexOf(frame, 7, count));
            }
            return;
        case RequestLayout::StartValue:
            if (!fields.has(4))
                return;
            if (info.code == 5) {
                fields.add("Bobina", 2, wordText(frame, 2));
                fields.add("Valor", 2, hexOf(frame, 4, 2));
            } else {
                fields.add("Registro", 2, wordText(frame, 2));
                fields.add("Valor", 2, wordText(frame, 4));
            }
            return;
        case RequestLayout::MaskWrite:
            if (!fields.has(6))
                return;
            fields.add("Registro", 2, wordText(frame, 2));
            fields.add("Máscara AND", 2, hexOf(frame, 4, 2));
            fields.add("Máscara OR", 2, hexOf(frame, 6, 2));
            return;
        case RequestLayout::ReadWrite:
            if (!fields.has(9))
                return;
            fields.add("Inicio de lectura", 2, wordText(frame, 2));
            fields.add("Nº de registros leídos", 2, wordText(frame, 4));
            fields.add("Inicio de escritura", 2, wordText(frame, 6));
            fields.add("Nº de registros escritos", 2, wordText(frame, 8));
            fields.add("Nº de bytes", 1, std::to_string(frame[10]));
            if (fields.has(frame[10]))
                fields.add("Datos", frame[10], hexOf(frame, 11, frame[10]));
            return;
        case RequestLayout::SubFunction:
            if (!fields.has(2))
                return;
            fields.add("Subfunción", 2, wordText(frame, 2));
            dataToCrc(fields, frame, "Datos");
            return;
        case RequestLayout::Mei:
            if (!fields.has(3))
                return;
            fields.add("Tipo MEI", 1, std::to_string(frame[2]));
            fields.add("Código de lectura", 1, std::to_string(frame[3]));
            fields.add("Objeto", 1, std::to_string(frame[4]));
            return;
        case RequestLayout::Bare:
            return;
    }
}

// 43/14's answer: its heading, then each object by id and name.
void meiObjects(Fields &fields, const Bytes &frame) {
    const auto answer = meiAnswer(frame);
    if (!answer)
        return;
    fields.add("Tipo MEI", 1, std::to_string(frame[2]));
    fields.add("Código de lectura", 1, std::to_string(answer->readCode));
    fields.add("Conformidad", 1, hexOf(frame, 4, 1));
    fields.add("Siguen más", 1,
               answer->moreFollows ? "sí (FF)" : "no (" + hexOf(frame, 5, 1) + ")");
    fields.add("Siguiente objeto", 1, std::to_string(answer->nextObject));
    fields.add("Nº de objetos", 1, std::to_string(answer->count));
    for (const MeiObjectSpan &object : answer->objects) {
        const std::string_view name = deviceObjectName(object.id);
        fields.add(
            "Objeto " + std::to_string(object.id) + (name.empty() ? "" : " " + std::string(name)),
            2 + object.length, "\"" + textOf(frame, object.at, object.length) + "\"");
    }
}

// An answer with another function than asked is taken apart as that
// function's answer; `kind` is the verdict's finding on it.
void replyFields(Fields &fields, const Bytes &frame, const Bytes &request, RegisterView view,
                 VerdictKind kind) {
    Bytes asked = request;
    if (asked.size() > 1)
        asked[1] = frame[1];
    const auto form = replyFormOf(asked);
    if (!form || !form->info) {
        dataToCrc(fields, frame, "Datos");
        return;
    }
    const ModbusFunctionInfo &info = *form->info;
    switch (form->shape) {
        case ReplyShape::ByteCount:
            if (!fields.has(1))
                return;
            if (info.count == CountRule::Words) {
                readData(fields, frame, request, view, kind == VerdictKind::WrongCount);
            } else if (readsBits(info)) {
                const std::size_t count = frame[2];
                fields.add("Nº de bytes", 1, std::to_string(count),
                           count != form->byteCount || kind == VerdictKind::WrongCount);
                if (fields.has(count))
                    fields.add("Bits", count,
                               bitsText(frame, 3, count, static_cast<int>(wordAt(request, 2)),
                                        form->bits.value_or(0)));
            } else {
                // 17: the server's id and run indicator lead; the rest is its own.
                const std::size_t count = frame[2];
                fields.add("Nº de bytes", 1, std::to_string(count), count < kLeastServerIdCount);
                if (count >= kLeastServerIdCount && fields.has(count)) {
                    const std::size_t idLength =
                        serverIdLength(std::span<const std::uint8_t>(frame).subspan(3, count));
                    const std::size_t runAt = 3 + idLength;
                    fields.add("Id del servidor", idLength,
                               idLength == 1 ? hexOf(frame, 3, 1)
                                             : "\"" + textOf(frame, 3, idLength) + "\" (" +
                                                   hexOf(frame, 3, idLength) + ")");
                    const std::uint8_t run = frame[runAt];
                    const bool known = run == 0xFF || run == 0x00;
                    fields.add("En marcha", 1,
                               (run == 0xFF ? "sí ("
                                : known     ? "no ("
                                            : "ni sí ni no (") +
                                   hexOf(frame, runAt, 1) + ")",
                               !known);
                    if (const std::size_t rest = count - idLength - 1; rest > 0)
                        fields.add("Resto", rest,
                                   "\"" + textOf(frame, runAt + 1, rest) + "\" (" +
                                       hexOf(frame, runAt + 1, rest) + ")");
                }
            }
            return;
        case ReplyShape::Echo:
            requestFields(fields, frame, info, false);
            return;
        case ReplyShape::EchoHead:
            requestFields(fields, frame, info, true);
            return;
        case ReplyShape::Fixed:
            if (fields.has(1))
                fields.add("Estado", 1, hexOf(frame, 2, 1));
            return;
        case ReplyShape::MeiObjects:
            meiObjects(fields, frame);
            return;
        case ReplyShape::Unknown:
            dataToCrc(fields, frame, "Datos");
            return;
    }
}

// `kind`: the verdict on this frame, whose findings the fields show.
std::vector<FrameField> modbusFrame(const Bytes &frame, const Bytes &request, bool isReply,
                                    RegisterView view, VerdictKind kind) {
    Fields fields(frame);
    if (!fields.has(2))
        return fields.finish();
    fields.add("Dirección", 1, std::to_string(frame[0]), kind == VerdictKind::OtherAddress);
    const std::uint8_t function = frame[1];
    const bool exception = isReply && (function & kModbusExceptionBit) != 0;
    fields.add("Función", 1,
               exception ? std::to_string(function & ~kModbusExceptionBit) + " con excepción"
                         : std::to_string(function),
               kind == VerdictKind::OtherFunction);
    if (exception) {
        if (fields.has(1))
            fields.add("Excepción", 1, hexOf(frame, 2, 1) + " " + modbusExceptionName(frame[2]));
    } else if (isReply) {
        replyFields(fields, frame, request, view, kind);
    } else if (const ModbusFunctionInfo *info = findModbusFunction(function)) {
        requestFields(fields, frame, *info, false);
    } else {
        dataToCrc(fields, frame, "Datos");
    }
    if (crcField(fields, frame) && fields.at() < frame.size()) {
        const std::size_t extra = frame.size() - fields.at();
        fields.add("De más", extra,
                   hexOf(frame, fields.at(), extra) + " (" + bytesText(extra) + " tras el CRC)",
                   true);
    }
    return fields.finish();
}

std::vector<FrameField> isoFrame(const Bytes &frame, VerdictKind kind) {
    Fields fields(frame);
    if (frame.size() == 1 && (frame[0] == kAck || frame[0] == kNak || frame[0] == kEot)) {
        fields.add("Respuesta", 1, namedText(frame));
        return fields.finish();
    }
    if (fields.has(3) && frame[fields.at()] == kSoh) {
        fields.add("SOH", 1, "<SOH>");
        fields.add("Dirección", 2, textOf(frame, fields.at(), 2),
                   kind == VerdictKind::OtherAddress);
    }
    if (!fields.has(1) || frame[fields.at()] != kStx)
        return fields.finish();
    fields.add("STX", 1, "<STX>");
    const auto etx =
        std::find(frame.begin() + static_cast<std::ptrdiff_t>(fields.at()), frame.end(), kEtx);
    const auto textLength = static_cast<std::size_t>(etx - frame.begin()) - fields.at();
    const std::size_t textStart = fields.at();
    fields.add("Texto", textLength, textOf(frame, fields.at(), textLength));
    if (etx == frame.end()) {
        fields.add("ETX", 0, "falta <ETX>", true);
        return fields.finish();
    }
    fields.add("ETX", 1, "<ETX>");
    if (fields.has(1)) {
        const std::uint8_t expected = bccOfCheckedPart(
            std::span<const std::uint8_t>(frame).subspan(textStart, textLength + 1));
        const std::uint8_t received = frame[fields.at()];
        const std::string got = toHex(Bytes{received});
        fields.add("BCC", 1,
                   received == expected
                       ? "BCC " + got + " correcto"
                       : "BCC " + got + " recibido, " + toHex(Bytes{expected}) + " esperado",
                   received != expected);
    } else {
        fields.add("BCC", 0, "falta el BCC", true);
    }
    return fields.finish();
}

std::vector<FrameField> korvelFrame(const Bytes &frame, bool isRequest, VerdictKind kind) {
    Fields fields(frame);
    if (isRequest && fields.has(3) && frame[0] == kKorvelStart) {
        fields.add("Inicio", 1, "*");
        fields.add("Dirección", 2, textOf(frame, 1, 2));
    }
    const auto cr = std::find(frame.begin(), frame.end(), kCr);
    if (!isRequest && cr != frame.end()) {
        // The answer is one line: what follows its end is extra, as the
        // verdict says.
        const auto text = static_cast<std::size_t>(cr - frame.begin());
        fields.add("Texto", text, textOf(frame, 0, text), kind == VerdictKind::OtherAddress);
        const std::size_t ending = text + 1 < frame.size() && frame[text + 1] == kLf ? 2 : 1;
        fields.add("Fin de línea", ending, textOf(frame, text, ending));
        if (const std::size_t extra = frame.size() - fields.at(); extra > 0)
            fields.add(
                "De más", extra,
                hexOf(frame, fields.at(), extra) + " (" + bytesText(extra) + " tras la línea)",
                true);
        return fields.finish();
    }
    std::size_t end = frame.size();
    while (end > fields.at() && (frame[end - 1] == kCr || frame[end - 1] == kLf))
        --end;
    fields.add("Texto", end - fields.at(), textOf(frame, fields.at(), end - fields.at()));
    // CR ends the line; an LF alone does not.
    const bool endsWithCr = std::find(frame.begin() + static_cast<std::ptrdiff_t>(end), frame.end(),
                                      kCr) != frame.end();
    fields.add("Fin de línea", frame.size() - end,
               endsWithCr ? textOf(frame, end, frame.size() - end)
                          : textOf(frame, end, frame.size() - end) +
                                (end < frame.size() ? " " : "") + "falta <CR>",
               !endsWithCr);
    return fields.finish();
}

}  // namespace

std::vector<FrameField> requestAnatomy(std::uint8_t protocol, const Bytes &request) {
    switch (static_cast<Protocol>(protocol)) {
        case Protocol::Modbus:
            return modbusFrame(request, request, false, {}, VerdictKind::Ok);
        case Protocol::Iso1745:
            return isoFrame(request, VerdictKind::Ok);
        case Protocol::Korvel:
            return korvelFrame(request, true, VerdictKind::Ok);
    }
    return {};
}

namespace {

std::vector<FrameField> replyFrame(std::uint8_t protocol, const Bytes &request, const Bytes &frame,
                                   RegisterView view, VerdictKind kind) {
    if (frame.empty())
        return {};
    switch (static_cast<Protocol>(protocol)) {
        case Protocol::Modbus:
            return modbusFrame(frame, request, true, view, kind);
        case Protocol::Iso1745:
            return isoFrame(frame, kind);
        case Protocol::Korvel:
            return korvelFrame(frame, false, kind);
    }
    return {};
}

}  // namespace

std::vector<FrameField> replyAnatomy(std::uint8_t protocol, const Bytes &request,
                                     const Bytes &reply, RegisterView view) {
    // The verdict decides where the answer starts; the pane only follows it.
    const Verdict judged = judgeReply(protocol, request, reply);
    const std::size_t start = std::min(judged.frameStart, reply.size());
    if (start == 0)
        return replyFrame(protocol, request, reply, view, judged.kind);
    const std::size_t echo = std::min(judged.echoLength, start);
    std::vector<FrameField> fields;
    if (echo > 0)
        fields.push_back({"Eco", 0, echo, hexOf(reply, 0, echo) + " (la propia petición)", true});
    if (start > echo)
        fields.push_back({"Bytes sobrantes", echo, start - echo,
                          hexOf(reply, echo, start - echo) + " (" + bytesText(start - echo) +
                              " antes de la respuesta)",
                          true});
    const std::span<const std::uint8_t> judgedBytes = judgedFrame(judged, reply);
    const Bytes frame(judgedBytes.begin(), judgedBytes.end());
    // The frame's own findings, as the verdict would give them for it alone.
    const VerdictKind kind = judgeReply(protocol, request, frame).kind;
    for (FrameField field : replyFrame(protocol, request, frame, view, kind)) {
        field.offset += start;
        fields.push_back(std::move(field));
    }
    return fields;
}

std::string hexDump(const Bytes &bytes) {
    constexpr std::size_t kPerLine = 16;
    const std::vector<std::string> texts = namedTextLines(bytes, kPerLine);
    std::string dump;
    for (std::size_t at = 0; at < bytes.size(); at += kPerLine) {
        const std::size_t length = std::min(kPerLine, bytes.size() - at);
        char offset[32];
        std::snprintf(offset, sizeof offset, "%04zX  ", at);
        std::string hex = hexOf(bytes, at, length);
        hex.resize(kPerLine * 3 - 1, ' ');
        dump += offset + hex + "  " + texts[at / kPerLine] + "\n";
    }
    return dump;
}

}  // namespace marvalo
