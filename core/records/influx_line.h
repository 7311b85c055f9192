#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/records/exchange_record.h"
#include "core/records/register_values.h"
#include "core/settings/panel_state.h"

namespace marvalo {

// One exchange as a line of InfluxDB's line protocol, for Telegraf's execd
// input and anything else that reads it:
//   marvalo,port=COM\ 1,protocol=modbus,address=17,function=3,verdict=ok
//   first_byte_ms=5.27,duration_ms=5.31,reg_10=42i 1765245600123456000
// Tags: the port, the protocol, the address, Modbus's function, the verdict
// ("failed" for a failed exchange, "interrupted" for one whose wait a stop
// cut short, `interrupted`: no verdict is known for it). Fields: the times in milliseconds, the
// reply's length, each register by its number (integers with "i", f32 as
// a float, NaN and the infinities left out since InfluxDB refuses them,
// text as a string), a failure's reason. The time is the exchange's start,
// in nanoseconds. Texts pass the program's one rule for outside text
// first, so no control character (no line break) reaches the line.
std::string influxLine(const ExchangeRecord &record, const RequestInputs &inputs,
                       const std::optional<std::vector<RegisterValue>> &registers,
                       bool interrupted = false);

// The line protocol's escapes: a tag key or value or a field key gets a
// backslash before comma, equals sign and space (a backslash of its own
// that ends it or comes before one of those, which InfluxDB 1.x cannot
// read back, is written <5C>); a string field value is quoted, with a
// backslash before quote and backslash.
std::string influxKey(const std::string &text);
std::string influxString(const std::string &text);

}  // namespace marvalo
