#include "account/frontwindow.h"
#include "account/login.h"
#include "account/sessionexpiry.h"
#include "account/update.h"
#include "account/userinfo.h"
#include "app/appevent.h"
#include "app/async.h"
#include "app/crashhandler.h"
#include "app/logger.h"
#include "app/quitsignals.h"
#include "app/singleinstance.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "upload/uploadwiring.h"
#include "phones/purchase/webpurchasepage.h"
#include "resources/tarvixresources.h"
#include "stream/streamsession.h"
#include "widgets/toast.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

namespace {

void showAlreadyRunning()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("提示信息"), QStringLiteral("当前应用正在运行中!"),
                    QMessageBox::Ok, nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setIcon(QMessageBox::NoIcon);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确 定"));
    box.exec();
}

void loadStyleSheet(QApplication &app)
{
    QFile file(QStringLiteral(":/style/style.css"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QStringList words;
    while (!in.atEnd()) {
        QString word;
        in >> word;
        if (!word.isEmpty())
            words << word;
    }
    const QString sheet = words.join(QLatin1Char('\n'));
    if (!sheet.isEmpty())
        app.setStyleSheet(sheet);
}

#ifdef TARVIX_TEST_HOST
// Only the test host reads these: tests point a whole client process at
// their own local cloud. The shipped client reads no environment.
void applyTestServiceBases()
{
    ServiceBases bases = Utils::compiledServiceBases();
    auto pick = [](const char *name, QString &field) {
        if (qEnvironmentVariableIsSet(name))
            field = qEnvironmentVariable(name);
    };
    pick("TARVIX_TEST_API_BASE", bases.api);
    pick("TARVIX_TEST_CONSOLE_BASE", bases.console);
    pick("TARVIX_TEST_PUSH_BASE", bases.push);
    pick("TARVIX_TEST_PAY_URL", bases.pay);
    pick("TARVIX_TEST_PAGES_BASE", bases.pages);
    pick("TARVIX_TEST_CA_FILE", bases.caFile);
    Utils::overrideServiceBases(bases);
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    installCrashHandler();
    // The purchase page's web engine shares its GL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral("1.1.0"));
    initTarvixResources();

    SingleInstanceGuard guard;
    if (!guard.tryBecomeOnlyInstance()) {
        showAlreadyRunning();
        // Once the message is read, the running client comes to the front.
        guard.askRunningInstanceToShow();
        return 0;
    }
    QObject::connect(&guard, &SingleInstanceGuard::showRequested, &app, &bringCurrentWindowToFront);

#ifdef TARVIX_TEST_HOST
    applyTestServiceBases();
#endif

    // Toasts belong to the GUI thread; the codec may fail to load on the
    // push thread too.
    QObject::connect(AppEvent::instance(), &AppEvent::codecLoadFailed, &app,
                     [] { Toast::instance()->show(2, QStringLiteral("加载wss.dll失败,请重试")); }, Qt::QueuedConnection);

    Logging::initialize();
    loadStyleSheet(app);
    LOG_INFO() << "welcome to cloud phone";

    followSessionExpiry(&app);
    installUserPanel();
    installPurchasePage();

    // Files to phones: the control windows and the batch box open the one
    // upload window; entering a phone pushes its configuration file.
    installUploads(&app);

    if (Utils::instance()->autoLogin()) {
        LOG_INFO() << "user auto login";
        MainWindow::instance()->show();
    } else {
        Login::instance()->show();
        LOG_INFO() << "user need login";
    }

    // The version check waits on the network off the GUI thread; the
    // dialog shows when the answer comes, whatever the user does meanwhile.
    Update update;
    QTimer::singleShot(100, &update, [&update] {
        struct Announcement
        {
            bool newer = false;
            QString version, notes, downloadUrl;
        };
        Async::run(
            &update,
            [] {
                Announcement announcement;
                announcement.newer = Utils::instance()->versionConfig();
                const AppEvent *event = AppEvent::instance();
                announcement.version = event->showVersion();
                announcement.notes = event->versionMsg();
                announcement.downloadUrl = event->downloadUrl();
                return announcement;
            },
            [&update](const Announcement &announcement) {
                if (!announcement.newer)
                    return;
                update.setVersion(announcement.version);
                update.setNotes(announcement.notes);
                update.setDownloadUrl(announcement.downloadUrl);
                update.show();
            });
    });

    quitOnTerminationSignals(&app);
    const int code = app.exec();
    // Every way of quitting ends here: no stream, preview start or request
    // may still run while the application object goes away.
    StreamSession::closeAll();
    Async::stopAll();
    return code;
}
