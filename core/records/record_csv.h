#pragma once

#include <string>
#include <string_view>

#include "core/records/exchange_record.h"

namespace marvalo {

// How a spreadsheet reads the numbers: the plain CSV (`,` between fields,
// `.` in numbers), or the one a spreadsheet whose locale writes a decimal
// comma reads (`;` between fields, `,` in numbers), where "9.639" would be
// read as 9639.
enum class CsvStyle { Plain, DecimalComma };
// DecimalComma where the locale's decimal mark is a comma.
CsvStyle csvStyleFor(std::string_view decimalMark);

// Exchange records as CSV (RFC 4180): fields separated as `style` has it,
// quoted when they hold the separator, a quote or a line break, quotes
// doubled, lines ended by CR LF. UTF-8 throughout, and the header begins
// with a byte-order mark so that spreadsheets read the accents right.
std::string csvField(std::string_view text, char separator = ',');
std::string recordCsvHeader(CsvStyle style = CsvStyle::Plain);
std::string recordCsvLine(const ExchangeRecord &record, CsvStyle style = CsvStyle::Plain);

// A text cell a spreadsheet will not run: one that begins with "=", "+",
// "-", "@" (or a tab or CR, which some strip first) gets a leading
// apostrophe, as the usual CSV-injection rule has it.
std::string spreadsheetSafe(std::string text);

}  // namespace marvalo
