#pragma once

#include <QString>

class SWDataSource;

// Repeats one forwarded input action on another phone's stream. A relayed
// record comes from another window: missing arrays are skipped, not read.
void applyRelayedOperation(SWDataSource &source, const QString &otype, int oper, int *datax, int *datay,
                           float *dataf, const QString &copycontent);

// Sends text to the phone's clipboard; a refusal is logged.
void copyTextToRemote(SWDataSource &source, const QString &text);

// Types text into the phone's focused field; a refusal is logged (its
// length only: what is typed may be a password).
void sendTextToRemote(SWDataSource &source, const QString &text);
