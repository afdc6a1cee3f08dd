#include "localcloud/core/activitylog.h"

#include <QDateTime>
#include <QMutexLocker>

#include <cstdio>

void ActivityLog::console(const QString &line)
{
    const QByteArray text = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")).toUtf8()
                            + line.toUtf8() + '\n';
    QMutexLocker lock(&m_consoleMutex);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

qint64 ActivityLog::addEvent(const QString &type, QJsonObject details)
{
    QMutexLocker lock(&m_mutex);
    const qint64 id = m_nextEventId++;
    details.insert(QStringLiteral("id"), id);
    details.insert(QStringLiteral("type"), type);
    details.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    m_events.push_back(details);
    while (m_events.size() > MaxEvents)
        m_events.pop_front();
    return id;
}

QJsonArray ActivityLog::events(qint64 afterId, const QString &type) const
{
    QMutexLocker lock(&m_mutex);
    QJsonArray list;
    for (const QJsonObject &event : m_events) {
        if (event.value(QStringLiteral("id")).toDouble() <= afterId)
            continue;
        if (!type.isEmpty() && event.value(QStringLiteral("type")).toString() != type)
            continue;
        list.append(event);
    }
    return list;
}

void ActivityLog::addRequest(const RawRequest &request)
{
    QJsonObject headers;
    for (const auto &header : request.headers)
        headers.insert(header.first, QString::fromUtf8(header.second));

    QJsonObject entry;
    QMutexLocker lock(&m_mutex);
    entry.insert(QStringLiteral("id"), m_nextRequestId++);
    entry.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    entry.insert(QStringLiteral("service"), request.service);
    entry.insert(QStringLiteral("method"), request.method);
    entry.insert(QStringLiteral("path"), request.path);
    entry.insert(QStringLiteral("query"), QString::fromUtf8(request.query));
    entry.insert(QStringLiteral("headers"), headers);
    // The body as text for reading, and byte-exact for checking encodings.
    entry.insert(QStringLiteral("body"), QString::fromUtf8(request.body));
    entry.insert(QStringLiteral("body_base64"), QString::fromLatin1(request.body.toBase64()));
    m_requests.push_back(entry);
    while (m_requests.size() > MaxRequests)
        m_requests.pop_front();
}

QJsonArray ActivityLog::requests(int limit) const
{
    QMutexLocker lock(&m_mutex);
    QJsonArray list;
    const int count = int(m_requests.size());
    const int first = limit > 0 && limit < count ? count - limit : 0;
    for (int i = first; i < count; ++i)
        list.append(m_requests[size_t(i)]);
    return list;
}

QString ActivityLog::shortened(const QString &secret)
{
    if (secret.size() <= 6)
        return secret.isEmpty() ? QString() : QStringLiteral("…");
    return secret.left(6) + QStringLiteral("…");
}
