// Measures what a stream costs on the client side and how fast a touch shows:
// decode per frame, conversion per frame, and touch → decoded frame showing
// the touch feedback, against an in-process phone farm.
//
//   bench_stream [touches=200] [level=1]

#include "localcloud/phonefarm/phonefarm.h"
#include "platform/swplay/swplay.h"

#include <QGuiApplication>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

int64_t nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

class BenchView final : public VideoDisplayWinBase, public SWDataSourceListener
{
public:
    void onFrameReady() override
    {
        const int64_t now = nowUs();
        std::lock_guard<std::mutex> lock(mutex);
        decode.push_back(lastDecodeMicros());
        convert.push_back(lastConvertMicros());
        ++frames;
        if (targetX < 0)
            return;
        // The farm draws touch feedback in (255, 0, 200).
        const uint8_t *px = getFrameBuffer() + (size_t(targetY) * size_t(getDstWidth()) + size_t(targetX)) * 4;
        if (px[2] > 200 && px[1] < 80 && px[0] > 140) {
            seenAt = now;
            targetX = -1;
            cv.notify_all();
        }
    }
    void onConnected() override { connected = true; }
    void onReconnecting(int) override {}
    void onDisconnected(int code) override { std::fprintf(stderr, "disconnected %d\n", code); }
    void onDisconnected(int code, const char *message) override
    {
        std::fprintf(stderr, "disconnected %d %s\n", code, message);
    }
    void onStatistics(const char *) override {}

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<int64_t> decode;
    std::vector<int64_t> convert;
    int frames = 0;
    int targetX = -1;
    int targetY = -1;
    int64_t seenAt = 0;
    std::atomic<bool> connected{false};
};

void report(const char *name, std::vector<int64_t> values)
{
    if (values.empty()) {
        std::printf("%-16s no samples\n", name);
        return;
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return double(values[size_t(q * double(values.size() - 1))]) / 1000.0; };
    std::printf("%-16s n=%-5zu median %7.2f ms   p95 %7.2f ms   max %7.2f ms\n", name, values.size(), at(0.5),
                at(0.95), at(1.0));
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const int touches = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    const int level = argc > 2 ? atoi(argv[2]) : 1;

    PhoneFarm farm;
    if (!farm.listen(QHostAddress::LocalHost, 0))
        return 1;
    farm.addPhone("BENCH", "Bench phone");
    farm.authorizeSession("bench", "BENCH", 1, 3600, "android");

    BenchView view;
    view.setDstFormat(-1, 720, 1280, 0);
    auto player = std::make_shared<SWPlayer>();
    auto source = std::make_shared<SWDataSource>(player->getId(), &view);
    const VideoLevel levels[] = {{2, 720, 1280, 20, 15, 4096, 45, 1, 1, 0, 0},
                                 {2, 576, 1024, 20, 15, 2048, 45, 2, 2, 0, 0},
                                 {2, 432, 768, 20, 15, 1024, 45, 3, 3, 0, 0},
                                 {2, 288, 512, 20, 15, 512, 45, 4, 4, 0, 0}};
    source->setLoginParams("127.0.0.1", farm.port(), 1, "bench", "BENCH", 0);
    source->setPlayParams("", -1, 0, 0, 30, 30, 512, 0, -1, -1, 3, 1, 0);
    source->setVideoLevels(levels, 4);
    source->setVideoLevel(level);
    player->setDataSource(source);
    player->setDisplay(&view);
    player->start();
    for (int i = 0; i < 100 && !view.connected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!view.connected) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // One finger down, then moved around the empty lower half of the home
    // screen; each move redraws the feedback at the new place.
    QRandomGenerator rng(42);
    std::vector<int64_t> latency;
    int lost = 0;
    int x = 360;
    int y = 800;
    const float pressure = 0.0f;
    for (int i = 0; i < touches; ++i) {
        int nx;
        int ny;
        do {
            nx = 100 + int(rng.bounded(520));
            ny = 520 + int(rng.bounded(560));
        } while (std::abs(nx - x) + std::abs(ny - y) < 200);
        x = nx;
        y = ny;
        int64_t sent;
        {
            std::lock_guard<std::mutex> lock(view.mutex);
            view.targetX = x;
            view.targetY = y;
            view.seenAt = 0;
            sent = nowUs();
        }
        source->sendTouchEvent(i == 0 ? 0 : 2, 1, &x, &y, &pressure);
        std::unique_lock<std::mutex> lock(view.mutex);
        if (view.cv.wait_for(lock, std::chrono::seconds(2), [&] { return view.seenAt != 0; }))
            latency.push_back(view.seenAt - sent);
        else
            ++lost;
        view.targetX = -1;
        lock.unlock();
        // Let the frame-rate pacing settle so each touch meets an idle pipe.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    player->stop();

    std::printf("level %d, %d touches (%d not seen)\n", level, touches, lost);
    std::lock_guard<std::mutex> lock(view.mutex);
    report("decode/frame", view.decode);
    report("convert/frame", view.convert);
    report("touch-to-frame", latency);
    return 0;
}
