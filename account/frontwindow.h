#pragma once

// Brings the client's current window to the front, restored from minimised
// and activated: the sign-in window while it is showing, else the main
// window once there is one, else the sign-in window. A refused second start
// asks for this, so a window hidden or minimised with no tray host is never
// out of reach.
void bringCurrentWindowToFront();
