#pragma once

#include <optional>

#include "core/frames/bytes.h"
#include "core/settings/panel_state.h"
#include "core/sim/line_engine.h"

namespace marvalo {

// marvalo-sim's own instrument, the one it plays without a file: the
// built-in instrument file (--print-instrument writes it) at one address,
// speaking all three protocols. In short:
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
// Modbus RTU at our address, CRC checked: holding register n holds n,
// input register n holds 1000 + n (n = 0..599) and the 256 coils start
// off; writes are kept. Registers 500..511 hold values that only 32-bit and
// signed formats show right, the 32-bit ones high word first (ABCD):
//   500-501 u32 3000000366       502-503 u32 4294967295
//   504-505 s32 -2147483648      506-507 f32 20 +/- 5, a sine
//   508     s16 +/-1000, a sine   509     s16 -1234
//   510-511 u32 a counter from 3000000000
// The sines take one step of 40 to a wave and the counter one up with
// every Modbus request answered.
// Broadcasts (Modbus address 0) are carried out and never answered.
// Other addresses, damaged Modbus frames and unrecognised bytes: no answer.
class Instrument {
  public:
    explicit Instrument(int address);

    std::optional<Bytes> answer(const Bytes &request);

    // Which protocol a request frame speaks, by the rule answer() uses.
    static Protocol protocolOf(const Bytes &request) { return sim::protocolOf(request); }

  private:
    sim::LineEngine engine_;
};

}  // namespace marvalo
