// What the phone farm's thread spends on a farm of many phones whose screens
// do not change: without sessions, and with sessions open the way card
// previews open theirs (1 frame a second asked, level 1). The clients only
// read and send keep-alives; the farm thread's CPU is read from
// /proc/self/task, so the clients' own work is not counted. Sessions are
// opened a batch at a time and measured once all have their first picture.
//
//   bench_farm [--phones 200] [--sessions 0,24,100] [--seconds 10]

#include "localcloud/phonefarm/phonefarm.h"
#include "platform/swplay/swprotocol.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kBatch = 8;

// Resident memory of the process in MiB.
double rssMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// utime + stime of the thread named "phonefarm", in seconds.
double farmThreadCpu()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "phonefarm")
            continue;
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray line = stat.readAll();
        // Fields after the command name, which is in parentheses.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return 0;
        return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return 0;
}

void wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A stream client that reads everything and counts the pictures.
struct Client
{
    QTcpSocket socket;
    swp::Deframer deframer;
    qint64 videos = 0;
    qint64 keyFrames = 0;
    qint64 bytes = 0;

    void start(quint16 port, const QString &session, const QString &pad)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            const QByteArray data = socket.readAll();
            bytes += data.size();
            deframer.append(data.constData(), size_t(data.size()));
            swp::Type type;
            std::string body;
            while (deframer.next(type, body) == swp::Deframer::Result::Message) {
                if (type != swp::Type::Video)
                    continue;
                swp::Video v;
                if (swp::decodeVideo(body, v)) {
                    ++videos;
                    keyFrames += v.keyFrame ? 1 : 0;
                }
            }
        });
        swp::Hello h;
        h.userId = 7;
        h.sessionId = session.toStdString();
        h.padCode = pad.toStdString();
        // As a card preview asks: one picture a second, level 1.
        h.play = {-1, 0, 0, 1, 1, 512, 0, -1, -1, 3, 1, 0};
        h.levels = {{2, 720, 1280, 20, 15, 4096, 45, 1, 1, 0, 0},
                    {2, 576, 1024, 20, 15, 2048, 45, 2, 2, 0, 0},
                    {2, 432, 768, 20, 15, 1024, 45, 3, 3, 0, 0},
                    {2, 288, 512, 20, 15, 512, 45, 4, 4, 0, 0}};
        h.level = 1;
        socket.connectToHost(QHostAddress::LocalHost, port);
        const std::string hello = swp::encodeHello(h);
        socket.write(hello.data(), qint64(hello.size()));
    }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption phonesOption(QStringLiteral("phones"), QStringLiteral("Phones in the farm."),
                                          QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption sessionsOption(QStringLiteral("sessions"), QStringLiteral("Session counts, in turn."),
                                            QStringLiteral("list"), QStringLiteral("0,24,100"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Measured time per step."),
                                           QStringLiteral("n"), QStringLiteral("10"));
    parser.addOptions({phonesOption, sessionsOption, secondsOption});
    parser.process(app);
    const int phones = qBound(1, parser.value(phonesOption).toInt(), 2000);
    const int seconds = qBound(1, parser.value(secondsOption).toInt(), 600);

    PhoneFarm farm;
    if (!farm.listen(QHostAddress::LocalHost, 0))
        return 1;
    for (int i = 0; i < phones; ++i)
        farm.addPhone(QStringLiteral("BENCH%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("Bench %1").arg(i));

    // Keep-alives, so the farm never takes a client for gone.
    std::vector<std::unique_ptr<Client>> clients;
    QTimer keepAlive;
    keepAlive.setInterval(2000);
    QObject::connect(&keepAlive, &QTimer::timeout, [&clients] {
        const std::string message = swp::encodeKeepAlive(0);
        for (auto &c : clients)
            c->socket.write(message.data(), qint64(message.size()));
    });
    keepAlive.start();

    double loadBefore[3] = {0, 0, 0};
    getloadavg(loadBefore, 3);
    std::printf("phones %d, %d s per step, load average before %.2f %.2f %.2f\n", phones, seconds, loadBefore[0],
                loadBefore[1], loadBefore[2]);
    std::printf("sessions  farm CPU %%  pictures/s  key frames/s  KiB/s  RSS MiB  first pictures after\n");
    int sessionNumber = 0;
    for (const QString &step : parser.value(sessionsOption).split(QLatin1Char(','))) {
        const int sessions = qBound(0, step.toInt(), phones);
        while (int(clients.size()) > sessions)
            clients.pop_back();
        auto allHavePictures = [&clients] {
            for (auto &c : clients) {
                if (c->keyFrames == 0)
                    return false;
            }
            return true;
        };
        // Opened a few at a time, as a list scrolls into view; each batch
        // waits for its first pictures.
        QElapsedTimer firstPictures;
        firstPictures.start();
        while (int(clients.size()) < sessions) {
            for (int i = 0; i < kBatch && int(clients.size()) < sessions; ++i) {
                const QString pad = QStringLiteral("BENCH%1").arg(int(clients.size()), 4, 10, QLatin1Char('0'));
                const QString id = QStringLiteral("bench-%1").arg(++sessionNumber);
                farm.authorizeSession(id, pad, 7, 0, QStringLiteral("android"));
                clients.push_back(std::make_unique<Client>());
                clients.back()->start(farm.port(), id, pad);
            }
            QElapsedTimer batch;
            batch.start();
            while (!allHavePictures() && batch.elapsed() < 30000)
                wait(50);
        }
        const double firstSeconds = firstPictures.elapsed() / 1000.0;
        int silent = 0, noKey = 0, unconnected = 0;
        for (auto &c : clients) {
            silent += c->bytes == 0;
            noKey += c->keyFrames == 0;
            unconnected += c->socket.state() != QAbstractSocket::ConnectedState;
        }
        if (noKey)
            std::fprintf(stderr, "without a key frame %d, nothing received %d, not connected %d\n", noKey, silent,
                         unconnected);
        wait(2000);
        qint64 videos0 = 0, keys0 = 0, bytes0 = 0;
        for (auto &c : clients) {
            videos0 += c->videos;
            keys0 += c->keyFrames;
            bytes0 += c->bytes;
        }
        const double cpu0 = farmThreadCpu();
        QElapsedTimer clock;
        clock.start();
        wait(seconds * 1000);
        const double elapsed = clock.elapsed() / 1000.0;
        const double cpu = farmThreadCpu() - cpu0;
        qint64 videos1 = 0, keys1 = 0, bytes1 = 0;
        for (auto &c : clients) {
            videos1 += c->videos;
            keys1 += c->keyFrames;
            bytes1 += c->bytes;
        }
        std::printf("%8d  %10.1f  %10.1f  %12.1f  %5.0f  %6.0f  %s %.1f s\n", sessions, 100.0 * cpu / elapsed,
                    double(videos1 - videos0) / elapsed, double(keys1 - keys0) / elapsed,
                    double(bytes1 - bytes0) / 1024.0 / elapsed, rssMiB(), allHavePictures() ? "all" : "NOT all",
                    firstSeconds);
        std::fflush(stdout);
    }
    double loadAfter[3] = {0, 0, 0};
    getloadavg(loadAfter, 3);
    std::printf("load average after %.2f %.2f %.2f\n", loadAfter[0], loadAfter[1], loadAfter[2]);
    clients.clear();
    return 0;
}
