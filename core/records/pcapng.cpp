#include "core/records/pcapng.h"

#include <cstdint>
#include <cstdio>

#include "core/modbus/function_table.h"
#include "core/settings/panel_state.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/version.h"

namespace marvalo {
namespace {

// pcapng block types and option codes, as the pcapng format defines them.
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t kInterfaceDescription = 1;
constexpr std::uint32_t kEnhancedPacket = 6;
constexpr std::uint16_t kEndOfOptions = 0;
constexpr std::uint16_t kComment = 1;
constexpr std::uint16_t kUserApplication = 4;  // in the section header
constexpr std::uint16_t kTimestampResolution = 9;
constexpr std::uint8_t kNanoseconds = 9;
constexpr std::uint16_t kPacketFlags = 2;
constexpr std::uint32_t kInbound = 1;
constexpr std::uint32_t kOutbound = 2;
constexpr std::uint16_t kUpperPdu = 252;

// Exported-PDU tags (Wireshark's exported_pdu_tlvs.h).
constexpr std::uint16_t kDissectorName = 12;
constexpr std::uint16_t kPortType = 24;
constexpr std::uint16_t kSourcePort = 25;
constexpr std::uint16_t kDestinationPort = 26;
constexpr std::uint16_t kProtocolColumn = 33;
// Wireshark 4.2 and later put this text in the Info column; 4.0 lists it
// as an unknown tag and reads on.
constexpr std::uint16_t kInfoColumn = 36;
// The Info column is one line: the frame's first bytes say what it is.
constexpr std::size_t kInfoBytes = 80;
constexpr std::uint32_t kUdp = 3;
constexpr std::uint32_t kClientPort = 40000;
constexpr std::uint32_t kModbusPort = 502;
constexpr std::size_t kLeastDissected = 5;

void little16(std::string &out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}
void little32(std::string &out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}
void big16(std::string &out, std::uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xFF));
}
void big32(std::string &out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}
void padTo4(std::string &out) {
    while (out.size() % 4 != 0)
        out.push_back('\0');
}

// An option's length has 16 bits: a longer text is cut, at a character's
// start, and says so with "…".
std::string fitted(const std::string &value) {
    constexpr std::size_t kMaxOption = 0xFFFF;
    if (value.size() <= kMaxOption)
        return value;
    const std::string more = "…";
    std::size_t cut = kMaxOption - more.size();
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
        --cut;  // not inside a UTF-8 sequence
    return value.substr(0, cut) + more;
}

void option(std::string &out, std::uint16_t code, const std::string &value) {
    const std::string text = fitted(value);
    little16(out, code);
    little16(out, static_cast<std::uint16_t>(text.size()));
    out += text;
    padTo4(out);
}

// A block: type, total length, body, total length again.
std::string block(std::uint32_t type, const std::string &body) {
    std::string out;
    little32(out, type);
    little32(out, static_cast<std::uint32_t>(body.size() + 12));
    out += body;
    little32(out, static_cast<std::uint32_t>(body.size() + 12));
    return out;
}

// An exported-PDU tag whose value is padded with NULs counted in its length:
// tshark 4.0 reads the next tag right after the stated length.
void tag(std::string &out, std::uint16_t code, std::string value) {
    while (value.size() % 4 != 0)
        value.push_back('\0');
    big16(out, code);
    big16(out, static_cast<std::uint16_t>(value.size()));
    out += value;
}

std::string bigValue(std::uint32_t value) {
    std::string out;
    big32(out, value);
    return out;
}

