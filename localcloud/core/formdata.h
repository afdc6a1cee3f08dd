#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QPair>
#include <QString>
#include <QVector>

// Fields of an application/x-www-form-urlencoded text (a request body or a
// query string), decoded: '+' is a blank, %XX an escaped byte, the bytes
// UTF-8. A malformed escape is kept as written rather than refused, so a
// sloppy client still gets a readable answer.
class FormData final
{
public:
    FormData() = default;
    static FormData parse(const QByteArray &encoded);
    static QString decodeComponent(const QByteArray &component);

    // Fields of `other` that this one lacks are added after its own.
    void merge(const FormData &other);

    bool contains(const QString &name) const;
    // The first value given for the name; a repeated field never overrides it.
    QString value(const QString &name, const QString &fallback = QString()) const;
    const QVector<QPair<QString, QString>> &fields() const { return m_fields; }
    QJsonObject toJson() const;

private:
    QVector<QPair<QString, QString>> m_fields;
};
