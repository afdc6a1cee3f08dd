#include "api/secretmask.h"

#include <QRegularExpression>

namespace SecretMask {

namespace {

// Key names that hold credentials: tokens of every kind, secret keys,
// passwords and the phone farm's session ids.
const QString secretKey = QStringLiteral(R"([A-Za-z_]*(?:[Tt]oken|[Ss]ecret|[Pp]assword|[Ss]ession_?[Ii]d)[A-Za-z_]*)");

} // namespace

QString shorten(const QString &secret)
{
    if (secret.size() <= 8)
        return QStringLiteral("***");
    return secret.left(4) + QStringLiteral("***");
}

QString maskText(const QString &text)
{
    static const QRegularExpression json(QStringLiteral(R"(("%1"\s*:\s*")((?:[^"\\]|\\.)*)("))").arg(secretKey));
    static const QRegularExpression form(QStringLiteral(R"((^|&)(%1=)([^&]*))").arg(secretKey));

    QString out;
    out.reserve(text.size());
    int last = 0;
    auto it = json.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += text.midRef(last, m.capturedStart(2) - last);
        out += shorten(m.captured(2));
        last = m.capturedEnd(2);
    }
    out += text.midRef(last);

    QString result;
    result.reserve(out.size());
    last = 0;
    it = form.globalMatch(out);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedLength(3) == 0)
            continue;
        result += out.midRef(last, m.capturedStart(3) - last);
        result += shorten(m.captured(3));
        last = m.capturedEnd(3);
    }
    result += out.midRef(last);
    return result;
}

} // namespace SecretMask
