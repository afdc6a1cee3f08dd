#pragma once

#include <QIODevice>
#include <QString>

class QFile;

namespace Logging {

class RotationStrategy
{
public:
    virtual ~RotationStrategy() = default;
    virtual void setFile(const QFile &file) = 0;
    virtual void addMessageSize(const QString &message) = 0;
    virtual bool needsRotation() const = 0;
    virtual void rotate() = 0;
    virtual QIODevice::OpenMode openModeFlag() const = 0;
};

// Keeps no file beyond its size limit: the log becomes name.1, older ones
// move up to name.N and the oldest falls off.
class SizeRotationStrategy final : public RotationStrategy
{
public:
    static constexpr int MaxBackupCount = 10;

    void setFile(const QFile &file) override;
    void addMessageSize(const QString &message) override;
    bool needsRotation() const override;
    void rotate() override;
    QIODevice::OpenMode openModeFlag() const override;

    void setMaximumSizeInBytes(qint64 size) { m_maxSize = size; }
    void setBackupCount(int backups);
    int backupCount() const { return m_backupCount; }
    qint64 currentSize() const { return m_currentSize; }

private:
    QString m_fileName;
    qint64 m_currentSize = 0;
    qint64 m_maxSize = 0;
    int m_backupCount = 0;
};

class NullRotationStrategy final : public RotationStrategy
{
public:
    void setFile(const QFile &) override {}
    void addMessageSize(const QString &) override {}
    bool needsRotation() const override { return false; }
    void rotate() override {}
    QIODevice::OpenMode openModeFlag() const override { return QIODevice::Truncate; }
};

} // namespace Logging
