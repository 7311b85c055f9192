#include "core/sim/faults.h"

#include <span>

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/settings/panel_state.h"
#include "core/sim/line_engine.h"

namespace marvalo {
namespace {

constexpr std::size_t kCrcLength = 2;

void resealModbus(Bytes &frame) {
    frame.resize(frame.size() - kCrcLength);
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
}

Bytes wrongAddress(Protocol protocol, const Bytes &request, Bytes answer, std::optional<int> as) {
    switch (protocol) {
        case Protocol::Modbus:
            answer[0] =
                as ? static_cast<std::uint8_t>(*as) : static_cast<std::uint8_t>(answer[0] + 1);
            resealModbus(answer);
            return answer;
        case Protocol::Iso1745: {
            // A heading names the answering address; ours names the next one.
            const int next =
                as.value_or(std::stoi(std::string(request.begin() + 1, request.begin() + 3)) + 1) %
                kAddressCount;
            const std::string digits = addressText(next);
            Bytes heading{kSoh, static_cast<std::uint8_t>(digits[0]),
                          static_cast<std::uint8_t>(digits[1])};
            answer.insert(answer.begin(), heading.begin(), heading.end());
            return answer;
        }
        case Protocol::Korvel:
            break;
    }
    // Korvel answers start with the address digits.
    const std::string digits = addressText(
        as.value_or(std::stoi(std::string(request.begin() + 1, request.begin() + 3)) + 1) %
        kAddressCount);
    answer[0] = static_cast<std::uint8_t>(digits[0]);
    answer[1] = static_cast<std::uint8_t>(digits[1]);
    return answer;
}

}  // namespace

Faults Faults::dueFor(long request) const {
    return request % every == 0 ? *this : Faults{};
}

Bytes Faults::apply(const Bytes &request, Bytes answer) const {
    return apply(sim::protocolOf(request), request, std::move(answer));
}

Bytes Faults::apply(Protocol protocol, const Bytes &request, Bytes answer) const {
    if (exception) {
        if (protocol == Protocol::Modbus) {
            answer = {request[0], static_cast<std::uint8_t>(request[1] | kModbusExceptionBit),
                      *exception, 0, 0};
            resealModbus(answer);
        } else if (protocol == Protocol::Iso1745) {
            answer = {kNak};
        }
    }
    constexpr std::size_t kAddressDigits = 2;
    if (wrongAddress && answer.size() >= kAddressDigits) {
        answer = marvalo::wrongAddress(protocol, request, std::move(answer), as);
    }
    if (badCheck && protocol != Protocol::Korvel && !answer.empty()) {
        answer.back() ^= 0x01;
    }
    if (shortTo && *shortTo < answer.size()) {
        answer.resize(*shortTo);
    }
    answer.insert(answer.begin(), stray.begin(), stray.end());
    return answer;
}

}  // namespace marvalo
