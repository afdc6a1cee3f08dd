#pragma once

#include "app/logger.h"

#include <QFile>
#include <QObject>
#include <QTextStream>

#include <memory>

namespace Logging {

class RotationStrategy;

class Destination
{
public:
    virtual ~Destination() = default;
    virtual void write(const QString &message, int level) = 0;
    virtual bool isValid() = 0;
};

class FileDestination final : public Destination
{
public:
    FileDestination(const QString &filePath, std::shared_ptr<RotationStrategy> rotation);
    void write(const QString &message, int level) override;
    bool isValid() override;

private:
    QFile m_file;
    QTextStream m_stream;
    std::shared_ptr<RotationStrategy> m_rotation;
};

// Reaches only whoever watches the process's debug output (stderr here).
class DebugOutputDestination final : public Destination
{
public:
    void write(const QString &message, int level) override;
    bool isValid() override { return true; }
};

using LogFunction = void (*)(const QString &message, int level);

class FunctorDestination final : public QObject, public Destination
{
    Q_OBJECT

public:
    explicit FunctorDestination(LogFunction f);
    FunctorDestination(QObject *receiver, const char *member);

    void write(const QString &message, int level) override;
    bool isValid() override { return true; }

signals:
    void logMessageReady(const QString &message, int level);

private:
    LogFunction m_function = nullptr;
};

enum LogRotationOption {
    DisableLogRotation = 0,
    EnableLogRotation = 1
};

struct DestinationFactory
{
    static DestinationPtr makeFileDestination(const QString &filePath,
                                              LogRotationOption rotation = DisableLogRotation,
                                              qint64 maxSizeBytes = 0,
                                              int maxOldLogCount = 0);
    static DestinationPtr makeDebugOutputDestination();
    static DestinationPtr makeFunctorDestination(LogFunction f);
    static DestinationPtr makeFunctorDestination(QObject *receiver, const char *member);
};

} // namespace Logging
