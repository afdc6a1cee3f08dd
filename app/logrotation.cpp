#include "app/logrotation.h"

#include <QFile>

#include <cstdio>

namespace Logging {

namespace {

// Failures of the logger itself go to stderr without an end-of-line.
void reportError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

QString backupName(const QString &fileName, int k)
{
    return fileName + QLatin1Char('.') + QString::number(k);
}

} // namespace

void SizeRotationStrategy::setFile(const QFile &file)
{
    m_fileName = file.fileName();
    m_currentSize = file.size();
}

void SizeRotationStrategy::addMessageSize(const QString &message)
{
    m_currentSize += message.toUtf8().size();
}

bool SizeRotationStrategy::needsRotation() const
{
    return m_currentSize > m_maxSize;
}

QIODevice::OpenMode SizeRotationStrategy::openModeFlag() const
{
    return QIODevice::Append;
}

void SizeRotationStrategy::setBackupCount(int backups)
{
    m_backupCount = qMin(backups, MaxBackupCount);
}

void SizeRotationStrategy::rotate()
{
    if (m_backupCount == 0) {
        if (!QFile::remove(m_fileName))
            reportError(QStringLiteral("Log: backup delete failed ") + m_fileName);
        return;
    }

    int found = 0;
    for (int k = 1; k <= m_backupCount; ++k) {
        if (!QFile::exists(backupName(m_fileName, k)))
            break;
        found = k;
    }
    found = qMin(found, m_backupCount - 1);

    for (int k = found; k >= 1; --k) {
        const QString from = backupName(m_fileName, k);
        const QString to = backupName(m_fileName, k + 1);
        if (QFile::exists(to))
            QFile::remove(to);
        if (!QFile::rename(from, to))
            reportError(QStringLiteral("Log: could not rename backup ") + from + QStringLiteral(" to ") + to);
    }

    const QString first = backupName(m_fileName, 1);
    if (QFile::exists(first))
        QFile::remove(first);
    if (!QFile::rename(m_fileName, first))
        reportError(QStringLiteral("Log: could not rename log ") + m_fileName + QStringLiteral(" to ") + first);
}

} // namespace Logging
