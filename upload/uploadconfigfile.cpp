#include "upload/uploadconfigfile.h"

#include "app/appevent.h"
#include "app/async.h"
#include "api/utils.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>
#include <QThreadPool>

namespace {

// One lane for every push: the file at the fixed path belongs to one push
// at a time. Never destroyed, like the other process-wide objects.
QThreadPool *pushLane()
{
    static QThreadPool *lane = [] {
        auto *pool = new QThreadPool;
        pool->setMaxThreadCount(1);
        return pool;
    }();
    return lane;
}

bool writeConfigFile(const QString &path, const QString &line)
{
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Text)) {
        qDebug() << "生成配置文件失败";
        return false;
    }
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    stream << line;
    stream.flush();
    file.close();
    qDebug() << "生成配置文件成功";
    return true;
}

void pushNow(const QString &path, const QString &line, const QString &serverSn)
{
    qDebug() << "配置上传";
    if (!writeConfigFile(path, line))
        return;
    Utils *utils = Utils::instance();
    utils->fetchToken();
    utils->fetchStsCredentials();
    const QString fileName = QStringLiteral("d.txt");
    const qint64 size = QFileInfo(path).size();
    qDebug() << fileName << "\n" << path << "\n" << size << "\n" << serverSn << "\n" << QString() << "\n" << "null";
    qDebug() << "开始上传配置文件";
    const QString md5 = utils->fileMd5(path);
    qDebug() << "上传配置文件 生成fileMd5 : " << md5;
    const QString url = utils->uploadToObjectStore(fileName, path, nullptr);
    qDebug() << "上传配置文件 fileUrl : " << url;
    if (url.isEmpty())
        return;
    const QString uid = utils->createConsoleFile(fileName, size, md5, url);
    qDebug() << "上传配置文件 fileUID : " << uid;
    if (uid.isEmpty())
        return;
    if (utils->commitFilePush(fileName, uid, md5, serverSn, QString(), true))
        qDebug() << "上传配置文件成功";
    else
        qDebug() << "上传配置文件失败";
}

} // namespace

uploadConfigFile::uploadConfigFile(QObject *parent)
    : QObject(parent)
{
}

QString uploadConfigFile::configFilePath()
{
    const QStringList locations = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    const QString base = locations.isEmpty() ? QString() : locations.first();
    return base + QStringLiteral("/Mervane/Tarvix") + QStringLiteral("/d.txt");
}

QString uploadConfigFile::configLine(const QString &userName, const QString &serverSn, int sid, int idcId,
                                     const QString &idcSn, const QString &orderSn, int serid, qint64 nowMs)
{
    // Joined rather than filled in one by one, so a "%" in a value stays text.
    return QStringList{userName, userName, serverSn, QString::number(sid), QString::number(idcId), idcSn,
                       Utils::instance()->appKey(), Utils::instance()->channelCode(), orderSn,
                       QString::number(serid), orderSn + QLatin1Char('_') + QString::number(serid),
                       QString::number(nowMs)}
        .join(QLatin1Char(','));
}

void uploadConfigFile::pushConfig(const QString &serverSn, int sid, int idcId, const QString &idcSn,
                                  const QString &orderSn, int serid)
{
    const QString line = configLine(AppEvent::instance()->userName(), serverSn, sid, idcId, idcSn, orderSn, serid,
                                    QDateTime::currentMSecsSinceEpoch());
    qDebug() << line;
    const QString path = configFilePath();
    Async::run(pushLane(), this, [path, line, serverSn] { pushNow(path, line, serverSn); }, [] {});
}

bool uploadConfigFile::waitForPushes(int timeoutMs)
{
    return pushLane()->waitForDone(timeoutMs);
}
