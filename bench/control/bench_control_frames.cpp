// Feeds a control window's stream view with 720 x 1280 frames at a steady
// rate from a thread of its own, as the streaming library does, and measures
// what the client spends on each frame:
//   scale   - the frame hook on the library thread (wrap, scale, turn);
//   deliver - the queued hand-over on the GUI thread (pixmap, label);
//   paint   - the window's repaint and flush that shows it.
// Also the frames replaced before the GUI thread took them (dropped).
//
//   bench_control_frames [--seconds N] [--fps F] [--landscape]

#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEvent>
#include <QMutex>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Series
{
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double percentile(double p)
    {
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        const size_t i = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
        return values[i];
    }
};

// Times the GUI thread's share: the view's queued frame hand-over and the
// window repaint that follows it.
class TimingApplication final : public QApplication
{
public:
    using QApplication::QApplication;

    QObject *view = nullptr;
    QObject *window = nullptr;
    bool deliveredSincePaint = false;
    double lastDeliver = 0;
    Series deliver;
    Series paint;
    Series total;
    std::vector<double> scaleOf; // filled by the feeder, read after it stops
    QMutex scaleMutex;
    double lastScale = 0;

    bool notify(QObject *receiver, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        const bool isDelivery = receiver == view && type == QEvent::MetaCall;
        const bool isPaint = receiver == window && type == QEvent::UpdateRequest && deliveredSincePaint;
        if (!isDelivery && !isPaint)
            return QApplication::notify(receiver, event);
        const auto start = Clock::now();
        const bool result = QApplication::notify(receiver, event);
        const double spent = ms(Clock::now() - start);
        if (isDelivery) {
            deliver.add(spent);
            lastDeliver = spent;
            deliveredSincePaint = true;
        } else {
            paint.add(spent);
            deliveredSincePaint = false;
            double scale;
            {
                QMutexLocker lock(&scaleMutex);
                scale = lastScale;
            }
            total.add(scale + lastDeliver + spent);
        }
        return result;
    }
};

// A picture that changes every frame, so nothing upstream could skip work.
void drawFrame(quint32 *pixels, int width, int height, int n)
{
    const int band = (n * 16) % height;
    for (int y = 0; y < height; ++y) {
        const quint32 colour = (y >= band && y < band + 64) ? 0xffffffffu : (0xff000000u | quint32((y + n) & 0xff) << 8);
        std::fill(pixels + y * width, pixels + (y + 1) * width, colour);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    TimingApplication app(argc, argv);
    initTarvixResources();

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Length of the run."),
                                           QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption fpsOption(QStringLiteral("fps"), QStringLiteral("Frames a second."), QStringLiteral("f"),
                                       QStringLiteral("30"));
    const QCommandLineOption landscapeOption(QStringLiteral("landscape"), QStringLiteral("Turn the view first."));
    parser.addOptions({secondsOption, fpsOption, landscapeOption});
    parser.process(app);
    const int seconds = qMax(1, parser.value(secondsOption).toInt());
    const int fps = qBound(1, parser.value(fpsOption).toInt(), 240);

    PhoneController window;
    window.setCurrentId(QStringLiteral("bench"));
    window.show();
    VideoRender *view = window.videoRender();
    // As a click on "横竖屏切换" would.
    if (parser.isSet(landscapeOption))
        QMetaObject::invokeMethod(window.findChild<QObject *>(QStringLiteral("screen")), "clicked");
    app.view = view;
    app.window = &window;

    std::atomic<bool> running{true};
    Series scale;
    std::thread feeder([&] {
        auto *pixels = reinterpret_cast<quint32 *>(view->getFrameBuffer());
        const auto period = std::chrono::nanoseconds(1000000000LL / fps);
        auto next = Clock::now() + std::chrono::milliseconds(500);
        for (int n = 0; running.load(); ++n) {
            std::this_thread::sleep_until(next);
            next += period;
            drawFrame(pixels, view->getDstWidth(), view->getDstHeight(), n);
            const auto start = Clock::now();
            view->onFrameReady();
            const double spent = ms(Clock::now() - start);
            scale.add(spent);
            QMutexLocker lock(&app.scaleMutex);
            app.lastScale = spent;
        }
    });

    QTimer::singleShot((seconds * 1000) + 500, &app, [&] {
        running = false;
        feeder.join();
        QCoreApplication::processEvents();
        const VideoRender::FrameCounters c = view->frameCounters();
        QTextStream out(stdout);
        out.setRealNumberNotation(QTextStream::FixedNotation);
        out.setRealNumberPrecision(2);
        out << "orientation " << (view->isPortrait() ? "portrait" : "landscape") << ", " << fps << " fps, " << seconds
            << " s, platform " << QGuiApplication::platformName() << '\n';
        out << "frames received " << c.received << ", shown " << c.shown << ", replaced " << c.replaced << " ("
            << (c.received ? 100.0 * double(c.replaced) / double(c.received) : 0.0) << " % dropped)\n";
        out << "ms per frame      median    p95\n";
        auto row = [&out](const char *name, Series &s) {
            out << qSetFieldWidth(16) << Qt::left << name << qSetFieldWidth(0) << qSetFieldWidth(8) << Qt::right
                << s.percentile(0.5) << s.percentile(0.95) << qSetFieldWidth(0) << '\n';
        };
        row("scale", scale);
        row("deliver", app.deliver);
        row("paint", app.paint);
        row("total", app.total);
        app.quit();
    });
    return app.exec();
}
