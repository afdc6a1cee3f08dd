#pragma once

class QObject;

// When the server stops taking the token, Utils has already signed out; this
// makes the windows follow: the main window hides and lets its push client
// go, the sign-in window shows with an empty code field. Several expiries in
// a row find the same state and leave it as it is.
void followSessionExpiry(QObject *context);
