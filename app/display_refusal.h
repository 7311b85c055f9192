#pragma once

namespace marvalo {

// Qt ends the program with abort() (status 134) and English words when the
// display it is given cannot be opened (DISPLAY=:99 with no server there).
// Between these two calls, around the QApplication's construction, that end
// is a Spanish message naming the display and the ways to run without one,
// and exit status kDisplayRefused. Qt's own words from that time are held
// back and passed on only if the application starts.
void refuseUnopenedDisplay();
void displayOpened();

// The status of "no display", set or reachable.
inline constexpr int kDisplayRefused = 1;

}  // namespace marvalo
