#pragma once

#include <string>
#include <string_view>

#include "core/exchange_record.h"

namespace marvalo {

// Exchange records as CSV (RFC 4180): fields separated by commas, quoted
// when they hold a comma, a quote or a line break, quotes doubled, lines
// ended by CR LF. UTF-8 throughout.
std::string csvField(std::string_view text);
std::string recordCsvHeader();
std::string recordCsvLine(const ExchangeRecord &record);

}  // namespace marvalo
