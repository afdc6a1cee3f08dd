#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

// One entry of the user's phone list. Keys missing from the answer, or of
// another type, read as an empty text or 0.
struct PhoneRecord
{
    QString serverSn;
    QString serverTitle;
    QString startTime; // "yyyy-MM-dd HH:mm:ss", local time
    QString endTime;   // "yyyy-MM-dd HH:mm:ss", local time
    int opStatus = 0;
    int sid = 0;
    int idcId = 0;
    QString idcSn;
    QString orderSn;
    int serid = 0;

    static PhoneRecord fromJson(const QJsonObject &object);

    enum class ListParse { Found, NotJson, NoList };
    // The records of a phone list answer ("data" array) into `records`;
    // says whether the answer was JSON and held a list at all.
    static ListParse parseList(const QByteArray &answer, QVector<PhoneRecord> *records);
    // The records of a phone list answer ("data" array); empty when the
    // answer holds none or is not a list answer at all.
    static QVector<PhoneRecord> listFromAnswer(const QByteArray &answer);
};
