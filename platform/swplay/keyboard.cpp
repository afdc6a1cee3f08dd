#include "platform/swplay/keyboard.h"

namespace {

// Android key codes.
enum AndroidKey {
    Unknown = 0,
    Star = 17,
    Pound = 18,
    DpadUp = 19,
    DpadDown = 20,
    DpadLeft = 21,
    DpadRight = 22,
    Digit0 = 7,
    LetterA = 29,
    Comma = 55,
    Period = 56,
    Tab = 61,
    Space = 62,
    Enter = 66,
    Del = 67,
    Grave = 68,
    Minus = 69,
    Equals = 70,
    LeftBracket = 71,
    RightBracket = 72,
    Backslash = 73,
    Semicolon = 74,
    Apostrophe = 75,
    Slash = 76,
    At = 77,
    Plus = 81,
    PageUp = 92,
    PageDown = 93,
    Escape = 111,
    ForwardDel = 112,
    MoveHome = 122,
    MoveEnd = 123,
};

// Qt::Key values of the keys outside the Latin-1 range.
enum ToolkitKey {
    KeyEscape = 0x01000000,
    KeyTab = 0x01000001,
    KeyBackspace = 0x01000003,
    KeyReturn = 0x01000004,
    KeyEnter = 0x01000005,
    KeyDelete = 0x01000007,
    KeyHome = 0x01000010,
    KeyEnd = 0x01000011,
    KeyLeft = 0x01000012,
    KeyUp = 0x01000013,
    KeyRight = 0x01000014,
    KeyDown = 0x01000015,
    KeyPageUp = 0x01000016,
    KeyPageDown = 0x01000017,
};

} // namespace

Keyboard *Keyboard::GetInstance()
{
    static Keyboard instance;
    return &instance;
}

int Keyboard::getKeyCode(int key) const
{
    if (key >= 'A' && key <= 'Z')
        return LetterA + (key - 'A');
    if (key >= 'a' && key <= 'z')
        return LetterA + (key - 'a');
    if (key >= '0' && key <= '9')
        return Digit0 + (key - '0');
    switch (key) {
    case 8: // the view's Backspace
    case KeyBackspace:
        return Del;
    case 13: // the view's Return
    case KeyReturn:
    case KeyEnter:
        return Enter;
    case ' ': return Space;
    case ',': return Comma;
    case '.': return Period;
    case '-': return Minus;
    case '=': return Equals;
    case '[': return LeftBracket;
    case ']': return RightBracket;
    case '\\': return Backslash;
    case ';': return Semicolon;
    case '\'': return Apostrophe;
    case '/': return Slash;
    case '`': return Grave;
    case '@': return At;
    case '+': return Plus;
    case '*': return Star;
    case '#': return Pound;
    case '\t':
    case KeyTab:
        return Tab;
    case 27:
    case KeyEscape:
        return Escape;
    case KeyDelete: return ForwardDel;
    case KeyHome: return MoveHome;
    case KeyEnd: return MoveEnd;
    case KeyLeft: return DpadLeft;
    case KeyUp: return DpadUp;
    case KeyRight: return DpadRight;
    case KeyDown: return DpadDown;
    case KeyPageUp: return PageUp;
    case KeyPageDown: return PageDown;
    default: return Unknown;
    }
}
