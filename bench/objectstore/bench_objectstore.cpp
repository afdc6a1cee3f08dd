// A put of one large file to the local object store through the client,
// against `curl -T` of the same file to the same store in the same run, and
// the client's peak resident memory over its idle level during the put.

#include "tests/support/localcloud.h"
#include "upload/bos/bce_log.h"
#include "upload/bos/client_impl.h"
#include "upload/bos/stream.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <cstdio>
#include <unistd.h>

using namespace bos;

namespace {

const QString Bucket = QStringLiteral("bench-bucket");
const QString Key = QStringLiteral("bench/large object.bin");

qint64 statusKib(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Starts a fresh peak for VmHWM.
void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

QString writeFile(qint64 bytes, QByteArray *md5)
{
    const QString path = QStringLiteral("/tmp/tarvix-bench-objectstore-%1.bin").arg(::getpid());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QByteArray block(8 * 1024 * 1024, Qt::Uninitialized);
    QCryptographicHash hash(QCryptographicHash::Md5);
    qint64 left = bytes;
    quint32 seed = 1;
    while (left > 0) {
        // Different bytes in every block, so nothing along the way can fold them.
        QRandomGenerator generator(seed++);
        generator.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        const QByteArray part = block.left(int(qMin<qint64>(left, block.size())));
        if (file.write(part) != part.size())
            return QString();
        hash.addData(part);
        left -= part.size();
    }
    *md5 = hash.result().toHex();
    return path;
}

struct Run
{
    bool ok = false;
    double seconds = 0;
    QString detail;
};

Run viaCurl(const TestSupport::LocalCloud &cloud, const QJsonObject &credentials, const QString &file)
{
    const std::string host = Bucket.toStdString() + ".bj.bos.localhost:" + std::to_string(cloud.objectStorePort());
    HttpRequest request;
    request.set_method(HTTP_METHOD_PUT);
    request.set_host(host);
    request.set_path("/" + Key.toStdString());
    const BceCredentials keys{credentials.value(QStringLiteral("accessKeyId")).toString().toStdString(),
                              credentials.value(QStringLiteral("secretAccessKey")).toString().toStdString(),
                              credentials.value(QStringLiteral("sessionToken")).toString().toStdString()};
    const std::string auth = DefaultSigner::authorization(request, keys, utc_timestamp(), 1200);
    const QString url = QString::fromStdString(request.url());
    QProcess curl;
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-w"),
                QStringLiteral("%{http_code}"), QStringLiteral("-T"), file, QStringLiteral("-H"),
                QStringLiteral("x-bce-security-token: ") + QString::fromStdString(keys.security_token),
                QStringLiteral("-H"), QStringLiteral("Authorization: ") + QString::fromStdString(auth), url});
    curl.waitForFinished(-1);
    Run run;
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.detail = QString::fromUtf8(curl.readAllStandardOutput() + curl.readAllStandardError()).trimmed();
    run.ok = curl.exitCode() == 0 && run.detail == QLatin1String("200");
    return run;
}

Run viaClient(const TestSupport::LocalCloud &cloud, const QJsonObject &credentials, const QString &file,
              qint64 *idleKib, qint64 *peakKib)
{
    ClientOptions options;
    options.endpoint = cloud.objectStoreEndpoint().toStdString();
    options.timeout = 12000;
    const BceCredentials keys{credentials.value(QStringLiteral("accessKeyId")).toString().toStdString(),
                              credentials.value(QStringLiteral("secretAccessKey")).toString().toStdString(),
                              credentials.value(QStringLiteral("sessionToken")).toString().toStdString()};
    *idleKib = statusKib("VmRSS:");
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    Run run;
    {
        ClientImpl client(keys, options);
        PutObjectRequest request(Bucket.toStdString(), Key.toStdString(), FileInputStream::open(file.toStdString()));
        request.set_storage_class("STANDARD");
        PutObjectResponse response;
        const int ret = client.put_object(request, response);
        run.ok = ret == 0;
        run.detail = ret == 0 ? QStringLiteral("etag ") + QString::fromStdString(response.etag())
                              : QStringLiteral("%1 %2").arg(ret).arg(QString::fromStdString(response.error().code));
    }
    run.seconds = timer.nsecsElapsed() / 1e9;
    *peakKib = statusKib("VmHWM:");
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2048;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 2;
    const qint64 bytes = mib * 1024 * 1024;
    set_bce_log_level(BCE_WARN);

    TestSupport::LocalCloud cloud({QStringLiteral("--seed"), QStringLiteral("empty")});
    if (!cloud.isReady()) {
        std::fprintf(stderr, "%s\n", qPrintable(cloud.errorString()));
        return 1;
    }
    const QJsonObject credentials = cloud.issueStsCredentials(Bucket);
    QByteArray md5;
    const QString file = writeFile(bytes, &md5);
    if (file.isEmpty()) {
        std::fprintf(stderr, "cannot write the file in /tmp\n");
        return 1;
    }
    std::printf("file %lld MiB, md5 %s\n", mib, md5.constData());

    const auto storedMd5 = [&cloud] {
        for (const QJsonValue &value : cloud.storedObjects(Bucket))
            return value.toObject().value(QStringLiteral("md5")).toString().toLatin1();
        return QByteArray();
    };

    double curlBest = 0, clientBest = 0;
    qint64 worstGrowth = 0;
    bool allOk = true;
    for (int round = 1; round <= rounds; ++round) {
        const Run curl = viaCurl(cloud, credentials, file);
        const bool curlStored = storedMd5() == md5;
        qint64 idle = 0, peak = 0;
        const Run client = viaClient(cloud, credentials, file, &idle, &peak);
        const bool clientStored = storedMd5() == md5;
        const double curlRate = bytes / curl.seconds / 1048576.0;
        const double clientRate = bytes / client.seconds / 1048576.0;
        std::printf("round %d: curl -T %.2f s (%.0f MiB/s) %s%s | client %.2f s (%.0f MiB/s) %s%s | "
                    "ratio %.2f | RSS idle %lld KiB, peak %lld KiB, +%lld KiB\n",
                    round, curl.seconds, curlRate, qPrintable(curl.detail), curlStored ? "" : " WRONG OBJECT",
                    client.seconds, clientRate, qPrintable(client.detail), clientStored ? "" : " WRONG OBJECT",
                    clientRate / curlRate, idle, peak, peak - idle);
        std::fflush(stdout);
        allOk = allOk && curl.ok && client.ok && curlStored && clientStored;
        curlBest = qMax(curlBest, curlRate);
        clientBest = qMax(clientBest, clientRate);
        worstGrowth = qMax(worstGrowth, peak - idle);
    }
    QFile::remove(file);
    std::printf("best: curl %.0f MiB/s, client %.0f MiB/s, ratio %.2f; largest RSS growth %lld KiB (%.1f MiB)%s\n",
                curlBest, clientBest, clientBest / curlBest, worstGrowth, worstGrowth / 1024.0,
                allOk ? "" : "; SOME RUNS FAILED");
    return allOk ? 0 : 1;
}
