#pragma once

#include <QObject>
#include <QString>

// Writes "d.txt" (one line about the user, the phone and its order) and
// pushes it to the root of the phone's storage, in the background. Pushes
// run one after another, and each writes its own line just before it
// uploads, so two phones entered quickly never get each other's file.
class uploadConfigFile final : public QObject
{
    Q_OBJECT

public:
    explicit uploadConfigFile(QObject *parent = nullptr);

    // Pushes not started yet are dropped when this object goes.
    void pushConfig(const QString &serverSn, int sid, int idcId, const QString &idcSn, const QString &orderSn,
                    int serid);

    // The line pushConfig writes (the time in milliseconds since the epoch last).
    static QString configLine(const QString &userName, const QString &serverSn, int sid, int idcId,
                              const QString &idcSn, const QString &orderSn, int serid, qint64 nowMs);
    static QString configFilePath();
    // Blocks until the pushes queued so far have ended (for tests and exit).
    static bool waitForPushes(int timeoutMs);

private:
    Q_DISABLE_COPY_MOVE(uploadConfigFile)
};
