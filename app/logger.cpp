#include "app/logger.h"

#include "app/logdestination.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

namespace Logging {

QString levelText(int level)
{
    switch (level) {
    case TraceLevel: return QStringLiteral("TRACE");
    case DebugLevel: return QStringLiteral("DEBUG");
    case InfoLevel: return QStringLiteral("INFO ");
    case WarnLevel: return QStringLiteral("WARN ");
    case ErrorLevel: return QStringLiteral("ERROR");
    case FatalLevel: return QStringLiteral("FATAL");
    case OffLevel: return QString();
    default: return QStringLiteral("INFO ");
    }
}

Logger &Logger::instance()
{
    static Logger *logger = new Logger; // never destroyed: threads may log during exit
    return *logger;
}

Logger::Logger()
{
    m_destinations.reserve(2);
}

void Logger::addDestination(DestinationPtr destination)
{
    QMutexLocker lock(&m_mutex);
    m_destinations.push_back(std::move(destination));
}

void Logger::write(const QString &message, int level)
{
    QMutexLocker lock(&m_mutex);
    for (const DestinationPtr &d : qAsConst(m_destinations))
        d->write(message, level);
}

QString composeLine(int level, const QString &buffer)
{
    const Logger &logger = Logger::instance();
    QString line;
    if (logger.includeLevel())
        line += levelText(level) + QLatin1Char(' ');
    if (logger.includeTimestamp())
        line += QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz")) + QLatin1Char(' ');
    line += buffer;
    return line;
}

Helper::Helper(int level)
    : m_level(level)
    , m_stream(&m_buffer)
{
}

Helper::~Helper()
{
    Logger::instance().write(composeLine(m_level, m_buffer), m_level);
}

void initialize()
{
    const QDir appDir(QCoreApplication::applicationDirPath());
    if (!appDir.exists(QStringLiteral("logs"))) {
        appDir.mkpath(QStringLiteral("logs"));
        qDebug() << "fullpath: " << appDir.filePath(QStringLiteral("logs"));
    }
    Logger &logger = Logger::instance();
    logger.setLevel(TraceLevel);
    const QString path = appDir.filePath(
        QStringLiteral("logs/%1.txt").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    logger.addDestination(DestinationFactory::makeFileDestination(path, EnableLogRotation, 10485760, 5));
}

} // namespace Logging
