#include "phones/model/rentaltime.h"

#include "api/phonerecord.h"
#include "api/utils.h"

#include <QDebug>

#include <limits>

namespace RentalTime {

qint64 secondsUntil(const QString &start, const QString &end, const QDateTime &now)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QDateTime startTime = QDateTime::fromString(start, format);
    const QDateTime endTime = QDateTime::fromString(end, format);
    if (!startTime.isValid() || !endTime.isValid())
        qDebug() << "Invalid datetime string";
    const qint64 seconds = endTime.isValid() ? now.secsTo(endTime) : 0;
    qDebug().noquote() << "Time elapsed: " << seconds << "秒";
    return seconds;
}

namespace {

QString textFor(qint64 seconds)
{
    // A rental decades away still reads as days, not as a wrapped number.
    return Utils::remainingTimeText(
        qint32(qBound<qint64>(std::numeric_limits<qint32>::min(), seconds, std::numeric_limits<qint32>::max())));
}

bool soon(qint64 seconds)
{
    return seconds > 0 && seconds <= 24 * 3600;
}

} // namespace

QString remainingText(const PhoneRecord &record, const QDateTime &now)
{
    return textFor(secondsUntil(record.startTime, record.endTime, now));
}

bool endsSoon(const PhoneRecord &record, const QDateTime &now)
{
    return soon(secondsUntil(record.startTime, record.endTime, now));
}

Left left(const PhoneRecord &record, const QDateTime &now)
{
    const qint64 seconds = secondsUntil(record.startTime, record.endTime, now);
    return Left{textFor(seconds), soon(seconds)};
}

} // namespace RentalTime
