#pragma once

class QCoreApplication;

// A termination request from outside (SIGTERM, SIGINT, SIGHUP on Unix) ends
// the event loop the same way the tray's "退出" does, so the end of the
// process takes the one quitting path. Call once, after the application
// object exists.
void quitOnTerminationSignals(QCoreApplication *app);
