#include "core/sim/line_engine.h"

#include <optional>

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/plans/reply_pattern.h"
#include "core/sim/faults.h"
#include "core/sim/live_values.h"
#include "core/sim/text_answers.h"
#include "core/text/latin1.h"

namespace marvalo::sim {
namespace {

// Both text protocols carry the address as two decimal digits right after
// their first byte ("*" or SOH).
std::optional<int> textAddress(const Bytes &request) {
    const auto digit = [](std::uint8_t c) { return c >= '0' && c <= '9'; };
    if (request.size() < 3 || !digit(request[1]) || !digit(request[2]))
        return std::nullopt;
    return (request[1] - '0') * 10 + (request[2] - '0');
}

constexpr std::size_t kModbusMinimum = 4;  // address, function, CRC

// The functions whose request carries a start, and those with a quantity
// after it, for a rule's start and quantity.
bool hasStart(std::uint8_t function) {
    return (function >= 1 && function <= 6) || function == 15 || function == 16 || function == 22 ||
           function == 23;
}
bool hasQuantity(std::uint8_t function) {
    return (function >= 1 && function <= 4) || function == 15 || function == 16 || function == 23;
}

// A read answered with `count` registers (or bytes of bits) instead of
// those asked: the data cut or padded with zeros, the count and CRC made
// to agree, so only the length is wrong.
Bytes withCount(Bytes reply, int count) {
    if (reply.size() < 5 || (reply[1] & kModbusExceptionBit) != 0)
        return reply;
    const bool words = reply[1] == 3 || reply[1] == 4 || reply[1] == 23;
    const std::size_t bytes = static_cast<std::size_t>(count) * (words ? 2 : 1);
    Bytes data(reply.begin() + 3, reply.end() - 2);
    data.resize(bytes, 0);
    Bytes out{reply[0], reply[1], static_cast<std::uint8_t>(bytes)};
    out.insert(out.end(), data.begin(), data.end());
    const Bytes crc = CalcCRC(out);
    out.insert(out.end(), crc.begin(), crc.end());
    return out;
}

}  // namespace

Protocol protocolOf(const Bytes &request) {
    if (request.size() >= kModbusMinimum && crcHolds(request))
        return Protocol::Modbus;
    return !request.empty() && request.front() == kSoh ? Protocol::Iso1745 : Protocol::Korvel;
}

struct LineEngine::Played {
    Instrument model;
    std::optional<ModbusServer> modbus;
    std::vector<CompiledPattern> answers;
    std::vector<std::optional<CompiledPattern>> ruleInstructions;
    std::vector<std::uint64_t> ruleMatches;
    std::uint64_t textRequests = 0;

    explicit Played(const Instrument &instrument) : model(instrument) {
        if (model.speaks(Protocol::Modbus))
            modbus.emplace(model);
        for (const TextAnswer &answer : model.answers)
            answers.emplace_back(answer.instruction);
        for (const Rule &rule : model.rules) {
            ruleInstructions.emplace_back();
            if (rule.instruction)
                ruleInstructions.back().emplace(*rule.instruction);
        }
        ruleMatches.assign(model.rules.size(), 0);
    }

    // The first rule whose given fields all match, counted; it applies on
    // its every-th match and with its probability.
    const Rule *ruleFor(Protocol protocol, const Bytes &request, const std::string &instruction,
                        int &index) {
        for (std::size_t i = 0; i < model.rules.size(); ++i) {
            const Rule &rule = model.rules[i];
            const bool modbusFrame = protocol == Protocol::Modbus;
            const std::uint8_t function = modbusFrame ? request[1] : 0;
            const bool matches =
                (!rule.function || (modbusFrame && *rule.function == function)) &&
                (!rule.start || (modbusFrame && hasStart(function) && request.size() >= 6 &&
                                 ((request[2] << 8) | request[3]) == *rule.start)) &&
                (!rule.quantity || (modbusFrame && hasQuantity(function) && request.size() >= 8 &&
                                    ((request[4] << 8) | request[5]) == *rule.quantity)) &&
                (!ruleInstructions[i] ||
                 (!modbusFrame && ruleInstructions[i]->wholeMatch(instruction)));
            if (!matches)
                continue;
            const std::uint64_t n = ++ruleMatches[i];
            if (n % static_cast<std::uint64_t>(rule.every) != 0)
                return nullptr;
            if (rule.probability && drawnFraction(rule.seed, n) >= *rule.probability)
                return nullptr;
            index = static_cast<int>(i);
            return &rule;
        }
        return nullptr;
    }

    double firstValue(double seconds) const {
        return model.values.empty() ? 0 : valueAt(model.values.front(), textRequests, seconds);
    }

