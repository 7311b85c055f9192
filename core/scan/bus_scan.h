#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/frames/bytes.h"
#include "core/result.h"

namespace marvalo {

// "1-247", "1,5,10-20": the numbers in min..max, in the order given, each
// once. Ranges only where allowRanges (a list of rates has none). On
// failure a Spanish sentence naming the piece that is wrong.
Result<std::vector<int>, std::string> parseNumberList(std::string_view text, int min, int max,
                                                      bool allowRanges);

// What a scan asks each address: only reads and identification, so a scan
// never changes a unit.
inline constexpr int kFirstScanAddress = 1;
inline constexpr int kLastScanAddress = 247;
inline constexpr int kLastAnyScanAddress = 255;  // with --any-address, the reserved ones too

struct ScanProbe {
    int function;
};
// The probe for `function`, or nullopt when a scan cannot ask it.
std::optional<ScanProbe> scanProbe(int function);
// The probe's request to `address` (1..255), CRC included.
Bytes probeRequest(const ScanProbe &probe, int address);

// What answered `request`, from a reply that is a whole frame from its
// address with its CRC right (a normal answer or an exception), after our
// own request heard back, if it was; nullopt for anything else: silence,
// noise, the echo alone, a late answer of another address.
std::optional<std::string> whatAnswered(const ScanProbe &probe, const Bytes &request,
                                        const Bytes &reply);

}  // namespace marvalo
