#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QVector>

#include <deque>

// What the local cloud did, for people and for tests: one readable console
// line per request, a list of events (sign-ins, reboots, flow tokens...) and
// the last raw requests exactly as they arrived. Safe to use from the HTTP
// server threads.
class ActivityLog final
{
public:
    struct RawRequest
    {
        QString service;
        QString method;
        QString path;
        QByteArray query;
        QVector<QPair<QString, QByteArray>> headers;
        QByteArray body;
    };

    ActivityLog() = default;

    // Writes "hh:mm:ss.zzz <line>" to standard output, flushed, so a log file
    // or a waiting test sees it at once.
    void console(const QString &line);

    // Returns the new event's id; ids grow by one from 1.
    qint64 addEvent(const QString &type, QJsonObject details);
    QJsonArray events(qint64 afterId, const QString &type) const;

    void addRequest(const RawRequest &request);
    QJsonArray requests(int limit) const;

    // "ab12cd…": enough to tell tokens apart in a log, too little to use one.
    static QString shortened(const QString &secret);

private:
    Q_DISABLE_COPY_MOVE(ActivityLog)

    static constexpr int MaxEvents = 2000;
    static constexpr int MaxRequests = 200;

    mutable QMutex m_mutex;
    QMutex m_consoleMutex;
    std::deque<QJsonObject> m_events;
    std::deque<QJsonObject> m_requests;
    qint64 m_nextEventId = 1;
    qint64 m_nextRequestId = 1;
};
