#pragma once

#include <QDebug>
#include <QMutex>
#include <QString>
#include <QVector>

#include <memory>

namespace Logging {

enum Level {
    TraceLevel = 0,
    DebugLevel,
    InfoLevel,
    WarnLevel,
    ErrorLevel,
    FatalLevel,
    OffLevel
};

// Five characters each, so the columns after them line up.
QString levelText(int level);

class Destination;
using DestinationPtr = std::shared_ptr<Destination>;

// One per process. Filters by level and hands each line to every destination
// in the order they were added, under one lock so lines never interleave.
class Logger final
{
public:
    static Logger &instance();

    void setLevel(int level) { m_level = level; }
    // Read without the lock: a stale value only lets one line through or not.
    int level() const { return m_level; }

    void addDestination(DestinationPtr destination);
    void write(const QString &message, int level);

    bool includeLevel() const { return m_includeLevel; }
    bool includeTimestamp() const { return m_includeTimestamp; }

private:
    Logger();
    Q_DISABLE_COPY_MOVE(Logger)

    QMutex m_mutex;
    int m_level = InfoLevel;
    QVector<DestinationPtr> m_destinations;
    bool m_includeLevel = true;
    bool m_includeTimestamp = true;
};

// Builds one line on the stack; the line is written when it goes away.
class Helper final
{
public:
    explicit Helper(int level);
    ~Helper();
    QDebug &stream() { return m_stream; }

private:
    Q_DISABLE_COPY_MOVE(Helper)

    int m_level;
    QString m_buffer;
    QDebug m_stream;
};

// Composes the text of a line the way the helper does; exposed for tests.
QString composeLine(int level, const QString &buffer);

// Creates logs/ beside the executable and adds the daily rotating file.
void initialize();

} // namespace Logging

// A filtered statement evaluates none of its streamed items.
#define TARVIX_LOG(lvl) \
    if (Logging::Logger::instance().level() > (lvl)) {} else Logging::Helper(lvl).stream()

#define LOG_TRACE() TARVIX_LOG(Logging::TraceLevel)
#define LOG_DEBUG() TARVIX_LOG(Logging::DebugLevel)
#define LOG_INFO() TARVIX_LOG(Logging::InfoLevel)
#define LOG_WARN() TARVIX_LOG(Logging::WarnLevel)
#define LOG_ERROR() TARVIX_LOG(Logging::ErrorLevel)
#define LOG_FATAL() TARVIX_LOG(Logging::FatalLevel)
