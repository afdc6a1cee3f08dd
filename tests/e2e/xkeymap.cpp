#include "tests/e2e/xkeymap.h"

#include <QVector>

#include <X11/Xlib.h>

namespace TestSupport {

bool bindCharactersToSpareKeys(const QString &text)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    int perCode = 0;
    KeySym *map = XGetKeyboardMapping(display, KeyCode(minCode), maxCode - minCode + 1, &perCode);
    auto bound = [&](KeySym sym) {
        for (int i = 0; i < (maxCode - minCode + 1) * perCode; ++i)
            if (map[i] == sym)
                return true;
        return false;
    };
    bool ok = true;
    int code = maxCode;
    for (const uint c : text.toUcs4()) {
        // Latin-1 keysyms equal their code points; the rest live at 0x1000000 + code point.
        const KeySym sym = c < 0x100 ? KeySym(c) : KeySym(0x1000000 + c);
        if (bound(sym))
            continue;
        while (code >= minCode) {
            bool empty = true;
            for (int j = 0; j < perCode; ++j)
                empty = empty && map[(code - minCode) * perCode + j] == NoSymbol;
            if (empty)
                break;
            --code;
        }
        if (code < minCode) {
            ok = false;
            break;
        }
        KeySym syms[2] = {sym, sym};
        XChangeKeyboardMapping(display, code, 2, syms, 1);
        for (int j = 0; j < perCode; ++j)
            map[(code - minCode) * perCode + j] = j < 2 ? sym : NoSymbol;
        --code;
    }
    XFree(map);
    XSync(display, False);
    XCloseDisplay(display);
    return ok;
}

} // namespace TestSupport
