#include "localcloud/objectstore/objectstore.h"

#include "localcloud/core/activitylog.h"
#include "localcloud/core/stscredentials.h"
#include "localcloud/objectstore/bceverifier.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QSaveFile>
#include <QUuid>

#include <algorithm>
#include <thread>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int MaxLine = 16 * 1024;
constexpr int MaxHeaders = 100;
constexpr int ReadChunk = 256 * 1024;
// Error answers before the body: small bodies are read and dropped so the
// connection stays usable; larger ones end it after a bounded drain.
constexpr qint64 DrainLimit = 1024 * 1024;
constexpr int IdleTimeoutSecs = 60;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Request Entity Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

QString defaultCode(int status)
{
    switch (status) {
    case 500: return QStringLiteral("InternalError");
    case 501: return QStringLiteral("NotImplemented");
    case 502: return QStringLiteral("BadGateway");
    case 503: return QStringLiteral("ServiceUnavailable");
    case 504: return QStringLiteral("GatewayTimeout");
    default: return QStringLiteral("ServiceError");
    }
}

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

// Percent-escapes decoded; "+" stays "+" (it is a plus in a path).
bool percentDecode(const QByteArray &text, QByteArray *out)
{
    out->clear();
    out->reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out->append(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out->append(char(high * 16 + low));
        i += 2;
    }
    return true;
}

// Lower-case letters, digits and "-", 3 to 63, starting and ending with a
// letter or digit.
bool validBucket(const QString &bucket)
{
    if (bucket.size() < 3 || bucket.size() > 63)
        return false;
    for (const QChar c : bucket) {
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
              || c == QLatin1Char('-')))
            return false;
    }
    return bucket.front() != QLatin1Char('-') && bucket.back() != QLatin1Char('-');
}

QString nowText()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

} // namespace

// One client connection: buffered reads, whole writes.
class ObjectStore::Connection
{
public:
    explicit Connection(int fd)
        : m_fd(fd)
    {
    }
    int fd() const { return m_fd; }

    // One line without CR LF; false when the peer is gone or the line is too long.
    bool readLine(QByteArray *line)
    {
        while (true) {
            const int end = m_buffer.indexOf('\n', m_pos);
            if (end >= 0) {
                *line = m_buffer.mid(m_pos, end - m_pos);
                if (line->endsWith('\r'))
                    line->chop(1);
                m_pos = end + 1;
                return true;
            }
            if (m_buffer.size() - m_pos > MaxLine || !fill())
                return false;
        }
    }

    // Up to max bytes of the body; 0 when the peer is gone.
    qint64 read(char *target, qint64 max)
    {
        if (m_pos < m_buffer.size()) {
            const qint64 count = qMin<qint64>(max, m_buffer.size() - m_pos);
            std::memcpy(target, m_buffer.constData() + m_pos, size_t(count));
            m_pos += int(count);
            return count;
        }
        while (true) {
            const ssize_t got = ::recv(m_fd, target, size_t(max), 0);
            if (got < 0 && errno == EINTR)
                continue;
            return got > 0 ? got : 0;
        }
    }

