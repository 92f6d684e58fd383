// SPDX-License-Identifier: MIT
// What the program sets up once, before its window exists: the user-interface
// font, the font-name mapping for the fonts the form names, the style and the
// program's icon.
#pragma once

#include <QFont>
#include <QIcon>
#include <QImage>

namespace nubaro {

// The program's font: a Japanese proportional gothic at 9 points, whose lines
// are 12 pixels high at 96 dots per inch, as the layout expects.
inline constexpr const char *kUiFontFamily = "IPAPGothic";
inline constexpr double kUiFontPoints = 9.0;

// The font that Check3 and Check4 ask for by name. It maps onto the installed
// metric-compatible P-Gothic.
inline constexpr const char *kCheckFontFamily = "ＭＳ Ｐゴシック";
inline constexpr double kCheckFontPoints = 8.25;

// The font Check3 and Check4 carry: the form's font name, 8.25 points, regular,
// no italic, underline or strike-through (the Shift-JIS character set of the
// form needs no setting: Qt picks glyphs by Unicode).
QFont checkBoxFont();

// Maps the form's font name onto the installed one, sets the program's font,
// style and icon. Call once, after the QApplication exists and before any
// widget is made; calling it again does no harm.
void setUpApplication();

// The program's icon as drawn: 32 x 32 pixels, 256 colours (8-bit indexed).
QImage iconImage();
// The same drawing at `size` x `size` pixels in full colour with alpha
// (smoothed above 32), for larger icons.
QImage iconRendering(int size);
QIcon programIcon();

} // namespace nubaro
