#include "app/logdestination.h"

#include "app/logrotation.h"

#include <cstdio>

namespace Logging {

namespace {

void reportError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

FileDestination::FileDestination(const QString &filePath, std::shared_ptr<RotationStrategy> rotation)
    : m_rotation(std::move(rotation))
{
    m_file.setFileName(filePath);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Text | m_rotation->openModeFlag()))
        reportError(QStringLiteral("Log: could not open log file ") + filePath);
    m_stream.setDevice(&m_file);
    m_stream.setCodec("UTF-8");
    m_stream.setGenerateByteOrderMark(false);
    m_rotation->setFile(m_file);
}

void FileDestination::write(const QString &message, int level)
{
    Q_UNUSED(level)
    // A file that could not be opened was reported once; its lines are
    // lost, the logger's other destinations still get them.
    if (!m_file.isOpen())
        return;
    m_rotation->addMessageSize(message);
    if (m_rotation->needsRotation()) {
        m_stream.flush();
        m_stream.setDevice(nullptr);
        m_file.close();
        m_rotation->rotate();
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Text | m_rotation->openModeFlag())) {
            reportError(QStringLiteral("Log: could not reopen log file ") + m_file.fileName());
            return;
        }
        m_rotation->setFile(m_file);
        m_stream.setDevice(&m_file);
        m_stream.setCodec("UTF-8");
    }
    m_stream << message << Qt::endl; // endl flushes: the log is complete up to a crash
}

bool FileDestination::isValid()
{
    return m_file.isOpen();
}

void DebugOutputDestination::write(const QString &message, int level)
{
    Q_UNUSED(level)
    const QByteArray bytes = (message + QLatin1Char('\n')).toLocal8Bit();
    std::fputs(bytes.constData(), stderr);
}

FunctorDestination::FunctorDestination(LogFunction f)
    : m_function(f)
{
}

FunctorDestination::FunctorDestination(QObject *receiver, const char *member)
{
    connect(this, SIGNAL(logMessageReady(QString,int)), receiver, member, Qt::QueuedConnection);
}

void FunctorDestination::write(const QString &message, int level)
{
    if (m_function)
        m_function(message, level);
    if (level > TraceLevel)
        emit logMessageReady(message, level);
}

DestinationPtr DestinationFactory::makeFileDestination(const QString &filePath, LogRotationOption rotation,
                                                       qint64 maxSizeBytes, int maxOldLogCount)
{
    if (rotation == EnableLogRotation) {
        auto size = std::make_shared<SizeRotationStrategy>();
        size->setMaximumSizeInBytes(maxSizeBytes);
        size->setBackupCount(maxOldLogCount);
        return std::make_shared<FileDestination>(filePath, size);
    }
    return std::make_shared<FileDestination>(filePath, std::make_shared<NullRotationStrategy>());
}

DestinationPtr DestinationFactory::makeDebugOutputDestination()
{
    return std::make_shared<DebugOutputDestination>();
}

DestinationPtr DestinationFactory::makeFunctorDestination(LogFunction f)
{
    return std::make_shared<FunctorDestination>(f);
}

DestinationPtr DestinationFactory::makeFunctorDestination(QObject *receiver, const char *member)
{
    return std::make_shared<FunctorDestination>(receiver, member);
}

} // namespace Logging
