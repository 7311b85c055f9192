#pragma once

#include <QRect>
#include <QString>
#include <optional>

namespace marvalo {

// Where each control of the window stands, as designed in twips (1/1440 in)
// and converted once at 15 twips per pixel. Controls inside a frame are
// placed relative to the frame.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kWindowWidthTwips = 9480;
inline constexpr int kWindowHeightTwips = 6495;

struct ControlPlace {
    const char *name;
    int left, top, width, height;  // twips
    int tabIndex;                  // -1: not in the tab order
};

std::optional<ControlPlace> placeOf(const QString &name);
QRect pixelRect(const ControlPlace &place);

}  // namespace marvalo
