#pragma once

#include <QString>

// Shortens secrets before a text goes to the log file: values of JSON keys
// and form fields whose names say token, secret, password or session id.
namespace SecretMask {

// "abcdef123456" becomes "abcd***"; short values become "***".
QString shorten(const QString &secret);

// Masks every secret value in a JSON text or a form body; other text stays.
QString maskText(const QString &text);

} // namespace SecretMask
