#include "upload/uploadfileworker.h"

#include "app/logger.h"
#include "api/utils.h"

#include <QDebug>

void UploadFileWorker::finish(const QString &text)
{
    if (!m_cancelled)
        emit processResult(text, 1);
}

void UploadFileWorker::DoUploadFile(const QString &fileName, const QString &filePath, qlonglong fileSize,
                                    const QString &serverSN, const QString &batchUid, bool isAutoInstallAPP, void *)
{
    qDebug() << "UploadFileWorker DoUploadFile";
    LOG_INFO() << "UploadFileWorker: File upload task started. filePath: " << filePath;
    if (m_cancelled)
        return;
    emit processResult(QStringLiteral("上传中"), 0);
    Utils *utils = Utils::instance();

    QString uid = utils->findConsoleFileUid(fileName);
    LOG_INFO() << "QueryFileInCloud fileUID : " << uid;
    if (m_cancelled)
        return;
    const QString md5 = utils->fileMd5(filePath, &m_cancelled);
    LOG_INFO() << " 生成 fileMd5 : " << md5;
    if (m_cancelled)
        return;

    if (uid.isEmpty()) {
        const QString url = utils->uploadToObjectStore(
            fileName, filePath, [this](int percent) { emit uploadProgress(percent); }, &m_cancelled);
        LOG_INFO() << "UploadFileWorker: fileUrl : " << url;
        if (m_cancelled)
            return;
        if (url.isEmpty())
            return finish(QStringLiteral("上传bos失败"));
        // Everything is sent: the bar may have stopped short of the end.
        emit uploadProgress(100);
        LOG_INFO() << "UploadFileWorker: fileMd5 : " << md5;
        uid = utils->createConsoleFile(fileName, fileSize, md5, url);
        LOG_INFO() << "UploadFileWorker: fileUID : " << uid;
        if (uid.isEmpty())
            return finish(QStringLiteral("创建虚拟文件失败"));
    }
    if (m_cancelled)
        return;

    LOG_INFO() << "UploadFileWorker: File start UploadOrInstall fileUID:" << uid
               << " isAutoInstallAPP: " << (isAutoInstallAPP ? 1 : 0);
    if (isAutoInstallAPP) {
        if (!utils->commitAppInstall(fileName, uid, md5, serverSN, batchUid)) {
            finish(QStringLiteral("文件安装失败"));
            LOG_INFO() << "UploadFileWorker: File upload and install";
            return;
        }
    } else if (!utils->commitFilePush(fileName, uid, md5, serverSN, batchUid, false)) {
        finish(QStringLiteral("文件上传失败"));
        LOG_INFO() << "UploadFileWorker: File upload";
        return;
    }
    LOG_INFO() << "UploadFileWorker: File upload successful ";
    finish(isAutoInstallAPP ? QStringLiteral("上传并安装成功") : QStringLiteral("上传成功"));
}
