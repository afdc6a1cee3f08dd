#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The body of a form POST: fields in ascending order of their names, each
// name and value encoded as application/x-www-form-urlencoded (UTF-8,
// percent-escapes), so "+", "&", "=" and non-ASCII text reach the server as
// they were typed.
class FormBody final
{
public:
    FormBody() = default;
    FormBody(std::initializer_list<std::pair<QString, QString>> fields);

    // A second value for the same name replaces the first.
    void add(const QString &name, const QString &value);
    QByteArray toByteArray() const;

    // One name or value as it appears in the body.
    static QByteArray encode(const QString &text);

private:
    QMap<QString, QString> m_fields;
};
