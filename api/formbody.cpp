#include "api/formbody.h"

FormBody::FormBody(std::initializer_list<std::pair<QString, QString>> fields)
{
    for (const auto &field : fields)
        add(field.first, field.second);
}

void FormBody::add(const QString &name, const QString &value)
{
    m_fields.insert(name, value);
}

QByteArray FormBody::encode(const QString &text)
{
    // Everything outside A-Z a-z 0-9 - . _ ~ is escaped, blanks as %20, which
    // every form decoder reads back as a blank.
    return text.toUtf8().toPercentEncoding();
}

QByteArray FormBody::toByteArray() const
{
    QByteArray body;
    for (auto it = m_fields.cbegin(); it != m_fields.cend(); ++it) {
        if (!body.isEmpty())
            body += '&';
        body += encode(it.key());
        body += '=';
        body += encode(it.value());
    }
    return body;
}
