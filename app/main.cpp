#include "account/frontwindow.h"
#include "account/login.h"
#include "account/sessionexpiry.h"
#include "account/update.h"
#include "account/userinfo.h"
#include "app/appevent.h"
#include "app/crashhandler.h"
#include "app/logger.h"
#include "app/singleinstance.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/purchase/webpurchasepage.h"
#include "resources/tarvixresources.h"
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

    if (Utils::instance()->autoLogin()) {
        LOG_INFO() << "user auto login";
        MainWindow::instance()->show();
    } else {
        Login::instance()->show();
        LOG_INFO() << "user need login";
    }

    Update update;
    QTimer::singleShot(100, &update, [&update] {
        if (!Utils::instance()->versionConfig())
            return;
        const AppEvent *event = AppEvent::instance();
        update.setVersion(event->showVersion());
        update.setNotes(event->versionMsg());
        update.setDownloadUrl(event->downloadUrl());
        update.show();
    });

    return app.exec();
}
