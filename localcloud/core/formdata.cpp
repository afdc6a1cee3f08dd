#include "localcloud/core/formdata.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

QString FormData::decodeComponent(const QByteArray &component)
{
    QByteArray bytes;
    bytes.reserve(component.size());
    for (int i = 0; i < component.size(); ++i) {
        const char c = component.at(i);
        if (c == '+') {
            bytes.append(' ');
        } else if (c == '%' && i + 2 < component.size() && hexValue(component.at(i + 1)) >= 0 && hexValue(component.at(i + 2)) >= 0) {
            bytes.append(char(hexValue(component.at(i + 1)) * 16 + hexValue(component.at(i + 2))));
            i += 2;
        } else {
            bytes.append(c);
        }
    }
    return QString::fromUtf8(bytes);
}

FormData FormData::parse(const QByteArray &encoded)
{
    FormData form;
    for (const QByteArray &pair : encoded.split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        const QByteArray name = eq < 0 ? pair : pair.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        form.m_fields.append({decodeComponent(name), decodeComponent(value)});
    }
    return form;
}

void FormData::merge(const FormData &other)
{
    for (const auto &field : other.m_fields) {
        if (!contains(field.first))
            m_fields.append(field);
    }
}

bool FormData::contains(const QString &name) const
{
    for (const auto &field : m_fields) {
        if (field.first == name)
            return true;
    }
    return false;
}

QString FormData::value(const QString &name, const QString &fallback) const
{
    for (const auto &field : m_fields) {
        if (field.first == name)
            return field.second;
    }
    return fallback;
}

QJsonObject FormData::toJson() const
{
    QJsonObject object;
    for (const auto &field : m_fields) {
        if (!object.contains(field.first))
            object.insert(field.first, field.second);
    }
    return object;
}
