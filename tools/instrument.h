#pragma once

#include <modbus.h>

#include <memory>
#include <optional>
#include <string>

#include "core/frames/bytes.h"
#include "core/settings/panel_state.h"

namespace marvalo {

// The simulated instrument's answers, independent of any line: one request
// frame in, the reply frame out (or none when it stays quiet).
//
// Korvel protocol, request "*" AA text CR, at our address AA:
//   "D"  reading      -> AA "D+0023.4" CR
//   "V"  version      -> AA "VMARVALO-SIM 1.0" CR
//   "A"  address      -> AA "A" AA CR
//   anything else     -> AA "?" CR
// ISO 1745, request SOH AA STX text ETX BCC, at our address:
//   wrong BCC         -> NAK (15)
//   "0D" reading      -> STX "0D+0023.4" ETX BCC
//   "0V" version      -> STX "0VMARVALO-SIM 1.0" ETX BCC
//   anything else     -> STX "?" ETX BCC
//   (BCC: XOR of text and ETX, plus 32 when below 32, as requests carry it)
// Modbus RTU at our address, CRC checked: answered by libmodbus over a bank
// where holding register n holds n, input register n holds 1000 + n
// (n = 0..599) and the 256 coils start off; writes are kept. Registers
// 500..511 instead hold values that only 32-bit and signed formats show
// right, the 32-bit ones high word first (ABCD):
//   500-501 u32 3000000366       502-503 u32 4294967295
//   504-505 s32 -2147483648      506-507 f32 20 +/- 5, a sine
//   508     s16 +/-1000, a sine   509     s16 -1234
//   510-511 u32 a counter from 3000000000
// The sines take one step of 40 to a wave and the counter one up with
// every Modbus request answered.
// Broadcasts (Modbus address 0) are carried out and never answered.
// Other addresses, damaged Modbus frames and unrecognised bytes: no answer.
// (A frame whose Modbus CRC holds is taken for Modbus.)
class Instrument {
  public:
    explicit Instrument(int address);
    ~Instrument();
    Instrument(const Instrument &) = delete;
    Instrument &operator=(const Instrument &) = delete;

    std::optional<Bytes> answer(const Bytes &request);

    // Which protocol a request frame speaks, by the rule answer() uses.
    static Protocol protocolOf(const Bytes &request);

    static constexpr int kRegisterCount = 600;
    static constexpr int kCoilCount = 256;
    static constexpr const char *kReading = "+0023.4";
    static constexpr const char *kVersion = "MARVALO-SIM 1.0";
    static constexpr int kLargeU32 = 500;
    static constexpr int kLargestU32 = 502;
    static constexpr int kLowestS32 = 504;
    static constexpr int kSineF32 = 506;
    static constexpr int kSineS16 = 508;
    static constexpr int kNegativeS16 = 509;
    static constexpr int kCounterU32 = 510;

  private:
    std::optional<Bytes> answerKorvel(const Bytes &request) const;
    std::optional<Bytes> answerIso1745(const Bytes &request) const;
    std::optional<Bytes> answerModbus(const Bytes &request);
    void setWide(int first, std::uint32_t value);
    void moveLiveRegisters();

    int address_;
    std::string addressText_;
    modbus_t *modbus_ = nullptr;
    modbus_mapping_t *bank_ = nullptr;
    int replyPipe_[2] = {-1, -1};  // libmodbus writes its reply here
    std::uint64_t reads_ = 0;      // Modbus requests answered, for the live registers
};

}  // namespace marvalo
