#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <Qt>

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

// What one key press on a control window gives the phone.
struct KeyInput
{
    enum Kind { Nothing, Key, Text };
    Kind kind = Nothing;
    int keyValue = 0; // Key: the key value for the view's sendKey
    QString text;     // Text: the characters as typed
};

// Characters go as typed, whatever layout, Shift or Caps Lock made them:
// those a phone key types unshifted (a-z, 0-9, space and the plain
// symbols) as that key, every other printable character (capitals, shifted
// symbols, any script) as text. Keys without text (Return, Backspace,
// arrows...) go as their phone key; keys the phone has no code for, and
// shortcuts held with Ctrl, Alt or Meta, give nothing.
KeyInput keyInput(int toolkitKey, const QString &text, Qt::KeyboardModifiers modifiers);

// Text an input method committed, as the phone gets it: control characters
// are dropped (a commit is characters, never keys); empty means nothing to send.
QString committedText(const QString &commit);

// Linux input key codes of the navigation bar: 1 home, 2 back, 3 menu;
// 0 for anything else.
int navigationKeyCode(int which);

// After a press: whether the control panel stays as it is. In portrait the
// panel stays only for presses inside its own rectangle taken at the view's
// origin; in landscape it stays for every press outside that rectangle.
bool panelSurvivesPress(const QPoint &viewPos, const QSize &panelSize, bool portrait);

} // namespace InputMapping
