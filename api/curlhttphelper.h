#pragma once

#include <QByteArray>
#include <QtGlobal>

// One synchronous HTTP request through libcurl. Every backend operation makes
// its own helper, sends exactly one request and lets it go; requests on
// different threads share nothing.
//
// Each operation returns libcurl's result: 0 when a transfer completed,
// whatever the HTTP status (a 500 still hands back its body), non-zero for a
// transport failure, 2 when no transfer handle could be made. The answer's
// body is appended to `answer`. URL, body and token are UTF-8 bytes; bodies
// are sent unchanged, encoding them is the caller's business.
class CurlHttpHelper final
{
public:
    CurlHttpHelper();
    ~CurlHttpHelper();

    int postForm(const QByteArray &url, const QByteArray &body, QByteArray &answer);
    int postFormXToken(const QByteArray &url, const QByteArray &body, QByteArray &answer, const QByteArray &token);
    int postFormBearer(const QByteArray &url, const QByteArray &body, QByteArray &answer, const QByteArray &token);
    int postJsonBearer(const QByteArray &url, const QByteArray &body, QByteArray &answer, const QByteArray &token);
    int getXToken(const QByteArray &url, QByteArray &answer, const QByteArray &token);
    int getBearer(const QByteArray &url, QByteArray &answer, const QByteArray &token);

private:
    Q_DISABLE_COPY_MOVE(CurlHttpHelper)

    struct Request;
    int perform(const Request &request, QByteArray &answer);
};
