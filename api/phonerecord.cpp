#include "api/phonerecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

PhoneRecord PhoneRecord::fromJson(const QJsonObject &object)
{
    PhoneRecord r;
    r.serverSn = object.value(QStringLiteral("server_sn")).toString();
    r.serverTitle = object.value(QStringLiteral("server_title")).toString();
    r.startTime = object.value(QStringLiteral("start_time")).toString();
    r.endTime = object.value(QStringLiteral("end_time")).toString();
    r.opStatus = object.value(QStringLiteral("op_status")).toInt();
    r.sid = object.value(QStringLiteral("sid")).toInt();
    r.idcId = object.value(QStringLiteral("idc_id")).toInt();
    r.idcSn = object.value(QStringLiteral("idc_sn")).toString();
    r.orderSn = object.value(QStringLiteral("order_sn")).toString();
    r.serid = object.value(QStringLiteral("serid")).toInt();
    return r;
}

PhoneRecord::ListParse PhoneRecord::parseList(const QByteArray &answer, QVector<PhoneRecord> *records)
{
    records->clear();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(answer, &error);
    if (error.error != QJsonParseError::NoError)
        return ListParse::NotJson;
    const QJsonValue data = document.object().value(QStringLiteral("data"));
    if (!data.isArray())
        return ListParse::NoList;
    const QJsonArray array = data.toArray();
    records->reserve(array.size());
    for (const QJsonValue &entry : array)
        records->push_back(fromJson(entry.toObject()));
    return ListParse::Found;
}

QVector<PhoneRecord> PhoneRecord::listFromAnswer(const QByteArray &answer)
{
    QVector<PhoneRecord> records;
    parseList(answer, &records);
    return records;
}
