#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QSettings;
struct ControlInfo;

// Temporary object-store credentials handed out by the console; always read
// and written as one set.
struct StsCredentials
{
    QString accessKeyId;
    QString secretAccessKey;
    QString sessionToken;
    QString bucket;
    QString bucketPath;
    QString endpoint;
};

// Addresses the client talks to; compiled in, replaceable only by tests.
struct ServiceBases
{
    QString api;      // http, no trailing slash
    QString console;  // https with explicit port, no trailing slash
    QString push;     // ws, ends with a slash
    QString pay;      // https, path /pay
    QString pages;    // agreement pages
    // A certificate authority trusted besides the system's (PEM file), for
    // a console whose certificate a private authority signed; empty: none.
    QString caFile;
};

// The fixed configuration, the settings file, the temporary object-store
// credentials and the packet codec. One per process, never destroyed.
// The backend operations are members too, defined beside the transport.
class Utils final : public QObject
{
public:
    using PackDecodeFn = int (*)(const char *text, char **out);
    using PackEncodeFn = int (*)(const char *bytes, int length, char **out);

    static Utils *instance();

    // Test seam: a Utils created after this call uses these addresses
    // instead of the compiled-in ones. Call it before the first instance().
    static void overrideServiceBases(const ServiceBases &bases);
    static ServiceBases compiledServiceBases();

    QString pushBaseUrl() const { return m_pushBaseUrl; }
    QString channelCode() const { return m_channelCode; }
    QString appKey() const { return m_appKey; }
    QString payUrl() const { return m_payUrl; }
    QString apiBaseUrl() const { return m_apiBaseUrl; }
    QString consoleBaseUrl() const { return m_consoleBaseUrl; }
    QString pagesBaseUrl() const { return m_pagesBaseUrl; }
    QString caFile() const { return m_caFile; }
    QString phoneDownloadDir() const { return m_phoneDownloadDir; }
    QString phoneRootDir() const { return m_phoneRootDir; }

    QSettings *settings() const { return m_settings.get(); }
    static QString settingsFilePath();

    StsCredentials stsCredentials() const;
    void setStsCredentials(const StsCredentials &credentials);
    bool hasStsCredentials() const;

    bool autoLogin();
    void signOut();

    // Backend operations (accountapi.cpp, phoneapi.cpp). Each
    // blocks its calling thread for one request.
    bool versionConfig();
    bool sendMsg(const QString &phone);
    // Empty on success, otherwise the text to show.
    QString login(const QString &phone, const QString &code);
    bool fetchToken();
    // Expiry sign-out: signs out and emits AppEvent::sessionExpired() on the
    // GUI thread, from whichever thread the expired answer arrived on.
    void timeoutLogout();
    // The same for an answer to a request sent with `expiredToken`: once
    // another session has begun, the late answer signs out nobody.
    void timeoutLogout(const QString &expiredToken);

    // The whole answer text on success, empty otherwise.
    QString serverList();
    // Fills the ControlInfo slot of AppEvent.
    bool fetchFlowToken(const QString &serverSn);
    // Same request; also hands this request's own connection data to `out`,
    // so concurrent fetches for other phones can never swap it.
    bool fetchControlInfo(const QString &serverSn, ControlInfo *out);
    bool restartArmServer(const QStringList &serverSns);
    bool resetArmServer(const QStringList &serverSns);
    static QString remainingTimeText(qint32 seconds);

    // Console file and task operations; defined in upload/. Each blocks its
    // calling thread. A cancel flag (may be null, set from any thread)
    // stops a digest or a transfer at its next chunk.
    using UploadProgress = std::function<void(int percent)>;
    // 32 lower-case hex digits; empty when the file can't be read (or cancelled).
    QString fileMd5(const QString &filePath, const std::atomic<bool> *cancel = nullptr);
    bool fetchStsCredentials();
    // The object's URL, or empty. At most three attempts, each after the
    // first with fresh credentials; a cancelled one is never repeated.
    QString uploadToObjectStore(const QString &fileName, const QString &filePath, const UploadProgress &progress,
                                const std::atomic<bool> *cancel = nullptr);
    // The file's uid; a name already registered gives that file's uid.
    QString createConsoleFile(const QString &fileName, qint64 size, const QString &md5, const QString &url);
    // The uid of the newest file of exactly that name, or empty.
    QString findConsoleFileUid(const QString &fileName);
    bool commitFilePush(const QString &fileName, const QString &fileUid, const QString &md5, const QString &serverSn,
                        const QString &batchUid, bool toRoot);
    bool commitAppInstall(const QString &fileName, const QString &fileUid, const QString &md5,
                          const QString &serverSn, const QString &batchUid);
    static constexpr int MaxUploadAttempts = 3;

    bool loadCodecLibrary();
    // Refers to the codec's own buffer without copying: use it before the
    // next codec call.
    QByteArray packEncode(const QString &text);
    QString packDecode(const QString &text);

private:
    Utils();
    ~Utils() override;
    Q_DISABLE_COPY_MOVE(Utils)

    void applyBases(const ServiceBases &bases);

    PackDecodeFn m_packDecodeFn = nullptr;
    PackEncodeFn m_packEncodeFn = nullptr;
    std::unique_ptr<QSettings> m_settings;
    QString m_pushBaseUrl;
    QString m_consoleBaseUrl;
    QString m_apiBaseUrl;
    const QString m_channelCode = QStringLiteral("qelvane_pc_official");
    const QString m_appKey = QStringLiteral("7a3f19c2e4b8d6051f9e2c7d4a6b8e01");
    const QString m_phoneDownloadDir = QStringLiteral("/storage/emulated/0/Download");
    const QString m_phoneRootDir = QStringLiteral("/storage/emulated/0");
    QString m_payUrl;
    QString m_pagesBaseUrl;
    QString m_caFile;
    StsCredentials m_sts;
};