std::string packetBody(const ExchangeRecord &record, const Bytes &frame, bool fromInstrument,
                       std::int64_t atNs, const std::string &comment) {
    std::string data;
    if (record.protocol == static_cast<std::uint8_t>(Protocol::Modbus)) {
        tag(data, kDissectorName, "mbrtu");
        tag(data, kPortType, bigValue(kUdp));
        tag(data, kSourcePort, bigValue(fromInstrument ? kModbusPort : kClientPort));
        tag(data, kDestinationPort, bigValue(fromInstrument ? kClientPort : kModbusPort));
        // tshark's mbrtu takes no frame under 5 bytes (its least, an
        // exception) and leaves it to Data: 7's and 17's requests, address,
        // function and CRC. Its columns still say what it is.
        if (frame.size() < kLeastDissected && frame.size() >= 2) {
            const ModbusFunctionInfo *info = findModbusFunction(frame[1]);
            tag(data, kProtocolColumn, "Modbus RTU");
            tag(data, kInfoColumn,
                "unidad " + std::to_string(frame[0]) + ", función " + std::to_string(frame[1]) +
                    (info ? " (" + std::string(info->name) + ")" : ""));
        }
    } else {
        tag(data, kDissectorName, "data-text-lines");
        tag(data, kProtocolColumn,
            record.protocol == static_cast<std::uint8_t>(Protocol::Iso1745) ? "ISO 1745"
                                                                            : "Korvel");
        tag(data, kInfoColumn, namedTextUpTo(frame, kInfoBytes));
    }
    big16(data, kEndOfOptions);
    big16(data, 0);
    data.append(frame.begin(), frame.end());

    std::string body;
    little32(body, 0);  // the one interface
    const auto ns = static_cast<std::uint64_t>(atNs);
    little32(body, static_cast<std::uint32_t>(ns >> 32));
    little32(body, static_cast<std::uint32_t>(ns & 0xFFFFFFFF));
    little32(body, static_cast<std::uint32_t>(data.size()));
    little32(body, static_cast<std::uint32_t>(data.size()));
    body += data;
    padTo4(body);
    std::string flags;
    little32(flags, fromInstrument ? kInbound : kOutbound);
    option(body, kPacketFlags, flags);
    option(body, kComment, comment);
    little16(body, kEndOfOptions);
    little16(body, 0);
    return body;
}

// "; función 6 (escribir un registro)": what a Modbus request asks, named
// from the function table, for a reader of the capture without a dissector.
std::string functionComment(const ExchangeRecord &record) {
    if (record.protocol != static_cast<std::uint8_t>(Protocol::Modbus) || record.request.size() < 2)
        return {};
    const ModbusFunctionInfo *info = findModbusFunction(record.request[1]);
    return "; función " + std::to_string(record.request[1]) +
           (info ? " (" + std::string(info->name) + ")" : " (fuera de la tabla)");
}

std::string verdictComment(const ExchangeRecord &record) {
    const std::string warning = record.warning ? "; aviso: " + safeText(*record.warning) : "";
    if (!record.verdict)
        return "#" + std::to_string(record.sequence) +
               " fallo: " + safeText(record.failure.value_or("")) + warning;
    std::string comment = "#" + std::to_string(record.sequence) + " " +
                          verdictKey(record.verdict->kind) + ": " + safeText(record.verdict->text);
    if (auto ms = record.firstByteMs())
        comment += "; 1er byte a los " + fixedDecimal(*ms, 3) + " ms";
    return comment + warning;
}

}  // namespace

std::string pcapngHeader() {
    std::string section;
    little32(section, kByteOrderMagic);
    little16(section, 1);  // version 1.0
    little16(section, 0);
    little32(section, 0xFFFFFFFF);  // section length not given
    little32(section, 0xFFFFFFFF);
    option(section, kUserApplication, std::string("Marvalo ") + kVersion);
    little16(section, kEndOfOptions);
    little16(section, 0);
    std::string header = block(kSectionHeader, section);

    std::string interface;
    little16(interface, kUpperPdu);
    little16(interface, 0);
    little32(interface, 0);  // no snapshot limit
    option(interface, kTimestampResolution, std::string(1, static_cast<char>(kNanoseconds)));
    little16(interface, kEndOfOptions);
    little16(interface, 0);
    return header + block(kInterfaceDescription, interface);
}

std::string pcapngExchange(const ExchangeRecord &record) {
    constexpr std::int64_t kNsPerUs = 1000;
    if (record.request.empty() || (!record.lineSawRequest && !record.verdict))
        return {};  // nothing went on the line
    auto wallNs = [&](std::int64_t steadyUs) {
        return (record.wallStartUs + steadyUs - record.startUs) * kNsPerUs;
    };
    const std::int64_t sentNs = wallNs(record.sentUs.value_or(record.startUs));
    std::string packets =
        block(kEnhancedPacket,
              packetBody(record, record.request, false, sentNs,
                         record.reply.empty()
                             ? verdictComment(record) + functionComment(record)
                             : "#" + std::to_string(record.sequence) + " petición en " +
                                   safeText(record.port) + " (" + safeText(record.portKind) + ", " +
                                   safeText(record.settings) + ")" + functionComment(record)));
    if (!record.reply.empty()) {
        packets +=
            block(kEnhancedPacket, packetBody(record, record.reply, true,
                                              wallNs(record.firstByteUs.value_or(record.endUs)),
                                              verdictComment(record)));
    }
    return packets;
}

std::string pcapngCapture(const std::vector<const ExchangeRecord *> &records) {
    std::string capture = pcapngHeader();
    for (const ExchangeRecord *record : records)
        capture += pcapngExchange(*record);
    return capture;
}

}  // namespace marvalo
