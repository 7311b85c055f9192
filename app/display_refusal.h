#pragma once

#include <string>
#include <string_view>

namespace marvalo {

// Qt ends the program with abort() (status 134) and English words when the
// display it is given cannot be opened (DISPLAY=:99 with no server there).
// Between these two calls, around the QApplication's construction, that end
// is a Spanish message naming the display and the ways to run without one,
// and exit status kDisplayRefused. Any other end there (a platform plugin
// that does not exist) says the graphics platform could not start and
// passes on Qt's own words, which name the plugins there are. Qt's words
// from that time are otherwise held back and passed on only if the
// application starts.
void refuseUnopenedDisplay();
void displayOpened();

// The status of "no display", set or reachable.
inline constexpr int kDisplayRefused = 1;

// The one "no display" line, whether none was named or the one named did
// not answer: `what` says which, the rest how to run with one or without.
std::string noDisplayMessage(std::string_view what);

}  // namespace marvalo
