#pragma once

#include "platform/swplay/swplay.h"

#include <QImage>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstring>
#include <memory>

// A display and listener for tests: records every notification as text and
// keeps a copy of the last picture.
class TestView final : public VideoDisplayWinBase, public SWDataSourceListener
{
public:
    TestView() { setDstFormat(-1, 720, 1280, 0); }

    void onFrameReady() override
    {
        const QImage frame(getFrameBuffer(), getDstWidth(), getDstHeight(), getDstWidth() * 4, QImage::Format_ARGB32);
        QMutexLocker lock(&m_mutex);
        m_last = frame.copy();
        ++frames;
    }
    void onConnected() override { add(QStringLiteral("connected")); }
    void onReconnecting(int attempt) override { add(QStringLiteral("reconnecting:%1").arg(attempt)); }
    void onDisconnected(int code) override { add(QStringLiteral("disconnected:%1").arg(code)); }
    void onDisconnected(int code, const char *message) override
    {
        add(QStringLiteral("disconnected:%1:%2").arg(code).arg(QString::fromUtf8(message)));
    }
    void onStatistics(const char *json) override
    {
        QMutexLocker lock(&m_mutex);
        m_statistics = QString::fromUtf8(json);
    }
    void onVideoSizeChanged(int width, int height) override { add(QStringLiteral("size:%1x%2").arg(width).arg(height)); }

    QStringList events() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }
    bool has(const QString &event) const { return events().contains(event); }
    // The last event that starts with prefix, or an empty text.
    QString last(const QString &prefix) const
    {
        const QStringList all = events();
        for (int i = all.size() - 1; i >= 0; --i) {
            if (all.at(i).startsWith(prefix))
                return all.at(i);
        }
        return {};
    }
    QImage lastFrame() const
    {
        QMutexLocker lock(&m_mutex);
        return m_last;
    }
    QString statistics() const
    {
        QMutexLocker lock(&m_mutex);
        return m_statistics;
    }

    std::atomic<int> frames{0};

private:
    void add(const QString &event)
    {
        QMutexLocker lock(&m_mutex);
        m_events << event;
    }

    mutable QMutex m_mutex;
    QStringList m_events;
    QImage m_last;
    QString m_statistics;
};

// The four levels a stream view hands over.
inline std::vector<VideoLevel> standardLevels()
{
    return {{2, 720, 1280, 20, 15, 4096, 45, 1, 1, 0, 0},
            {2, 576, 1024, 20, 15, 2048, 45, 2, 2, 0, 0},
            {2, 432, 768, 20, 15, 1024, 45, 3, 3, 0, 0},
            {2, 288, 512, 20, 15, 512, 45, 4, 4, 0, 0}};
}

// One stream opened the way the client's views open theirs.
struct TestStream {
    TestView view;
    std::shared_ptr<SWPlayer> player = std::make_shared<SWPlayer>();
    std::shared_ptr<SWDataSource> source = std::make_shared<SWDataSource>(player->getId(), &view);

    void start(quint16 port, const QByteArray &sessionId, const QByteArray &padCode, qint32 userId = 42,
               int frameRate = 30, int level = 1)
    {
        SWRuntime::getInstance()->init(3, "./logs");
        source->setLoginParams("127.0.0.1", port, userId, sessionId.constData(), padCode.constData(), 0);
        source->setPlayParams("", -1, 0, 0, frameRate, frameRate, 512, 0, -1, -1, 3, 1, 0);
        const auto levels = standardLevels();
        source->setVideoLevels(levels.data(), int(levels.size()));
        source->setVideoLevel(level);
        source->setBusinessType(1);
        player->setDataSource(source);
        player->setDisplay(&view);
        player->start();
    }
    ~TestStream() { player->stop(); }
};
