#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

// The rules that turn local input into phone input, kept free of widgets so
// they can be checked without a window or a stream.
namespace InputMapping {

// Touch actions of the streaming library.
enum TouchAction { TouchDown = 0, TouchUp = 1, TouchMove = 2 };
// The one key action the views send: a whole press.
constexpr int KeyPress = 3;

// Which picture the view shows: the phone upright, or turned by 270 degrees.
// A position in the view maps to phone pixels, truncated toward zero.
QPoint toPhone(const QPointF &viewPos, const QSize &viewSize, const QSize &sourceSize, bool portrait);

// The key value the view gets for a toolkit key: Backspace 8, Return 13,
// everything else (keypad Enter included) unchanged.
int keyValue(int toolkitKey);

// Linux input key codes of the navigation bar: 1 home, 2 back, 3 menu;
// 0 for anything else.
int navigationKeyCode(int which);

// After a press: whether the control panel stays as it is. In portrait the
// panel stays only for presses inside its own rectangle taken at the view's
// origin; in landscape it stays for every press outside that rectangle.
bool panelSurvivesPress(const QPoint &viewPos, const QSize &panelSize, bool portrait);

} // namespace InputMapping