    // A text instruction's reply text, or none when no answer matches.
    std::optional<std::pair<std::string, int>> textReply(Protocol protocol,
                                                         const std::string &instruction,
                                                         double seconds) {
        for (std::size_t i = 0; i < answers.size(); ++i) {
            const TextAnswer &answer = model.answers[i];
            if (answer.protocol && *answer.protocol != protocol)
                continue;
            if (auto groups = answers[i].wholeMatch(instruction)) {
                const std::string text = renderReply(answer.reply, addressText(model.address),
                                                     firstValue(seconds), *groups);
                ++textRequests;
                return std::make_pair(text, answer.delayMs);
            }
        }
        return std::nullopt;
    }
};

LineEngine::LineEngine(const InstrumentFile &file) {
    for (const Instrument &instrument : file.instruments)
        played_.push_back(std::make_unique<Played>(instrument));
}
LineEngine::~LineEngine() = default;
LineEngine::LineEngine(LineEngine &&) noexcept = default;
LineEngine &LineEngine::operator=(LineEngine &&) noexcept = default;

LineAnswer LineEngine::answer(const Bytes &request, double seconds) {
    LineAnswer out;
    out.protocol = protocolOf(request);
    Played *played = nullptr;
    auto find = [&](Protocol protocol, int address) {
        out.address = address;
        for (auto &one : played_) {
            if (one->model.address == address && one->model.speaks(protocol))
                played = one.get();
        }
        out.known = played != nullptr;
    };
    // No text frame: a Modbus frame for one of ours whose CRC is wrong?
    // On a line that speaks no text, any frame is Modbus: a fragment or a
    // truncated request is a broken one, never a text frame.
    auto notText = [&] {
        if (request.empty())
            return;
        bool text = false;
        for (auto &one : played_) {
            text =
                text || one->model.speaks(Protocol::Korvel) || one->model.speaks(Protocol::Iso1745);
            if (one->modbus && one->model.address == request[0])
                out.known = true;
        }
        if (!out.known && text)
            return;
        out.protocol = Protocol::Modbus;
        out.address = request[0];
        if (request.size() >= 2)
            out.function = request[1];
        if (!out.known)
            return;
        if (request.size() < kModbusMinimum)
            out.malformed = true;
        else
            out.badCheck = true;
    };
    std::string instruction;
    switch (out.protocol) {
        case Protocol::Modbus: {
            out.function = request[1];
            if (request[0] == kModbusBroadcast) {
                // Every Modbus instrument carries a broadcast out; none answers.
                out.address = 0;
                out.known = true;
                for (auto &one : played_) {
                    if (one->modbus)
                        out.modbus = one->modbus->answer(request, seconds);
                }
                return out;
            }
            find(Protocol::Modbus, request[0]);
            if (played == nullptr)
                return out;
            out.modbus = played->modbus->answer(request, seconds);
            out.reply = out.modbus.reply;
            out.malformed = out.modbus.broken;
            break;
        }
        case Protocol::Iso1745: {
            // SOH A A STX text ETX BCC
            if (request.size() < 6 || request[3] != kStx || request[request.size() - 2] != kEtx) {
                notText();
                return out;
            }
            const auto address = textAddress(request);
            if (!address) {
                notText();
                return out;
            }
            find(Protocol::Iso1745, *address);
            if (played == nullptr)
                return out;
            const Bytes body(request.begin() + 1, request.end() - 1);
            if (CalcBCC(body) != request.back()) {
                out.badCheck = true;
                out.reply = Bytes{kNak};
                return out;
            }
            instruction = utf8FromLatin1(Bytes(request.begin() + 4, request.end() - 2));
            if (auto text = played->textReply(Protocol::Iso1745, instruction, seconds)) {
                Bytes checked = latin1FromUtf8(text->first).bytes;
                checked.push_back(kEtx);
                Bytes reply{kStx};
                reply.insert(reply.end(), checked.begin(), checked.end());
                reply.push_back(bccOfCheckedPart(checked));
                out.reply = reply;
                out.delayMs = text->second;
            }
            break;
        }
        case Protocol::Korvel: {
            // "*" A A instruction CR
            if (request.size() < 4 || request.front() != kKorvelStart || request.back() != kCr) {
                notText();
                return out;
            }
            const auto address = textAddress(request);
            if (!address) {
                notText();
                return out;
            }
            find(Protocol::Korvel, *address);
            if (played == nullptr)
                return out;
            instruction = utf8FromLatin1(Bytes(request.begin() + 3, request.end() - 1));
            if (auto text = played->textReply(Protocol::Korvel, instruction, seconds)) {
                Bytes reply = latin1FromUtf8(text->first).bytes;
                reply.push_back(kCr);
                out.reply = reply;
                out.delayMs = text->second;
            }
            break;
        }
    }
    int index = -1;
    const Rule *rule = played->ruleFor(out.protocol, request, instruction, index);
    if (rule == nullptr)
        return out;
    out.rule = index;
    out.ruleWhere = rule->place.text();
    Faults faults;
    switch (rule->fault) {
        case FaultKind::Silent:
            out.reply.reset();
            return out;
        case FaultKind::Delay:
            out.delayMs += rule->delayMs;
            return out;
        case FaultKind::Echo:
            out.echo = true;
            return out;
        case FaultKind::Slow:
            out.slowMs = rule->delayMs;
            return out;
        case FaultKind::Count:
            if (out.reply && out.protocol == Protocol::Modbus)
                out.reply = withCount(*out.reply, rule->count);
            return out;
        case FaultKind::Exception:
            faults.exception = rule->code;
            break;
        case FaultKind::BadCheck:
            faults.badCheck = true;
            break;
        case FaultKind::Short:
            faults.shortTo = static_cast<std::size_t>(rule->count);
            break;
        case FaultKind::WrongAddress:
            faults.wrongAddress = true;
            faults.as = rule->as;
            break;
        case FaultKind::Stray:
            faults.stray = rule->stray;
            break;
    }
    // An exception answers even a request the instrument had no reply for.
    if (out.reply || faults.exception)
        out.reply = faults.apply(out.protocol, request, out.reply.value_or(Bytes{}));
    if (out.reply && out.reply->empty())
        out.reply.reset();
    return out;
}

}  // namespace marvalo::sim