    // The peer has hung up with fewer bytes in flight than the body still
    // needs: the body can never be complete.
    bool peerLeftEarly(qint64 stillNeeded) const
    {
        pollfd fd = {m_fd, POLLRDHUP, 0};
        if (::poll(&fd, 1, 0) <= 0 || !(fd.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            return false;
        int pending = 0;
        ::ioctl(m_fd, FIONREAD, &pending);
        return pending + (m_buffer.size() - m_pos) < stillNeeded;
    }

    bool write(const QByteArray &data)
    {
        qint64 done = 0;
        while (done < data.size()) {
            const ssize_t sent = ::send(m_fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            done += sent;
        }
        return true;
    }

private:
    bool fill()
    {
        if (m_pos > 0) {
            m_buffer.remove(0, m_pos);
            m_pos = 0;
        }
        char chunk[16384];
        while (true) {
            const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            m_buffer.append(chunk, int(got));
            return true;
        }
    }

    int m_fd;
    QByteArray m_buffer;
    int m_pos = 0;
};

struct ObjectStore::Exchange
{
    QByteArray method;
    QByteArray target;
    QByteArray version;
    BceVerifier::Pairs headers;
    QByteArray path;
    BceVerifier::Pairs query;
    QString bucket;
    QString key;
    QString style;
    QString requestId;
    qint64 contentLength = -1;
    qint64 bodyReceived = 0;
    bool bodyDone = false; // the whole body has been read (or there is none)
    bool keepAlive = true;
    int status = 0;
    QString code;
    QString note;
    bool recorded = false;
};

QJsonObject ObjectStore::Fault::toJson() const
{
    static const char *const kinds[] = {"error", "cut", "slow"};
    QJsonObject object{{QStringLiteral("kind"), QLatin1String(kinds[kind])},
                       {QStringLiteral("count"), count},
                       {QStringLiteral("bucket"), bucket}};
    if (kind == Error) {
        object.insert(QStringLiteral("status"), status);
        object.insert(QStringLiteral("body"), body);
    } else if (kind == Slow) {
        object.insert(QStringLiteral("bytesPerSecond"), bytesPerSecond);
    }
    return object;
}

bool ObjectStore::Fault::fromJson(const QJsonObject &params, Fault *fault, QString *error)
{
    const auto number = [&params](const char *name, qint64 fallback) {
        const QJsonValue value = params.value(QLatin1String(name));
        if (value.isDouble())
            return qint64(value.toDouble());
        bool ok = false;
        const qint64 parsed = value.toString().toLongLong(&ok);
        return ok ? parsed : fallback;
    };
    Fault result;
    const QString kind = params.value(QStringLiteral("kind")).toString(QStringLiteral("error"));
    if (kind == QLatin1String("error"))
        result.kind = Error;
    else if (kind == QLatin1String("cut"))
        result.kind = Cut;
    else if (kind == QLatin1String("slow"))
        result.kind = Slow;
    else {
        *error = QStringLiteral("kind is error, cut or slow");
        return false;
    }
    result.status = int(number("status", 503));
    result.body = params.value(QStringLiteral("body")).toString(QStringLiteral("json"));
    result.bucket = params.value(QStringLiteral("bucket")).toString();
    result.count = int(number("count", 1));
    result.bytesPerSecond = number("bytesPerSecond", 256 * 1024);
    if (result.kind == Error && (result.status < 400 || result.status > 599)) {
        *error = QStringLiteral("status is 400 to 599");
        return false;
    }
    if (result.body != QLatin1String("json") && result.body != QLatin1String("text")
        && result.body != QLatin1String("empty")) {
        *error = QStringLiteral("body is json, text or empty");
        return false;
    }
    if (result.count < 1 || result.bytesPerSecond < 1) {
        *error = QStringLiteral("count and bytesPerSecond are positive");
        return false;
    }
    *fault = result;
    return true;
}

ObjectStore::ObjectStore(StsCredentials &credentials, ActivityLog &log, const QString &dataDir)
    : m_credentials(credentials)
    , m_log(log)
    , m_dataDir(dataDir)
{
    QDir().mkpath(m_dataDir + QStringLiteral("/objects"));
    // Parts left by an earlier run were never complete objects.
    QDir(m_dataDir + QStringLiteral("/tmp")).removeRecursively();
    QDir().mkpath(m_dataDir + QStringLiteral("/tmp"));
    loadIndex();
}

ObjectStore::~ObjectStore()
{
    stop();
}

QString ObjectStore::endpoint() const
{
    return QStringLiteral("http://%1:%2").arg(QLatin1String(RegionHost)).arg(m_port);
}

bool ObjectStore::listen(const QString &host, quint16 port, QString *error)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        *error = QStringLiteral("object store: no socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const int yes = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.toLatin1().constData(), &address.sin_addr) != 1) {
        *error = QStringLiteral("object store: %1 is no IPv4 address").arg(host);
        return false;
    }
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listenFd, 64) != 0) {
        *error = QStringLiteral("cannot listen on %1:%2 for the object store: %3")
                     .arg(host)
                     .arg(port)
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    if (::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        *error = QStringLiteral("object store: no pipe");
        return false;
    }
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void ObjectStore::stop()
{
    if (m_stopping.exchange(true))
        return;
    if (m_wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakePipe[1], &byte, 1);
    }
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    {
        std::unique_lock<std::mutex> lock(m_connectionsMutex);
        for (const int fd : m_connections)
            ::shutdown(fd, SHUT_RDWR);
        m_connectionsDone.wait(lock, [this] { return m_connections.empty(); });
    }
    for (int &fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = -1;
}

void ObjectStore::acceptLoop()
{
    while (!m_stopping) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(m_connectionsMutex);
            m_connections.insert(fd);
        }
        std::thread([this, fd] { serve(fd); }).detach();
    }
}

