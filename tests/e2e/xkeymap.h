#pragma once

#include <QString>

namespace TestSupport {

// Binds every character of text that the X server's keyboard map lacks to a
// spare keycode, as a keyboard layout with those characters would, so that
// xdotool types them with plain key presses the client can read. False when
// the display cannot be opened or no spare keycode is left.
bool bindCharactersToSpareKeys(const QString &text);

} // namespace TestSupport
