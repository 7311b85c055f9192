#include "core/records/register_series.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <set>

#include "core/frames/check_codes.h"
#include "core/modbus/function_table.h"

namespace marvalo {
namespace {

constexpr std::size_t kReadHeading = 3;  // address, function, byte count
constexpr std::size_t kCrcLength = 2;

std::uint32_t byteAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at];
}

}  // namespace

std::optional<ReadSpan> askedSpan(const Bytes &request) {
    // 3, 4 and 23 read registers from the start their request names first.
    const auto form = replyFormOf(request);
    if (!form || !form->info || form->shape != ReplyShape::ByteCount ||
        form->info->count != CountRule::Words || !form->byteCount)
        return std::nullopt;
    return ReadSpan{static_cast<int>((byteAt(request, 2) << 8) | byteAt(request, 3)),
                    static_cast<int>(*form->byteCount / 2)};
}

std::optional<ReadSpan> readSpan(const Bytes &request, std::span<const std::uint8_t> reply) {
    const auto asked = askedSpan(request);
    if (!asked || reply.size() < kReadHeading + kCrcLength || reply[0] != request[0] ||
        reply[1] != request[1])
        return std::nullopt;
    // Values only for the registers asked: a reply of another count cannot
    // say which registers it holds.
    const std::size_t count = reply[2];
    if (count != 2 * static_cast<std::size_t>(asked->registers) ||
        reply.size() != kReadHeading + count + kCrcLength || !crcHolds(reply))
        return std::nullopt;
    return asked;
}

std::optional<double> registerValueIn(std::span<const std::uint8_t> reply, ReadSpan span,
                                      RegisterView view, int number) {
    const int offset = number - span.start;
    if (offset < 0 || offset >= span.registers || view.format == RegisterFormat::Text)
        return std::nullopt;
    const std::size_t at = kReadHeading + 2 * static_cast<std::size_t>(offset);
    const auto word = static_cast<std::uint16_t>((byteAt(reply, at) << 8) | byteAt(reply, at + 1));
    if (!isWideFormat(view.format)) {
        if (view.format == RegisterFormat::S16)
            return static_cast<std::int16_t>(word);
        return word;
    }
    if (offset % 2 != 0)
        return std::nullopt;
    if (offset + 1 == span.registers)
        return word;  // the odd last register, alone
    // Bytes A B C D as they arrive, reordered to A (most significant) first.
    const std::uint32_t w0 = byteAt(reply, at), w1 = byteAt(reply, at + 1),
                        w2 = byteAt(reply, at + 2), w3 = byteAt(reply, at + 3);
    std::uint32_t wide = 0;
    switch (view.order) {
        case WordOrder::ABCD:
            wide = (w0 << 24) | (w1 << 16) | (w2 << 8) | w3;
            break;
        case WordOrder::CDAB:
            wide = (w2 << 24) | (w3 << 16) | (w0 << 8) | w1;
            break;
        case WordOrder::BADC:
            wide = (w1 << 24) | (w0 << 16) | (w3 << 8) | w2;
            break;
        case WordOrder::DCBA:
            wide = (w3 << 24) | (w2 << 16) | (w1 << 8) | w0;
            break;
    }
    switch (view.format) {
        case RegisterFormat::S32:
            return static_cast<std::int32_t>(wide);
        case RegisterFormat::F32:
            return std::bit_cast<float>(wide);
        default:
            return wide;
    }
}

std::vector<int> chartableRegisters(const std::vector<ReadSpan> &spans, RegisterView view) {
    if (view.format == RegisterFormat::Text)
        return {};
    const int step = isWideFormat(view.format) ? 2 : 1;
    std::set<int> numbers;
    for (const ReadSpan &span : spans) {
        for (int offset = 0; offset < span.registers; offset += step)
            numbers.insert(span.start + offset);
    }
    return {numbers.begin(), numbers.end()};
}

}  // namespace marvalo
