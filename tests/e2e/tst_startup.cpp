#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "widgets/toast.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <signal.h>

namespace {

QString clientPath()
{
    return QStringLiteral(TARVIX_BIN_DIR "/tarvix-testhost");
}

QString logPath()
{
    return QStringLiteral(TARVIX_BIN_DIR "/logs/%1.txt").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
}

qint64 logSize()
{
    return QFileInfo(logPath()).size();
}

QString logSince(qint64 offset)
{
    QFile f(logPath());
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    f.seek(offset);
    return QString::fromUtf8(f.readAll());
}

QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

// Starts real client processes on this test's X server, as a user would.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    QTemporaryDir m_workDir;

    void startClient(QProcess &p)
    {
        p.setWorkingDirectory(m_workDir.path());
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(clientPath(), QStringList());
        QVERIFY2(p.waitForStarted(10000), qPrintable(p.errorString()));
    }

private slots:
    void firstStartGreetsAndShowsLogin()
    {
        const qint64 before = logSize();
        QProcess client;
        startClient(client);
        QTRY_VERIFY_WITH_TIMEOUT(logSince(before).contains(QStringLiteral("user need login")), 20000);
        const QString log = logSince(before);
        const QRegularExpression greeting(
            QStringLiteral("^INFO  \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} welcome to cloud phone $"),
            QRegularExpression::MultilineOption);
        QVERIFY2(greeting.match(log).hasMatch(), qPrintable(log));
        QVERIFY(log.indexOf(QStringLiteral("welcome")) < log.indexOf(QStringLiteral("user need login")));
        client.kill();
        client.waitForFinished();
    }

    void secondStartIsRefusedAndAKilledOneDoesNotLockOut()
    {
        const qint64 before = logSize();
        QProcess first;
        startClient(first);
        QTRY_VERIFY_WITH_TIMEOUT(logSince(before).contains(QStringLiteral("user need login")), 20000);

        QProcess second;
        startClient(second);
        QString box;
        QTRY_VERIFY_WITH_TIMEOUT(!(box = xdotool({QStringLiteral("search"), QStringLiteral("--name"),
                                                   QStringLiteral("^提示信息$")})).isEmpty(),
                                 20000);
        box = box.section(QLatin1Char('\n'), 0, 0);
        TestSupport::grabScreen(QStringLiteral("startup-already-running"));
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), box});
        xdotool({QStringLiteral("key"), QStringLiteral("--window"), box, QStringLiteral("Return")});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        // The running client's sign-in window came to the front and has the keyboard.
        const QString login = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                       QStringLiteral("^登录$")})
                                  .section(QLatin1Char('\n'), 0, 0);
        QVERIFY(!login.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(xdotool({QStringLiteral("getwindowfocus")}), login, 10000);

        // A crash leaves the guard's segment behind; the next start must still run.
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(10000));
        const qint64 again = logSize();
        QProcess third;
        startClient(third);
        QTRY_VERIFY_WITH_TIMEOUT(logSince(again).contains(QStringLiteral("user need login")), 20000);

        // And a fatal signal writes a crash report into the working directory.
        ::kill(pid_t(third.processId()), SIGSEGV);
        QVERIFY(third.waitForFinished(20000));
        QCOMPARE(third.exitStatus(), QProcess::CrashExit);
        const QStringList dumps = QDir(m_workDir.path()).entryList({QStringLiteral("DumpFile-*.dmp")});
        QCOMPARE(dumps.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^DumpFile-\\d{8}-\\d{6}\\.dmp$")).match(dumps[0]).hasMatch(),
                 qPrintable(dumps[0]));
        QFile dump(m_workDir.filePath(dumps[0]));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        const QByteArray report = dump.readAll();
        QVERIFY(report.contains("signal: 11"));
        QVERIFY(report.contains("backtrace:"));
        QVERIFY(report.contains("memory map:"));
    }

    void toastOverAWindow()
    {
        QWidget window;
        window.setWindowTitle(QStringLiteral("toast"));
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(new QLabel(QStringLiteral("云手机列表"), &window));
        auto *edit = new QLineEdit(&window);
        layout->addWidget(edit);
        window.setStyleSheet(QStringLiteral("background:white;"));
        window.resize(520, 360);
        window.move(200, 150);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        edit->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        Toast::instance()->show(0, QStringLiteral("云机重启成功，请稍等两分钟"), &window);
        ToastDlg *toast = Toast::instance()->window();
        QVERIFY(QTest::qWaitForWindowExposed(toast));
        QTest::qWait(300);
        const QString shot = TestSupport::grabScreen(QStringLiteral("toast-over-window"));
        QVERIFY(!shot.isEmpty());

        // The panel is grey where the toast sits.
        const QImage screen(shot);
        const QPoint inside = toast->geometry().topLeft() + QPoint(toast->width() / 2, 4);
        QCOMPARE(QColor(screen.pixel(inside)).name(), QStringLiteral("#666666"));

        // The user keeps typing where they were.
        QVERIFY(window.isActiveWindow());
        QCOMPARE(QApplication::focusWidget(), edit);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
