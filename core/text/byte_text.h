#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/frames/bytes.h"

namespace marvalo {

// Bytes as people read them on a line monitor, the one rule for a reply's
// text wherever it is shown (terminal, JSON, CSV, monitor, pane, plans):
// valid UTF-8 kept, any other byte its Latin-1 character ("25°C" whether
// the instrument sent C2 B0 or B0), control characters by name ("<STX>",
// "<CR>") and the rest of C0, DEL and C1 as hex in brackets ("<1F>",
// "<85>"), so a frame's structure shows at a glance, nothing is invisible
// and no byte from the line can steer a terminal. safeText below, on bytes.
std::string namedText(const Bytes &bytes);

// The same for at most `limit` bytes, then "… (N bytes)" for the whole
// length: a cell or a line that must stay a line.
std::string namedTextUpTo(const Bytes &bytes, std::size_t limit);

// namedText in lines of `perLine` bytes, for a dump beside the hex: a
// character is on the line its first byte is on, so a UTF-8 sequence that
// straddles two lines reads as the whole frame reads it, never as Latin-1.
std::vector<std::string> namedTextLines(const Bytes &bytes, std::size_t perLine);

// Bytes for a tooltip or a pane that must fit a screen: the hex in lines of
// `perLine` bytes, then the named text in lines of as many bytes, at most
// `limit` bytes in all and then "… (N bytes)".
std::string wrappedBytes(const Bytes &bytes, std::size_t perLine, std::size_t limit);

// A sentence broken at blanks into lines of at most `width` bytes (a longer
// word is cut).
std::string wrappedWords(std::string_view text, std::size_t width);

// The one rule for every other text that comes from outside the program
// (device paths, file names, file contents) before it reaches a terminal,
// JSON or CSV: valid UTF-8 is kept, a byte that is not part of valid UTF-8
// is read as the Latin-1 character of that value (as the line's text is),
// and control characters, C0, DEL and C1, are written as namedText writes
// them. The result is always valid UTF-8 without control characters.
std::string safeText(std::string_view bytes);

// safeText for a report that XML 1.0 or a TAP reader takes: the two
// non-characters U+FFFE and U+FFFF, which XML refuses, are named "<FFFE>"
// and "<FFFF>" in every report alike.
std::string reportText(std::string_view bytes);

}  // namespace marvalo
