// localcloud: the operator's services on this machine, for development and
// tests. Wiring only; each service lives in its own folder.

#include "localcloud/admin/adminservice.h"
#include "localcloud/api/apiservice.h"
#include "localcloud/core/activitylog.h"
#include "localcloud/core/cloudstate.h"
#include "localcloud/core/stscredentials.h"
#include "localcloud/objectstore/objectstore.h"
#include "localcloud/phonefarm/phonefarm.h"
#include "localcloud/pages/pagesservice.h"
#include "localcloud/push/pushservice.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QDir>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so the servers stop cleanly and the
// state file is never cut in half.
void quitOnSignals(QGuiApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int fail(const QString &message)
{
    std::fprintf(stderr, "localcloud: %s\n", qPrintable(message));
    return 1;
}

bool parsePort(const QCommandLineParser &parser, const QCommandLineOption &option, quint16 *port)
{
    bool ok = false;
    const uint value = parser.value(option).toUInt(&ok);
    if (!ok || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

// Port 0 picks a free one.
int bindServer(httplib::Server &server, const QString &host, quint16 port)
{
    const std::string address = host.toStdString();
    if (port == 0)
        return server.bind_to_any_port(address);
    return server.bind_to_port(address, port) ? port : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    // The phones' screens are painted with fonts, which takes a GUI
    // application; a server never wants a window, so always offscreen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without a session (a service, a container) Qt would warn at every start
    // and then use this same kind of private folder.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray runtimeDir = QDir::tempPath().toUtf8() + "/runtime-" + QByteArray::number(::getuid());
        ::mkdir(runtimeDir.constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", runtimeDir);
    }
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("localcloud"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The operator's services on this machine: account and phone API, push service, phone farm, object store, admin API.\n"
        "Prints \"LOCALCLOUD READY {...ports...}\" when it serves, and writes the same JSON to "
        "<state-dir>/ports.json."));
    parser.addHelpOption();
    const QString defaultStateDir =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/tarvix-localcloud");
    const QCommandLineOption apiPort(QStringLiteral("api-port"), QStringLiteral("API port, default 18080 (0 = any free port)."),
                                     QStringLiteral("port"), QStringLiteral("18080"));
    const QCommandLineOption adminPort(QStringLiteral("admin-port"),
                                       QStringLiteral("Admin API port, loopback only, default 18090 (0 = any free port)."),
                                       QStringLiteral("port"), QStringLiteral("18090"));
    const QCommandLineOption pushPort(QStringLiteral("push-port"),
                                      QStringLiteral("Push service (WebSocket) port, default 18081 (0 = any free port)."),
                                      QStringLiteral("port"), QStringLiteral("18081"));
    const QCommandLineOption pushResendAfter(
        QStringLiteral("push-resend-after"),
        QStringLiteral("Seconds after which an unacknowledged expiry notice is sent again on the user's next "
                       "connection, default 30."),
        QStringLiteral("seconds"), QStringLiteral("30"));
    const QCommandLineOption farmPort(QStringLiteral("farm-port"),
                                      QStringLiteral("Phone farm port, default 18100 (0 = any free port)."), QStringLiteral("port"),
                                      QStringLiteral("18100"));
    const QCommandLineOption objectStorePort(
        QStringLiteral("objectstore-port"),
        QStringLiteral("Object store port, default 18110 (0 = any free port); reached as bj.bos.localhost "
                       "and <bucket>.bj.bos.localhost."),
        QStringLiteral("port"), QStringLiteral("18110"));
    const QCommandLineOption stateDir(QStringLiteral("state-dir"),
                                      QStringLiteral("Folder for the persistent state, default %1.").arg(defaultStateDir),
                                      QStringLiteral("dir"),
                                      defaultStateDir);
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("demo: the user 13800138000 with seven phones (their rental "
                                                 "periods start afresh each run); empty (default): nothing."),
                                  QStringLiteral("demo|empty"), QStringLiteral("empty"));
    const QCommandLineOption host(QStringLiteral("host"),
                                  QStringLiteral("Address the API and the phone farm listen on, default 127.0.0.1."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption codeTtl(QStringLiteral("code-ttl"),
                                     QStringLiteral("Seconds a verification code stays valid, default 300."),
                                     QStringLiteral("seconds"), QStringLiteral("300"));
    const QCommandLineOption resendInterval(QStringLiteral("resend-interval"),
                                            QStringLiteral("Seconds before a number may get another code, default 60."),
                                            QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption tokenTtl(QStringLiteral("token-ttl"),
                                      QStringLiteral("Seconds a sign-in token stays valid, default 30 days."),
                                      QStringLiteral("seconds"), QString::number(30 * 24 * 3600));
    parser.addOptions({apiPort, adminPort, pushPort, pushResendAfter, farmPort, objectStorePort, stateDir, seed, host, codeTtl,
                       resendInterval, tokenTtl});
    parser.process(app);

    quint16 apiPortValue = 0;
    quint16 adminPortValue = 0;
    quint16 farmPortValue = 0;
    quint16 objectStorePortValue = 0;
    quint16 pushPortValue = 0;
    if (!parsePort(parser, apiPort, &apiPortValue) || !parsePort(parser, adminPort, &adminPortValue)
        || !parsePort(parser, farmPort, &farmPortValue) || !parsePort(parser, objectStorePort, &objectStorePortValue)
        || !parsePort(parser, pushPort, &pushPortValue))
        return fail(QStringLiteral("ports are numbers from 0 to 65535"));
    const QString seedValue = parser.value(seed);
    if (seedValue != QLatin1String("demo") && seedValue != QLatin1String("empty"))
        return fail(QStringLiteral("--seed takes demo or empty"));
    const QHostAddress hostAddress(parser.value(host));
    if (hostAddress.isNull())
        return fail(QStringLiteral("--host takes an IP address"));

    CloudState::Limits limits;
    bool ok1 = false, ok2 = false, ok3 = false;
    limits.codeTtlMs = parser.value(codeTtl).toLongLong(&ok1) * 1000;
    limits.resendIntervalMs = parser.value(resendInterval).toLongLong(&ok2) * 1000;
    limits.tokenTtlMs = parser.value(tokenTtl).toLongLong(&ok3) * 1000;
    if (!ok1 || !ok2 || !ok3 || limits.codeTtlMs < 0 || limits.resendIntervalMs < 0 || limits.tokenTtlMs < 0)
        return fail(QStringLiteral("--code-ttl, --resend-interval and --token-ttl take whole seconds"));
    PushService::Options pushOptions;
    bool ok4 = false;
    pushOptions.resendAfterMs = parser.value(pushResendAfter).toLongLong(&ok4) * 1000;
    if (!ok4 || pushOptions.resendAfterMs < 0)
        return fail(QStringLiteral("--push-resend-after takes whole seconds"));

    ActivityLog log;
    CloudState state(limits);
    QString error;
    const QString stateDirValue = QDir(parser.value(stateDir)).absolutePath();
    if (!state.open(stateDirValue, &error))
        return fail(error);
    if (seedValue == QLatin1String("demo"))
        state.seedDemo();

    PhoneFarm farm;
    if (!farm.listen(hostAddress, farmPortValue))
        return fail(QStringLiteral("the phone farm cannot listen on %1:%2").arg(hostAddress.toString()).arg(farmPortValue));
    for (const CloudState::Phone &phone : state.allPhones())
        farm.addPhone(phone.padCode, phone.title);

    PushService push(state, log, pushOptions);
    if (!push.listen(hostAddress, pushPortValue, &error))
        return fail(error);

    // Control data must name an address a client can dial.
    const QString controlIp = hostAddress == QHostAddress::AnyIPv4 || hostAddress == QHostAddress::AnyIPv6
                                  ? QStringLiteral("127.0.0.1")
                                  : hostAddress.toString();

    // Requests here are small forms; a huge body is refused before it is read.
    constexpr size_t MaxBody = 1024 * 1024;
    httplib::Server apiServer;
    apiServer.set_payload_max_length(MaxBody);
    ApiService api(state, log, farm, controlIp);
    PagesService::install(apiServer); // before the API's catch-all routes
    api.install(apiServer);
    // The object store listens where the API does: *.localhost names reach
    // it on loopback, and --host opens it like the API.
    StsCredentials stsCredentials;
    ObjectStore objectStore(stsCredentials, log, stateDirValue + QStringLiteral("/objectstore"));
    if (!objectStore.listen(hostAddress.toString(), objectStorePortValue, &error))
        return fail(error);

    httplib::Server adminServer;
    adminServer.set_payload_max_length(MaxBody);
    AdminService admin(state, log, farm, stsCredentials, objectStore, push);
    admin.install(adminServer);

    const int apiBound = bindServer(apiServer, hostAddress.toString(), apiPortValue);
    if (apiBound <= 0)
        return fail(QStringLiteral("cannot listen on %1:%2 for the API").arg(hostAddress.toString()).arg(apiPortValue));
    // The admin API is the operator's back door: loopback only, whatever --host says.
    const int adminBound = bindServer(adminServer, QStringLiteral("127.0.0.1"), adminPortValue);
    if (adminBound <= 0)
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1 for the admin API").arg(adminPortValue));

    std::thread apiThread([&apiServer] { apiServer.listen_after_bind(); });
    std::thread adminThread([&adminServer] { adminServer.listen_after_bind(); });
    quitOnSignals(app);

    // Written by hand to keep the keys in this order for people reading it.
    const QByteArray portsJson = QStringLiteral("{\"api\":%1,\"admin\":%2,\"farm\":%3,\"objectstore\":%4,\"push\":%5}")
                                     .arg(apiBound)
                                     .arg(adminBound)
                                     .arg(farm.port())
                                     .arg(objectStore.port())
                                     .arg(push.port())
                                     .toUtf8();
    QSaveFile portsFile(stateDirValue + QStringLiteral("/ports.json"));
    if (!portsFile.open(QIODevice::WriteOnly) || portsFile.write(portsJson + '\n') < 0 || !portsFile.commit())
        log.console(QStringLiteral("cannot write %1").arg(portsFile.fileName()));

    log.console(QStringLiteral("state in %1 (%2 phones)").arg(stateDirValue).arg(state.allPhones().size()));
    log.console(QStringLiteral("api http://%1:%2  admin http://127.0.0.1:%3  farm %1:%4  object store %5  push ws://%1:%6/")
                    .arg(controlIp)
                    .arg(apiBound)
                    .arg(adminBound)
                    .arg(farm.port())
                    .arg(objectStore.endpoint())
                    .arg(push.port()));
    std::printf("LOCALCLOUD READY %s\n", portsJson.constData());
    std::fflush(stdout);

    const int code = app.exec();

    apiServer.stop();
    adminServer.stop();
    objectStore.stop();
    apiThread.join();
    adminThread.join();
    log.console(QStringLiteral("stopped"));
    return code;
}
