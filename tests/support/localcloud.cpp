#include "tests/support/localcloud.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QUrl>

#include <curl/curl.h>

namespace TestSupport {

namespace {

constexpr int StartTimeoutMs = 20000;
constexpr long RequestTimeoutSecs = 15;

size_t appendBody(char *data, size_t size, size_t count, void *target)
{
    static_cast<QByteArray *>(target)->append(data, int(size * count));
    return size * count;
}

void initCurlOnce()
{
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    Q_UNUSED(done)
}

QByteArray jsonBody(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QJsonObject LocalCloud::Reply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

LocalCloud::LocalCloud(const QStringList &extraArgs)
    : m_extraArgs(extraArgs)
{
    start();
}

LocalCloud::~LocalCloud()
{
    stop();
}

bool LocalCloud::start()
{
    m_ready = false;
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString program = QStringLiteral(TARVIX_BIN_DIR "/localcloud");
    QFile::remove(stateDir() + QStringLiteral("/ports.json"));
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.path() + QStringLiteral("/console.log"), QIODevice::Append);
    QStringList args{QStringLiteral("--api-port"), QStringLiteral("0"), QStringLiteral("--admin-port"),
                     QStringLiteral("0"), QStringLiteral("--farm-port"), QStringLiteral("0"),
                     QStringLiteral("--objectstore-port"), QStringLiteral("0"),
                     QStringLiteral("--console-port"), QStringLiteral("0"),
                     QStringLiteral("--push-port"), QStringLiteral("0"),
                     QStringLiteral("--state-dir"), stateDir()};
    args += m_extraArgs;
    m_process->start(program, args);
    if (!m_process->waitForStarted(StartTimeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(program, m_process->errorString());
        return false;
    }

    // The READY line comes after every port is bound; ports.json holds the
    // same numbers and is written just before it.
    QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (consoleLog().contains(QLatin1String("LOCALCLOUD READY "))) {
            QFile ports(stateDir() + QStringLiteral("/ports.json"));
            if (ports.open(QIODevice::ReadOnly)) {
                const QJsonObject object = QJsonDocument::fromJson(ports.readAll()).object();
                m_apiPort = quint16(object.value(QStringLiteral("api")).toInt());
                m_adminPort = quint16(object.value(QStringLiteral("admin")).toInt());
                m_farmPort = quint16(object.value(QStringLiteral("farm")).toInt());
                m_objectStorePort = quint16(object.value(QStringLiteral("objectstore")).toInt());
                m_consolePort = quint16(object.value(QStringLiteral("console")).toInt());
                m_pushPort = quint16(object.value(QStringLiteral("push")).toInt());
                m_ready = m_apiPort && m_adminPort && m_farmPort && m_objectStorePort && m_pushPort && m_consolePort;
                if (!m_ready)
                    m_error = QStringLiteral("unreadable ports.json");
                return m_ready;
            }
        }
        if (m_process->state() == QProcess::NotRunning) {
            m_error = QStringLiteral("localcloud ended before it was ready:\n") + consoleLog();
            return false;
        }
        m_process->waitForFinished(20);
    }
    m_error = QStringLiteral("localcloud not ready after %1 ms:\n%2").arg(StartTimeoutMs).arg(consoleLog());
    return false;
}

bool LocalCloud::restart()
{
    stop();
    return start();
}

void LocalCloud::stop()
{
    m_ready = false;
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(2000);
        }
    }
    m_process.reset();
}

QString LocalCloud::apiBase() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_apiPort);
}

QString LocalCloud::adminBase() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_adminPort);
}

QString LocalCloud::objectStoreEndpoint() const
{
    return QStringLiteral("http://bj.bos.localhost:%1").arg(m_objectStorePort);
}

QString LocalCloud::pushBase() const
{
    return QStringLiteral("ws://127.0.0.1:%1/").arg(m_pushPort);
}

QString LocalCloud::stateDir() const
{
    return m_dir.path() + QStringLiteral("/state");
}

