// Feeds a control window's stream view with decoded H.264 frames of the
// phone's 720 x 1280 screen at a steady rate from a thread of its own, as
// the streaming library does, and measures what the client spends on each
// frame, for the old and the new frame path in the same run, portrait and
// landscape:
//   old     - the library converts to a full 720 x 1280 ARGB32 buffer and
//             the view's frame hook scales (and turns) it with QImage;
//   new     - the library converts and scales in one pass to the view's
//             size and the hook only copies (or turns) it.
// Per frame:
//   convert - the library's conversion into the view's buffer;
//   hook    - the view's frame hook on the library thread;
//   scale   - convert + hook, the library thread's share after decoding;
//   deliver - the queued hand-over on the GUI thread (pixmap, label);
//   paint   - the window's repaint and flush that shows it;
//   total   - scale + deliver + paint of one shown frame.
// Also the frames replaced before the GUI thread took them (dropped).
//
//   bench_control_frames [--seconds N] [--fps F]

#include "localcloud/phonefarm/h264encoder.h"
#include "platform/swplay/swdecoder.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEvent>
#include <QEventLoop>
#include <QImage>
#include <QMutex>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
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
QImage drawFrame(int n)
{
    QImage image(720, 1280, QImage::Format_RGB32);
    const int band = (n * 16) % 1280;
    for (int y = 0; y < 1280; ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        const quint32 colour = (y >= band && y < band + 64) ? 0xffffffffu : (0xff000000u | quint32((y + n) & 0xff) << 8);
        std::fill(row, row + 720, colour);
    }
    return image;
}

// One second of the phone's stream at level 1, a key frame first.
std::vector<std::string> encodeStream(int frames)
{
    H264Encoder encoder;
    QString error;
    std::vector<std::string> units;
    if (!encoder.open(720, 1280, 30, 4096, 15, &error))
        return units;
    for (int n = 0; n < frames; ++n) {
        bool key = false;
        const QByteArray au = encoder.encode(drawFrame(n), n * 33, n == 0, &key);
        units.emplace_back(au.constData(), size_t(au.size()));
    }
    return units;
}

struct Result
{
    QString name;
    Series convert, hook, scale, decode, deliver, paint, total;
    VideoRender::FrameCounters counters;
};

} // namespace

int main(int argc, char *argv[])
{
    TimingApplication app(argc, argv);
    initTarvixResources();

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Length of each run."),
                                           QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption fpsOption(QStringLiteral("fps"), QStringLiteral("Frames a second."), QStringLiteral("f"),
                                       QStringLiteral("30"));
    parser.addOptions({secondsOption, fpsOption});
    parser.process(app);
    const int seconds = qMax(1, parser.value(secondsOption).toInt());
    const int fps = qBound(1, parser.value(fpsOption).toInt(), 240);

    const std::vector<std::string> stream = encodeStream(30);
    if (stream.size() != 30 || stream.front().empty()) {
        std::fprintf(stderr, "cannot encode the test stream\n");
        return 1;
    }

    PhoneController window;
    window.setCurrentId(QStringLiteral("bench"));
    window.show();
    VideoRender *view = window.videoRender();
    app.view = view;
    app.window = &window;

    double loadBefore[3] = {0, 0, 0};
    getloadavg(loadBefore, 3);

    std::vector<Result> results;
    for (const bool portrait : {true, false}) {
        if (view->isPortrait() != portrait) {
            // As a click on "横竖屏切换" would.
            QMetaObject::invokeMethod(window.findChild<QObject *>(QStringLiteral("screen")), "clicked");
            QCoreApplication::processEvents();
        }
        const int viewWidth = view->getDstWidth();
        const int viewHeight = view->getDstHeight();
        for (const bool oldPath : {true, false}) {
            // The old path: every frame converted at the phone's full size.
            if (oldPath)
                view->setViewSize(720, 1280);
            else
                view->setViewSize(viewWidth, viewHeight);
            Result r;
            r.name = QStringLiteral("%1 %2 (%3 x %4)")
                         .arg(portrait ? QStringLiteral("portrait ") : QStringLiteral("landscape"),
                              oldPath ? QStringLiteral("old") : QStringLiteral("new"))
                         .arg(view->getDstWidth())
                         .arg(view->getDstHeight());
            app.deliver = Series();
            app.paint = Series();
            app.total = Series();
            const VideoRender::FrameCounters before = view->frameCounters();

            std::atomic<bool> running{true};
            std::thread feeder([&] {
                SWDecoder decoder;
                if (!decoder.open())
                    return;
                const auto period = std::chrono::nanoseconds(1000000000LL / fps);
                auto next = Clock::now() + std::chrono::milliseconds(300);
                for (size_t n = 0; running.load(); ++n) {
                    std::this_thread::sleep_until(next);
                    next += period;
                    const auto t0 = Clock::now();
                    if (decoder.decode(stream[n % stream.size()], int64_t(n)) != 1)
                        continue;
                    const auto t1 = Clock::now();
                    decoder.convert(view->getFrameBuffer(), view->getDstWidth(), view->getDstHeight(),
                                    view->getDstWidth() * 4);
                    const auto t2 = Clock::now();
                    view->onFrameReady();
                    const auto t3 = Clock::now();
                    r.decode.add(ms(t1 - t0));
                    r.convert.add(ms(t2 - t1));
                    r.hook.add(ms(t3 - t2));
                    r.scale.add(ms(t3 - t1));
                    QMutexLocker lock(&app.scaleMutex);
                    app.lastScale = ms(t3 - t1);
                }
            });
            QEventLoop loop;
            QTimer::singleShot(seconds * 1000 + 300, &loop, [&] {
                running = false;
                feeder.join();
                loop.quit();
            });
            loop.exec();
            QCoreApplication::processEvents();
            const VideoRender::FrameCounters after = view->frameCounters();
            r.counters.received = after.received - before.received;
            r.counters.shown = after.shown - before.shown;
            r.counters.replaced = after.replaced - before.replaced;
            r.deliver = app.deliver;
            r.paint = app.paint;
            r.total = app.total;
            results.push_back(std::move(r));
        }
    }

    double loadAfter[3] = {0, 0, 0};
    getloadavg(loadAfter, 3);
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(2);
    out << fps << " fps, " << seconds << " s per run, platform " << QGuiApplication::platformName()
        << ", load average before " << loadBefore[0] << ' ' << loadBefore[1] << ' ' << loadBefore[2] << ", after "
        << loadAfter[0] << ' ' << loadAfter[1] << ' ' << loadAfter[2] << '\n';
    out << "ms per frame, median / p95\n";
    out << "| path | total | scale | convert | hook | deliver | paint | decode | dropped |\n";
    out << "|---|---|---|---|---|---|---|---|---|\n";
    for (Result &r : results) {
        out << "| " << r.name;
        for (Series *s : {&r.total, &r.scale, &r.convert, &r.hook, &r.deliver, &r.paint, &r.decode})
            out << " | " << s->percentile(0.5) << " / " << s->percentile(0.95);
        out << " | " << r.counters.replaced << " of " << r.counters.received << " |\n";
    }
    out.flush();
    return 0;
}