void ObjectStore::serve(int fd)
{
    timeval idle = {IdleTimeoutSecs, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    Connection connection(fd);
    while (!m_stopping) {
        Exchange exchange;
        QByteArray line;
        // Blank lines between requests are allowed.
        do {
            if (!connection.readLine(&line))
                goto done;
        } while (line.isEmpty());
        {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.")) {
                exchange.method = parts.value(0);
                exchange.target = parts.value(1);
                exchange.keepAlive = false;
                refuse(connection, exchange, 400, QStringLiteral("InvalidRequest"), QStringLiteral("Malformed request line."));
                break;
            }
            exchange.method = parts[0];
            exchange.target = parts[1];
            exchange.version = parts[2];
        }
        bool headersOk = true;
        while (true) {
            if (!connection.readLine(&line))
                goto done;
            if (line.isEmpty())
                break;
            const int colon = line.indexOf(':');
            if (colon <= 0 || exchange.headers.size() >= MaxHeaders) {
                headersOk = false;
                continue;
            }
            exchange.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        if (!headersOk) {
            exchange.keepAlive = false;
            refuse(connection, exchange, 400, QStringLiteral("InvalidRequest"), QStringLiteral("Malformed header."));
            break;
        }
        const bool keep = handle(connection, exchange);
        if (!exchange.recorded)
            record(exchange);
        if (!keep)
            break;
    }
done:
    // Closed under the lock, so stop() never shuts down a number that
    // has already been reused.
    std::lock_guard<std::mutex> lock(m_connectionsMutex);
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    m_connections.erase(fd);
    if (m_connections.empty())
        m_connectionsDone.notify_all();
}

bool ObjectStore::handle(Connection &connection, Exchange &exchange)
{
    exchange.requestId = QString::fromLatin1(BceVerifier::headerValue(exchange.headers, "x-bce-request-id"));
    if (exchange.requestId.isEmpty())
        exchange.requestId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray connectionHeader = BceVerifier::headerValue(exchange.headers, "connection").toLower();
    exchange.keepAlive = exchange.version == "HTTP/1.1" ? connectionHeader != "close" : connectionHeader == "keep-alive";

    bool hasLength = false;
    const QByteArray lengthText = BceVerifier::headerValue(exchange.headers, "content-length", &hasLength);
    bool lengthOk = false;
    exchange.contentLength = hasLength ? lengthText.toLongLong(&lengthOk) : 0;
    const bool chunked = !BceVerifier::headerValue(exchange.headers, "transfer-encoding").isEmpty();
    if (chunked || (hasLength && (!lengthOk || exchange.contentLength < 0))) {
        // The body's end is unknown: nothing more can be read on this connection.
        exchange.keepAlive = false;
        exchange.bodyDone = true;
        return chunked ? refuse(connection, exchange, 411, QStringLiteral("MissingContentLength"),
                                QStringLiteral("A body needs a Content-Length."))
                       : refuse(connection, exchange, 400, QStringLiteral("InvalidRequest"),
                                QStringLiteral("Content-Length is not a number."));
    }
    exchange.bodyDone = exchange.contentLength == 0;

    // Target: path and query, decoded.
    const int question = exchange.target.indexOf('?');
    const QByteArray rawPath = question < 0 ? exchange.target : exchange.target.left(question);
    const QByteArray rawQuery = question < 0 ? QByteArray() : exchange.target.mid(question + 1);
    if (!rawPath.startsWith('/') || !percentDecode(rawPath, &exchange.path))
        return refuse(connection, exchange, 400, QStringLiteral("InvalidURI"), QStringLiteral("The path is invalid."));
    for (const QByteArray &pair : rawQuery.split('&')) {
        if (pair.isEmpty())
            continue;
        const int equals = pair.indexOf('=');
        QByteArray name, value;
        if (!percentDecode(equals < 0 ? pair : pair.left(equals), &name)
            || !percentDecode(equals < 0 ? QByteArray() : pair.mid(equals + 1), &value))
            return refuse(connection, exchange, 400, QStringLiteral("InvalidURI"), QStringLiteral("The query is invalid."));
        exchange.query.append({name, value});
    }

    bool hasHost = false;
    const QByteArray host = BceVerifier::headerValue(exchange.headers, "host", &hasHost);
    if (!hasHost || host.isEmpty())
        return refuse(connection, exchange, 400, QStringLiteral("InvalidRequest"), QStringLiteral("The Host header is missing."));
    QByteArray hostName = host.toLower();
    const int colon = hostName.lastIndexOf(':');
    if (colon >= 0 && !hostName.contains(']'))
        hostName.truncate(colon);
    const QByteArray domainSuffix = QByteArray(".") + ServiceDomain;
    const QByteArray regionSuffix = QByteArray(".") + RegionHost;
    QByteArray hostBucket;
    if (hostName.endsWith(regionSuffix))
        hostBucket = hostName.left(hostName.size() - regionSuffix.size());
    else if (hostName.endsWith(domainSuffix) && hostName != RegionHost)
        hostBucket = hostName.left(hostName.size() - domainSuffix.size());
    const QString path = QString::fromUtf8(exchange.path);
    if (!hostBucket.isEmpty()) {
        exchange.style = QStringLiteral("virtual-host");
        exchange.bucket = QString::fromUtf8(hostBucket);
        exchange.key = path.mid(1);
    } else {
        exchange.style = QStringLiteral("path");
        const int slash = path.indexOf(QLatin1Char('/'), 1);
        exchange.bucket = slash < 0 ? path.mid(1) : path.mid(1, slash - 1);
        exchange.key = slash < 0 ? QString() : path.mid(slash + 1);
    }

    if (exchange.method != "PUT")
        return refuse(connection, exchange, 405, QStringLiteral("MethodNotAllowed"),
                      QStringLiteral("This store takes PUT of objects only."));
    if (!validBucket(exchange.bucket))
        return refuse(connection, exchange, 400, QStringLiteral("InvalidBucketName"),
                      QStringLiteral("The bucket name is invalid."));
    if (exchange.key.isEmpty() || exchange.key.toUtf8().size() > 1024)
        return refuse(connection, exchange, 400, QStringLiteral("InvalidObjectName"),
                      QStringLiteral("The object key is empty or too long."));
    if (!hasLength)
        return refuse(connection, exchange, 411, QStringLiteral("MissingContentLength"),
                      QStringLiteral("A PUT needs a Content-Length."));
    if (exchange.contentLength > MaxObjectSize)
        return refuse(connection, exchange, 400, QStringLiteral("EntityTooLarge"),
                      QStringLiteral("An object is at most 5 GiB."));

    BceVerifier::Request request{exchange.method, exchange.path, exchange.query, exchange.headers};
    const qint64 now = QDateTime::currentSecsSinceEpoch() + m_clockOffset;
    const BceVerifier::Verdict verdict = BceVerifier::verify(request, m_credentials, now);
    if (!verdict.ok)
        return refuse(connection, exchange, verdict.status, verdict.code, verdict.message);
    if (!verdict.bucketScope.isEmpty() && verdict.bucketScope != exchange.bucket)
        return refuse(connection, exchange, 403, QStringLiteral("AccessDenied"),
                      QStringLiteral("These credentials do not grant access to bucket %1.").arg(exchange.bucket));

    if (BceVerifier::headerValue(exchange.headers, "expect").toLower() == "100-continue" && !exchange.bodyDone) {
        if (!connection.write("HTTP/1.1 100 Continue\r\n\r\n"))
            return false;
    }

    Fault fault;
    const bool faulty = takeFault(exchange.bucket, &fault);
    if (faulty && fault.kind == Fault::Error)
        return answerFault(connection, exchange, fault);
    return receiveObject(connection, exchange, faulty ? &fault : nullptr);
}

bool ObjectStore::receiveObject(Connection &connection, Exchange &exchange, const Fault *fault)
{
    const QString part =
        QStringLiteral("%1/tmp/%2.part").arg(m_dataDir).arg(m_partCounter.fetch_add(1));
    const int out = ::open(QFile::encodeName(part).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
        return refuse(connection, exchange, 500, QStringLiteral("InternalError"), QStringLiteral("Cannot store the object."));

    const qint64 length = exchange.contentLength;
    const qint64 cutAt = fault && fault->kind == Fault::Cut ? length / 2 : -1;
    const qint64 rate = fault && fault->kind == Fault::Slow ? fault->bytesPerSecond : 0;
    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray buffer(ReadChunk, Qt::Uninitialized);
    const auto started = std::chrono::steady_clock::now();
    bool writeFailed = false;
    while (exchange.bodyReceived < length && !m_stopping) {
        if (cutAt >= 0 && exchange.bodyReceived >= cutAt)
            break;
        qint64 want = qMin<qint64>(ReadChunk, length - exchange.bodyReceived);
        if (cutAt >= 0)
            want = qMin(want, cutAt - exchange.bodyReceived);
        if (rate > 0)
            want = qMax<qint64>(1, qMin(want, rate / 10));
        const qint64 got = connection.read(buffer.data(), want);
        if (got <= 0)
            break;
        if (!writeFailed) {
            qint64 written = 0;
            while (written < got) {
                const ssize_t n = ::write(out, buffer.constData() + written, size_t(got - written));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    writeFailed = true;
                    break;
                }
                written += n;
            }
        }
        md5.addData(buffer.constData(), int(got));
        exchange.bodyReceived += got;
        if (rate > 0) {
            if (connection.peerLeftEarly(length - exchange.bodyReceived))
                break;
            const auto due = started + std::chrono::microseconds(exchange.bodyReceived * 1000000 / rate);
            std::this_thread::sleep_until(due);
        }
    }
    ::close(out);

    if (exchange.bodyReceived < length) {
        QFile::remove(part);
        exchange.keepAlive = false;
        if (cutAt >= 0) {
            exchange.note = QStringLiteral("connection cut after %1 of %2 bytes").arg(exchange.bodyReceived).arg(length);
            record(exchange);
            // No answer at all: the client sees the connection drop mid-body.
            struct linger hard = {1, 0};
            ::setsockopt(connection.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::shutdown(connection.fd(), SHUT_RDWR);
        } else {
            exchange.note = QStringLiteral("body ended after %1 of %2 bytes; nothing stored")
                                .arg(exchange.bodyReceived)
                                .arg(length);
        }
        return false;
    }
    exchange.bodyDone = true;
    if (writeFailed) {
        QFile::remove(part);
        return refuse(connection, exchange, 500, QStringLiteral("InternalError"), QStringLiteral("Cannot store the object."));
    }

    const QString md5Hex = QString::fromLatin1(md5.result().toHex());
    const QString indexKey = exchange.bucket + QLatin1Char('\n') + exchange.key;
    const QString name = QString::fromLatin1(
        QCryptographicHash::hash(indexKey.toUtf8(), QCryptographicHash::Sha256).toHex().left(40));
    const QString file = QStringLiteral("%1/objects/%2").arg(m_dataDir, name);
    if (::rename(QFile::encodeName(part).constData(), QFile::encodeName(file).constData()) != 0) {
        QFile::remove(part);
        return refuse(connection, exchange, 500, QStringLiteral("InternalError"), QStringLiteral("Cannot store the object."));
    }
    StoredObject object{exchange.bucket, exchange.key, length, md5Hex, file, nowText()};
    QSaveFile meta(file + QStringLiteral(".json"));
    if (meta.open(QIODevice::WriteOnly)) {
        meta.write(QJsonDocument(QJsonObject{{QStringLiteral("bucket"), object.bucket},
                                             {QStringLiteral("key"), object.key},
                                             {QStringLiteral("size"), object.size},
                                             {QStringLiteral("md5"), object.md5},
                                             {QStringLiteral("stored_at"), object.storedAt}})
                       .toJson(QJsonDocument::Compact));
        meta.commit();
    }
    {
        QMutexLocker lock(&m_mutex);
        m_objects.insert(indexKey, object);
    }
    return answer(connection, exchange, 200, QByteArray(), QByteArray(),
                  {"ETag: \"" + md5Hex.toLatin1() + '"'});
}

bool ObjectStore::answerFault(Connection &connection, Exchange &exchange, const Fault &fault)
{
    // A store in trouble still takes the whole body before it answers.
    QByteArray buffer(ReadChunk, Qt::Uninitialized);
    while (exchange.bodyReceived < exchange.contentLength) {
        const qint64 got =
            connection.read(buffer.data(), qMin<qint64>(ReadChunk, exchange.contentLength - exchange.bodyReceived));
        if (got <= 0) {
            exchange.keepAlive = false;
            exchange.note = QStringLiteral("body ended early");
            return false;
        }
        exchange.bodyReceived += got;
    }
    exchange.bodyDone = true;
    exchange.note = QStringLiteral("injected fault");
    if (fault.body == QLatin1String("json"))
        return refuse(connection, exchange, fault.status, defaultCode(fault.status),
                      QStringLiteral("Injected fault: %1.").arg(QString::fromLatin1(reasonPhrase(fault.status))));
    exchange.status = fault.status;
    exchange.code = defaultCode(fault.status);
    if (fault.body == QLatin1String("text")) {
        const QByteArray page = "<html><body><h1>" + QByteArray::number(fault.status) + ' ' + reasonPhrase(fault.status)
                                + "</h1></body></html>\n";
        return answer(connection, exchange, fault.status, "text/html", page);
    }
    return answer(connection, exchange, fault.status, QByteArray(), QByteArray());
}

bool ObjectStore::refuse(Connection &connection, Exchange &exchange, int status, const QString &code,
                         const QString &message)
{
    exchange.code = code;
    if (!exchange.bodyDone) {
        const bool waitsForContinue = BceVerifier::headerValue(exchange.headers, "expect").toLower() == "100-continue";
        if (!waitsForContinue && exchange.contentLength <= DrainLimit && exchange.bodyReceived == 0) {
            QByteArray buffer(int(qMax<qint64>(exchange.contentLength, 1)), Qt::Uninitialized);
            qint64 done = 0;
            while (done < exchange.contentLength) {
                const qint64 got = connection.read(buffer.data(), exchange.contentLength - done);
                if (got <= 0)
                    break;
                done += got;
            }
            exchange.bodyReceived = done;
            exchange.bodyDone = done == exchange.contentLength;
        }
        if (!exchange.bodyDone)
            exchange.keepAlive = false;
    }
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("code"), code},
                                                      {QStringLiteral("message"), message},
                                                      {QStringLiteral("requestId"), exchange.requestId}})
                                .toJson(QJsonDocument::Compact);
    return answer(connection, exchange, status, "application/json; charset=utf-8", body);
}