QString LocalCloud::consoleLog() const
{
    QFile file(m_dir.path() + QStringLiteral("/console.log"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QString LocalCloud::smsCode(const QString &phone) const
{
    const Reply reply = adminGet(QStringLiteral("/admin/sms?phone=") + QString::fromLatin1(QUrl::toPercentEncoding(phone)));
    return reply.json().value(QStringLiteral("code")).toString();
}

int LocalCloud::expireToken(const QString &phone) const
{
    return adminPost(QStringLiteral("/admin/expire-token"), QJsonObject{{QStringLiteral("phone"), phone}})
        .json()
        .value(QStringLiteral("expired"))
        .toInt();
}

int LocalCloud::expireTokenValue(const QString &token) const
{
    return adminPost(QStringLiteral("/admin/expire-token"), QJsonObject{{QStringLiteral("token"), token}})
        .json()
        .value(QStringLiteral("expired"))
        .toInt();
}

bool LocalCloud::setEndTime(const QString &padCodeOrSerial, const QDateTime &endTime) const
{
    return adminPost(QStringLiteral("/admin/phone/end-time"),
                     QJsonObject{{QStringLiteral("padCode"), padCodeOrSerial},
                                 {QStringLiteral("end_time"), double(endTime.toSecsSinceEpoch())}})
               .status
           == 200;
}

bool LocalCloud::announceVersion(const QString &version, const QString &notes, const QString &download) const
{
    return adminPost(QStringLiteral("/admin/version"), QJsonObject{{QStringLiteral("version"), version},
                                                                   {QStringLiteral("notes"), notes},
                                                                   {QStringLiteral("download"), download}})
               .status
           == 200;
}

QJsonArray LocalCloud::events(const QString &type, qint64 afterId) const
{
    QString path = QStringLiteral("/admin/events?after=%1").arg(afterId);
    if (!type.isEmpty())
        path += QStringLiteral("&type=") + type;
    return adminGet(path).json().value(QStringLiteral("events")).toArray();
}

QJsonObject LocalCloud::phoneState(const QString &padCodeOrSerial) const
{
    return adminGet(QStringLiteral("/admin/phone/") + padCodeOrSerial).json();
}

bool LocalCloud::kick(const QString &padCodeOrSerial) const
{
    return adminPost(QStringLiteral("/admin/phone/%1/kick").arg(padCodeOrSerial), QJsonObject()).status == 200;
}

QJsonArray LocalCloud::lastRequests(int limit) const
{
    return adminGet(QStringLiteral("/admin/requests?limit=%1").arg(limit)).json().value(QStringLiteral("requests")).toArray();
}

QJsonArray LocalCloud::phones() const
{
    return adminGet(QStringLiteral("/admin/phones")).json().value(QStringLiteral("phones")).toArray();
}

QJsonObject LocalCloud::addPhone(const QString &ownerPhone, const QString &title, int hours) const
{
    return adminPost(QStringLiteral("/admin/phone/add"), QJsonObject{{QStringLiteral("phone"), ownerPhone},
                                                                    {QStringLiteral("title"), title},
                                                                    {QStringLiteral("hours"), hours}})
        .json();
}

QJsonArray LocalCloud::addPhones(const QString &ownerPhone, const QString &title, int count, int hours) const
{
    return adminPost(QStringLiteral("/admin/phone/add"), QJsonObject{{QStringLiteral("phone"), ownerPhone},
                                                                    {QStringLiteral("title"), title},
                                                                    {QStringLiteral("count"), count},
                                                                    {QStringLiteral("hours"), hours}})
        .json()
        .value(QStringLiteral("phones"))
        .toArray();
}

QJsonObject LocalCloud::issueStsCredentials(const QString &bucket, qint64 ttlSeconds, bool withToken) const
{
    const Reply reply = adminPost(QStringLiteral("/admin/objectstore/credentials"),
                                  QJsonObject{{QStringLiteral("bucket"), bucket},
                                              {QStringLiteral("ttl"), double(ttlSeconds)},
                                              {QStringLiteral("token"), withToken}});
    return reply.status == 200 ? reply.json() : QJsonObject();
}

bool LocalCloud::expireStsCredentials(const QString &accessKeyId) const
{
    return adminPost(QStringLiteral("/admin/objectstore/credentials/expire"),
                     QJsonObject{{QStringLiteral("accessKeyId"), accessKeyId}})
               .status
           == 200;
}

bool LocalCloud::addStoreFault(const QJsonObject &fault) const
{
    return adminPost(QStringLiteral("/admin/objectstore/faults"), fault).status == 200;
}

bool LocalCloud::clearStoreFaults() const
{
    return adminPost(QStringLiteral("/admin/objectstore/faults/clear"), QJsonObject()).status == 200;
}

bool LocalCloud::setStoreClockOffset(qint64 seconds) const
{
    return adminPost(QStringLiteral("/admin/objectstore/clock"), QJsonObject{{QStringLiteral("offset"), double(seconds)}})
               .status
           == 200;
}

QJsonArray LocalCloud::storedObjects(const QString &bucket) const
{
    return adminGet(QStringLiteral("/admin/objectstore/objects?bucket=")
                    + QString::fromLatin1(QUrl::toPercentEncoding(bucket)))
        .json()
        .value(QStringLiteral("objects"))
        .toArray();
}

QString LocalCloud::consoleBase() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_consolePort);
}

QString LocalCloud::consoleCaFile() const
{
    return stateDir() + QStringLiteral("/console/ca.pem");
}

QJsonArray LocalCloud::consoleFiles() const
{
    return adminGet(QStringLiteral("/admin/console/files")).json().value(QStringLiteral("files")).toArray();
}

QJsonArray LocalCloud::consoleTasks() const
{
    return adminGet(QStringLiteral("/admin/console/tasks")).json().value(QStringLiteral("tasks")).toArray();
}

int LocalCloud::expireConsoleCredentials(const QString &userPhone) const
{
    return adminPost(QStringLiteral("/admin/console/credentials/expire"), QJsonObject{{QStringLiteral("phone"), userPhone}})
        .json()
        .value(QStringLiteral("expired"))
        .toInt(-1);
}

QJsonArray LocalCloud::storeRequests(int limit) const
{
    return adminGet(QStringLiteral("/admin/objectstore/requests?limit=%1").arg(limit))
        .json()
        .value(QStringLiteral("requests"))
        .toArray();
}

qint64 LocalCloud::pushNotice(const QString &phone, const QString &type, const QJsonValue &txt, qint64 msgId) const
{
    QJsonObject body{{QStringLiteral("phone"), phone}, {QStringLiteral("type"), type}};
    if (!txt.isUndefined())
        body.insert(QStringLiteral("txt"), txt);
    if (msgId >= 0)
        body.insert(QStringLiteral("msgId"), double(msgId));
    const Reply reply = adminPost(QStringLiteral("/admin/push/notice"), body);
    if (reply.status != 200)
        return -1;
    return qint64(reply.json().value(QStringLiteral("msgId")).toDouble());
}

QJsonArray LocalCloud::pushConnections() const
{
    return adminGet(QStringLiteral("/admin/push/connections")).json().value(QStringLiteral("connections")).toArray();
}

int LocalCloud::pushDrop(bool close) const
{
    return adminPost(QStringLiteral("/admin/push/drop"), QJsonObject{{QStringLiteral("close"), close}})
        .json()
        .value(QStringLiteral("dropped"))
        .toInt(-1);
}

bool LocalCloud::pushSilent(bool silent) const
{
    return adminPost(QStringLiteral("/admin/push/silent"), QJsonObject{{QStringLiteral("on"), silent}}).status == 200;
}

bool LocalCloud::pushRefuse(int seconds) const
{
    return adminPost(QStringLiteral("/admin/push/refuse"), QJsonObject{{QStringLiteral("seconds"), seconds}}).status
           == 200;
}

QJsonArray LocalCloud::pushLog(const QString &type, qint64 afterId) const
{
    QString path = QStringLiteral("/admin/push/log?after=%1").arg(afterId);
    if (!type.isEmpty())
        path += QStringLiteral("&type=") + type;
    return adminGet(path).json().value(QStringLiteral("events")).toArray();
}

qint64 LocalCloud::lastEventId() const
{
    const QJsonArray all = events();
    return all.isEmpty() ? 0 : qint64(all.last().toObject().value(QStringLiteral("id")).toDouble());
}

QString LocalCloud::signIn(const QString &phone)
{
    const Reply sent = apiPost(QStringLiteral("/vorl/v1/send_msg"), "act_type=yzm_login&phone=" + phone.toUtf8());
    const QString code = smsCode(phone);
    if (code.isEmpty()) {
        m_error = QStringLiteral("no code for %1: %2").arg(phone, QString::fromUtf8(sent.body));
        return QString();
    }
    const Reply login = apiPost(QStringLiteral("/vorl/v1/login"),
                                "appkey=7a3f19c2e4b8d6051f9e2c7d4a6b8e01&channel_code=qelvane_pc_official&code="
                                    + code.toUtf8() + "&phone=" + phone.toUtf8() + "&platform=pc");
    const QJsonObject data = login.json().value(QStringLiteral("data")).toObject();
    const QString token = data.value(QStringLiteral("token")).toString();
    m_lastWssToken = data.value(QStringLiteral("wss_token")).toString();
    if (token.isEmpty())
        m_error = QStringLiteral("sign-in refused: %1").arg(QString::fromUtf8(login.body));
    return token;
}

LocalCloud::Reply LocalCloud::adminGet(const QString &pathAndQuery) const
{
    return request("GET", adminBase() + pathAndQuery, QByteArray(), {});
}

LocalCloud::Reply LocalCloud::adminPost(const QString &path, const QJsonObject &body) const
{
    return request("POST", adminBase() + path, jsonBody(body), {"Content-Type: application/json"});
}

LocalCloud::Reply LocalCloud::apiPost(const QString &path, const QByteArray &formBody, const QString &token) const
{
    QList<QByteArray> headers{"Content-Type:application/x-www-form-urlencoded"};
    if (!token.isEmpty())
        headers.append("X-Token:Bearer " + token.toUtf8());
    return request("POST", apiBase() + path, formBody, headers);
}

LocalCloud::Reply LocalCloud::apiGet(const QString &path, const QString &token) const
{
    QList<QByteArray> headers;
    if (!token.isEmpty())
        headers.append("X-Token:Bearer " + token.toUtf8());
    return request("GET", apiBase() + path, QByteArray(), headers);
}

LocalCloud::Reply LocalCloud::request(const QByteArray &method, const QString &url, const QByteArray &body,
                                      const QList<QByteArray> &headers)
{
    initCurlOnce();
    Reply reply;
    CURL *curl = curl_easy_init();
    if (!curl) {
        reply.error = QStringLiteral("no curl handle");
        return reply;
    }
    curl_slist *headerList = nullptr;
    for (const QByteArray &header : headers)
        headerList = curl_slist_append(headerList, header.constData());
    const QByteArray urlBytes = url.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, RequestTimeoutSecs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    if (method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size()));
    } else if (method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.constData());
    }
    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    else
        reply.error = QString::fromLatin1(curl_easy_strerror(result));
    curl_slist_free_all(headerList);
    curl_easy_cleanup(curl);
    return reply;
}

} // namespace TestSupport
