#pragma once

#include <string>
#include <string_view>

#include "core/records/exchange_record.h"

namespace marvalo {

// Exchange records as CSV (RFC 4180): fields separated by commas, quoted
// when they hold a comma, a quote or a line break, quotes doubled, lines
// ended by CR LF. UTF-8 throughout, and the header begins with a byte-order
// mark so that spreadsheets read the accents right.
std::string csvField(std::string_view text);
std::string recordCsvHeader();
std::string recordCsvLine(const ExchangeRecord &record);

// A text cell a spreadsheet will not run: one that begins with "=", "+",
// "-", "@" (or a tab or CR, which some strip first) gets a leading
// apostrophe, as the usual CSV-injection rule has it.
std::string spreadsheetSafe(std::string text);

}  // namespace marvalo