bool ObjectStore::answer(Connection &connection, Exchange &exchange, int status, const QByteArray &contentType,
                         const QByteArray &body, const QList<QByteArray> &extraHeaders)
{
    exchange.status = status;
    // Recorded before the client can see the answer, so whoever reads the
    // request list after an answer finds that request in it.
    record(exchange);
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    head += "Date: " + QDateTime::currentDateTimeUtc().toString(QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")).toLatin1()
            + "\r\n";
    head += "Server: BceBos\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "x-bce-request-id: " + exchange.requestId.toLatin1() + "\r\n";
    head += "x-bce-debug-id: " + QUuid::createUuid().toRfc4122().toBase64() + "\r\n";
    for (const QByteArray &header : extraHeaders)
        head += header + "\r\n";
    if (!exchange.keepAlive)
        head += "Connection: close\r\n";
    head += "\r\n";
    const bool sent = connection.write(head + body);
    if (!exchange.keepAlive && !exchange.bodyDone) {
        // Let the client read the answer before the rest of its body is
        // refused: stop writing, then drop what still comes for a while.
        ::shutdown(connection.fd(), SHUT_WR);
        timeval wait = {2, 0};
        ::setsockopt(connection.fd(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char sink[65536];
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until && connection.read(sink, sizeof sink) > 0) {
        }
    }
    return sent && exchange.keepAlive;
}

bool ObjectStore::takeFault(const QString &bucket, Fault *fault)
{
    QMutexLocker lock(&m_mutex);
    for (int i = 0; i < m_faults.size(); ++i) {
        Fault &candidate = m_faults[i];
        if (!candidate.bucket.isEmpty() && candidate.bucket != bucket)
            continue;
        *fault = candidate;
        if (--candidate.count <= 0)
            m_faults.remove(i);
        return true;
    }
    return false;
}

void ObjectStore::addFault(const Fault &fault)
{
    QMutexLocker lock(&m_mutex);
    m_faults.append(fault);
}

void ObjectStore::clearFaults()
{
    QMutexLocker lock(&m_mutex);
    m_faults.clear();
}

QJsonArray ObjectStore::faults() const
{
    QMutexLocker lock(&m_mutex);
    QJsonArray list;
    for (const Fault &fault : m_faults)
        list.append(fault.toJson());
    return list;
}

QJsonArray ObjectStore::objects(const QString &bucket) const
{
    QMutexLocker lock(&m_mutex);
    QVector<StoredObject> chosen;
    for (const StoredObject &object : m_objects) {
        if (bucket.isEmpty() || object.bucket == bucket)
            chosen.append(object);
    }
    std::sort(chosen.begin(), chosen.end(), [](const StoredObject &a, const StoredObject &b) {
        return a.bucket != b.bucket ? a.bucket < b.bucket : a.key < b.key;
    });
    QJsonArray list;
    for (const StoredObject &object : chosen) {
        list.append(QJsonObject{{QStringLiteral("bucket"), object.bucket},
                                {QStringLiteral("key"), object.key},
                                {QStringLiteral("size"), object.size},
                                {QStringLiteral("md5"), object.md5},
                                {QStringLiteral("stored_at"), object.storedAt}});
    }
    return list;
}

QJsonArray ObjectStore::requests(int limit) const
{
    QMutexLocker lock(&m_mutex);
    QJsonArray list;
    for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it) {
        if (limit > 0 && list.size() >= limit)
            break;
        list.append(*it);
    }
    return list;
}

void ObjectStore::record(Exchange &exchange)
{
    exchange.recorded = true;
    QJsonArray headers;
    for (const auto &header : exchange.headers)
        headers.append(QJsonArray{QString::fromLatin1(header.first), QString::fromUtf8(header.second)});
    QJsonObject entry{{QStringLiteral("time"), nowText()},
                      {QStringLiteral("method"), QString::fromLatin1(exchange.method)},
                      {QStringLiteral("target"), QString::fromUtf8(exchange.target)},
                      {QStringLiteral("path"), QString::fromUtf8(exchange.path)},
                      {QStringLiteral("headers"), headers},
                      {QStringLiteral("body_size"), exchange.bodyReceived},
                      {QStringLiteral("status"), exchange.status},
                      {QStringLiteral("code"), exchange.code},
                      {QStringLiteral("bucket"), exchange.bucket},
                      {QStringLiteral("key"), exchange.key},
                      {QStringLiteral("style"), exchange.style},
                      {QStringLiteral("request_id"), exchange.requestId}};
    if (!exchange.note.isEmpty())
        entry.insert(QStringLiteral("note"), exchange.note);
    {
        QMutexLocker lock(&m_mutex);
        m_requests.push_back(entry);
        while (m_requests.size() > MaxRequests)
            m_requests.pop_front();
    }
    QString line = QStringLiteral("objectstore %1 %2 %3 bytes -> %4")
                       .arg(QString::fromLatin1(exchange.method), QString::fromUtf8(exchange.target))
                       .arg(exchange.bodyReceived)
                       .arg(exchange.status);
    if (!exchange.code.isEmpty())
        line += QLatin1Char(' ') + exchange.code;
    if (!exchange.note.isEmpty())
        line += QStringLiteral(" (") + exchange.note + QLatin1Char(')');
    m_log.console(line);
}

void ObjectStore::loadIndex()
{
    QDirIterator it(m_dataDir + QStringLiteral("/objects"), {QStringLiteral("*.json")}, QDir::Files);
    while (it.hasNext()) {
        const QString metaFile = it.next();
        QFile meta(metaFile);
        if (!meta.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject json = QJsonDocument::fromJson(meta.readAll()).object();
        StoredObject object{json.value(QStringLiteral("bucket")).toString(),
                            json.value(QStringLiteral("key")).toString(),
                            qint64(json.value(QStringLiteral("size")).toDouble()),
                            json.value(QStringLiteral("md5")).toString(),
                            metaFile.chopped(5),
                            json.value(QStringLiteral("stored_at")).toString()};
        if (object.bucket.isEmpty() || !QFile::exists(object.file))
            continue;
        m_objects.insert(object.bucket + QLatin1Char('\n') + object.key, object);
    }
}
