// The five looks of the main window (ids 214 to 218) and the four older
// ones a stored "ApplicationLook" may still name (210 to 213).
#pragma once

#include <QString>

class QWidget;

namespace orvex {

inline constexpr int kLookPlain = 210;
inline constexpr int kLookOfficeXp = 211;
inline constexpr int kLookWindows = 212;
inline constexpr int kLook2003 = 213;
inline constexpr int kLook2005 = 214;  // the default
inline constexpr int kLookBlue = 215;
inline constexpr int kLookBlack = 216;
inline constexpr int kLookSilver = 217;
inline constexpr int kLookAqua = 218;

// Ids outside 210..218 stand for the 2007-style look in its current colour.
int NormalizeLook(int id);
// The style sheet that draws the frame's menus, toolbars, panes and status
// bar in the look (the plain look leaves them to the style), and the
// console's pressed toggles in every look.
QString LookStyleSheet(int id);
// Applies the look to the window and all its children at once.
void ApplyLookTo(QWidget& window, int id);

}  // namespace orvex
