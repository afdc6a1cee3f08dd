#pragma once

#include <QDateTime>
#include <QString>

struct PhoneRecord;

// The rental time of a phone: seconds left and the text shown for them.
namespace RentalTime {

// Seconds from now to the end of the rental period, both times given as
// "yyyy-MM-dd HH:mm:ss" local time: negative once it has passed, 0 when
// the end cannot be read. The start only takes part in the validity check.
qint64 secondsUntil(const QString &start, const QString &end, const QDateTime &now = QDateTime::currentDateTime());

// The remaining-time text of a phone (row and card).
QString remainingText(const PhoneRecord &record, const QDateTime &now = QDateTime::currentDateTime());

// A rental that is still running but ends within 24 hours.
bool endsSoon(const PhoneRecord &record, const QDateTime &now = QDateTime::currentDateTime());

// Both of the above from one reading of the times (a list build asks for
// every phone).
struct Left
{
    QString text;
    bool endsSoon = false;
};
Left left(const PhoneRecord &record, const QDateTime &now = QDateTime::currentDateTime());

} // namespace RentalTime
