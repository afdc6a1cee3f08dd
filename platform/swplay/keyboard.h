#pragma once

// Maps the widget toolkit's key values (Qt::Key, plus 8 for Backspace and 13
// for Return) to Android key codes.
class Keyboard final
{
public:
    static Keyboard *GetInstance();
    // 0 (Android's "unknown") for keys the phone has no code for.
    int getKeyCode(int key) const;

private:
    Keyboard() = default;
};
