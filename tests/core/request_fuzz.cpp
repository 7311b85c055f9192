// libFuzzer target: any texts from the panel either build a frame that ends
// in its own check code or come back as a rejection; nothing crashes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/frames/check_codes.h"
#include "core/frames/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace marvalo;
    if (size < 3) {
        return 0;
    }
    const std::uint8_t protocol = data[0] % 4;  // 3 is a damaged settings line
    const int function = static_cast<int>(data[1] % 6) - 1;
    const std::string rest(reinterpret_cast<const char *>(data + 2), size - 2);

    // Split the rest at NULs into the panel's text boxes.
    std::string fields[4];
    std::size_t field = 0;
    for (char c : rest) {
        if (c == '\0' && field < 3) {
            ++field;
        } else {
            fields[field].push_back(c);
        }
    }
    RequestInputs inputs;
    inputs.addressText = fields[0].substr(0, 2);
    inputs.addressNumber = fields[0].empty() ? 0 : static_cast<unsigned char>(fields[0][0]) % 120;
    inputs.instructionText = fields[1];
    inputs.wordCountText = fields[2];
    inputs.dataText = fields[3];
    inputs.functionIndex = function;

    auto frame = BuildRequest(protocol, inputs);
    if (frame.ok() && protocol == 2) {
        const Bytes &bytes = frame.value();
        if (bytes.size() < 4)
            std::abort();
        const Bytes crc = CalcCRC(std::span(bytes).first(bytes.size() - 2));
        if (crc[0] != bytes[bytes.size() - 2] || crc[1] != bytes.back())
            std::abort();
    }
    (void)BytesFromList(fields[3]);
    return 0;
}
