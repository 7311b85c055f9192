#include "core/scan/bus_scan.h"

#include <algorithm>

#include "core/frames/check_codes.h"
#include "core/frames/frame_chars.h"
#include "core/line/line_types.h"
#include "core/modbus/function_table.h"
#include "core/modbus/modbus_request.h"
#include "core/modbus/reply_values.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "core/verdicts/verdict.h"

namespace marvalo {
namespace {

constexpr std::uint8_t kReadHolding = 3;
constexpr std::uint8_t kReportServerId = 17;
constexpr std::uint8_t kDeviceIdentification = 43;

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

}  // namespace

Result<std::vector<int>, std::string> parseNumberList(std::string_view text, int min, int max,
                                                      bool allowRanges) {
    const std::string range = std::to_string(min) + " a " + std::to_string(max);
    std::vector<int> numbers;
    std::vector<bool> seen(static_cast<std::size_t>(max - min + 1), false);
    std::string_view rest = text;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view piece = rest.substr(0, comma);
        const std::size_t dash = allowRanges ? piece.find('-', 1) : std::string_view::npos;
        const auto first = parseDecimalIn(piece.substr(0, dash), min, max);
        const auto last = dash == std::string_view::npos
                              ? first
                              : parseDecimalIn(piece.substr(dash + 1), min, max);
        if (!first || !last || *last < *first) {
            return "la lista " + quoted(text) + " no vale en " + quoted(piece) +
                   ": cada elemento es un número de " + range +
                   (allowRanges ? " o un intervalo creciente como 10-20" : "");
        }
        for (long n = *first; n <= *last; ++n) {
            if (!seen[static_cast<std::size_t>(n - min)]) {
                seen[static_cast<std::size_t>(n - min)] = true;
                numbers.push_back(static_cast<int>(n));
            }
        }
        if (comma == std::string_view::npos)
            return numbers;
        rest.remove_prefix(comma + 1);
    }
}

std::optional<ScanProbe> scanProbe(int function) {
    if (function == kReadHolding || function == kReportServerId ||
        function == kDeviceIdentification)
        return ScanProbe{function};
    return std::nullopt;
}

Bytes probeRequest(const ScanProbe &probe, int address) {
    ModbusCall call;
    call.address = static_cast<std::uint8_t>(address);
    call.function = static_cast<std::uint8_t>(probe.function);
    call.quantity = 1;  // 3: register 0, one word; 43/14: the basic objects from 0
    // Every probe at a scan's addresses is one the function table builds;
    // the reserved addresses are in the list only with --any-address.
    return buildModbusCall(call, true).value();
}

std::optional<std::string> whatAnswered(const ScanProbe &probe, const Bytes &request,
                                        const Bytes &heard) {
    // Our own probe heard back is nobody's answer; what follows it may be.
    const std::size_t echo =
        echoedRequestLength(static_cast<std::uint8_t>(Protocol::Modbus), request, heard);
    const Bytes reply(heard.begin() + static_cast<std::ptrdiff_t>(echo), heard.end());
    if (request.empty() || reply.size() < kModbusExceptionLength || reply[0] != request[0] ||
        !crcHolds(reply))
        return std::nullopt;
    if (const auto code = reply[1] == (probe.function | kModbusExceptionBit) ? exceptionCode(reply)
                                                                             : std::nullopt)
        return exceptionText(*code);
    if (reply[1] != probe.function)
        return std::nullopt;
    if (probe.function == kReadHolding && reply.size() == 7 && reply[2] == 2)
        return "registro 0 = " + std::to_string(reply[3] << 8 | reply[4]);
    if (const auto server = probe.function == kReportServerId ? serverId(reply) : std::nullopt)
        return serverIdText(*server);
    if (probe.function == kDeviceIdentification) {
        if (const auto objects = deviceObjects(reply); objects && !objects->empty()) {
            std::string text;
            for (const DeviceObject &object : *objects)
                text +=
                    (text.empty() ? "" : ", ") +
                    (object.name.empty() ? "objeto " + std::to_string(object.id) : object.name) +
                    " \"" + object.text + "\"";
            return text;
        }
    }
    return "respuesta de " + std::to_string(reply.size()) + " bytes a la función " +
           std::to_string(probe.function);
}

}  // namespace marvalo
