#include "api/utils.h"

#include "app/appevent.h"
#include "app/buildconfig.h"
#include "app/settingskeys.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLibrary>
#include <QMetaObject>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <optional>

namespace {

std::optional<ServiceBases> &baseOverride()
{
    static std::optional<ServiceBases> bases;
    return bases;
}

} // namespace

Utils *Utils::instance()
{
    // Made on first use from any thread (a function-local static is
    // initialised once, under the compiler's own lock), never destroyed.
    static Utils *const utils = new Utils;
    return utils;
}

ServiceBases Utils::compiledServiceBases()
{
    return ServiceBases{QStringLiteral(TARVIX_API_BASE), QStringLiteral(TARVIX_CONSOLE_BASE),
                        QStringLiteral(TARVIX_PUSH_BASE), QStringLiteral(TARVIX_PAY_URL),
                        QStringLiteral(TARVIX_PAGES_BASE), QStringLiteral(TARVIX_CA_FILE)};
}

void Utils::overrideServiceBases(const ServiceBases &bases)
{
    baseOverride() = bases;
}

QString Utils::settingsFilePath()
{
    const QStringList locations = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    const QString base = locations.isEmpty() ? QDir::homePath() : locations.first();
    return base + QStringLiteral("/Mervane/Tarvix/Setting.ini");
}

Utils::Utils()
{
    applyBases(baseOverride().value_or(compiledServiceBases()));
    m_settings = std::make_unique<QSettings>(settingsFilePath(), QSettings::IniFormat);
    loadCodecLibrary();
}

Utils::~Utils() = default;

void Utils::applyBases(const ServiceBases &bases)
{
    m_apiBaseUrl = bases.api;
    m_consoleBaseUrl = bases.console;
    m_pushBaseUrl = bases.push;
    m_payUrl = bases.pay;
    m_pagesBaseUrl = bases.pages;
    m_caFile = bases.caFile;
}

StsCredentials Utils::stsCredentials() const
{
    QMutexLocker lock(&AppEvent::credentialsMutex());
    return m_sts;
}

void Utils::setStsCredentials(const StsCredentials &credentials)
{
    QMutexLocker lock(&AppEvent::credentialsMutex());
    m_sts = credentials;
}

bool Utils::hasStsCredentials() const
{
    QMutexLocker lock(&AppEvent::credentialsMutex());
    return !m_sts.accessKeyId.isEmpty() && !m_sts.secretAccessKey.isEmpty() && !m_sts.sessionToken.isEmpty()
        && !m_sts.bucket.isEmpty() && !m_sts.bucketPath.isEmpty() && !m_sts.endpoint.isEmpty();
}

bool Utils::autoLogin()
{
    if (!m_settings->value(SettingsKey::AutoLogin, false).toBool())
        return false;
    const QString phone = m_settings->value(SettingsKey::UserPhone).toString();
    const QString userName = m_settings->value(SettingsKey::UserName).toString();
    const QString token = m_settings->value(SettingsKey::UserToken).toString();
    const QString wssToken = m_settings->value(SettingsKey::UserWssToken).toString();
    // Debug output only; the token never reaches the log file.
    qDebug() << "-------autoLogin-token-------" << token;
    if (phone.isEmpty() || userName.isEmpty() || token.isEmpty() || wssToken.isEmpty())
        return false;
    AppEvent::instance()->setSession(phone, userName, token, wssToken);
    return true;
}

void Utils::signOut()
{
    for (const QLatin1String &key : SettingsKey::SessionKeys)
        m_settings->remove(key);
    m_settings->sync();
    AppEvent::instance()->clearSession();
}

bool Utils::loadCodecLibrary()
{
    // Beside the executable first, as the loader of a Windows program would,
    // then wherever the system's loader looks.
    QLibrary library(QCoreApplication::applicationDirPath() + QStringLiteral("/wss"));
    if (!library.load()) {
        library.setFileName(QStringLiteral("wss"));
        if (!library.load()) {
            emit AppEvent::instance()->codecLoadFailed();
            return false;
        }
    }
    // The library stays loaded after the QLibrary object is gone.
    m_packDecodeFn = reinterpret_cast<PackDecodeFn>(library.resolve("PackDecode"));
    m_packEncodeFn = reinterpret_cast<PackEncodeFn>(library.resolve("PackEncode"));
    if (m_packDecodeFn && m_packEncodeFn) {
        qDebug() << "PackDecode加载成功";
        return true;
    }
    return false;
}

QByteArray Utils::packEncode(const QString &text)
{
    if (!m_packEncodeFn) {
        qDebug() << "PackDecode加载失败";
        loadCodecLibrary();
        return QByteArray();
    }
    const QByteArray utf8 = text.toUtf8();
    char *out = nullptr;
    const int length = m_packEncodeFn(utf8.constData(), utf8.size(), &out);
    if (!out || length <= 0)
        return QByteArray();
    return QByteArray::fromRawData(out, length);
}

QString Utils::packDecode(const QString &text)
{
    if (!m_packDecodeFn) {
        qDebug() << "PackDecode加载失败";
        loadCodecLibrary();
        return QString();
    }
    const QByteArray utf8 = text.toUtf8(); // QByteArray keeps a terminating zero
    char *out = nullptr;
    m_packDecodeFn(utf8.constData(), &out);
    if (!out)
        return QString();
    return QString::fromUtf8(out);
}
