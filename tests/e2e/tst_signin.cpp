#include "account/login.h"
#include "account/update.h"
#include "resources/tarvixresources.h"
#include "tests/support/localcloud.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "widgets/toast.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <memory>

// A newcomer's first sign-in, driven through a real client process with
// real key and mouse events on this suite's own X server.

namespace {

const QString LoginTitle = QStringLiteral("^登录$");
const QString MainTitle = QStringLiteral("^Mervane云手机$");
const QString UpdateTitle = QStringLiteral("^版本更新$");
constexpr int WindowTimeoutMs = 20000;

QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Visible windows of one process whose title matches the pattern.
QStringList windowsOf(qint64 pid, const QString &title)
{
    const QString out = xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                 QString::number(pid), QStringLiteral("--name"), title});
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

QRect windowGeometry(const QString &window)
{
    const QString shell =
        xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    QRect geometry;
    for (const QString &line : shell.split(QLatin1Char('\n'))) {
        const QString value = line.section(QLatin1Char('='), 1);
        if (line.startsWith(QLatin1String("X=")))
            geometry.moveLeft(value.toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            geometry.moveTop(value.toInt());
        else if (line.startsWith(QLatin1String("WIDTH=")))
            geometry.setWidth(value.toInt());
        else if (line.startsWith(QLatin1String("HEIGHT=")))
            geometry.setHeight(value.toInt());
    }
    return geometry;
}

QPoint windowPosition(const QString &window)
{
    return windowGeometry(window).topLeft();
}


// No window manager here: the window gets the keyboard focus only when asked.
void focusWindow(const QString &window)
{
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    QTest::qWait(150);
}

void click(const QPoint &global)
{
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(global.x()),
             QString::number(global.y()), QStringLiteral("click"), QStringLiteral("1")});
    QTest::qWait(150);
}

void typeText(const QString &text)
{
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text});
    QTest::qWait(150);
}

void keys(const QStringList &names)
{
    xdotool(QStringList{QStringLiteral("key")} + names);
    QTest::qWait(150);
}

QImage screen(const QString &name = QStringLiteral("signin-current"))
{
    return QImage(TestSupport::grabScreen(name)).convertToFormat(QImage::Format_RGB32);
}

// Share of pixels that differ clearly; 1 when the sizes differ.
double difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int d = qMax(qAbs(qRed(p) - qRed(q)), qMax(qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q))));
            if (d > 48)
                ++differing;
        }
    }
    return double(differing) / (a.width() * a.height());
}

// The middle of both pictures, as large as the smaller allows less a margin.
double centreDifference(const QImage &a, const QImage &b, const QSize &margin)
{
    const QSize size = a.size().boundedTo(b.size()) - margin * 2;
    if (size.isEmpty())
        return 1.0;
    auto middle = [&size](const QImage &image) {
        return image.copy(QRect(QPoint((image.width() - size.width()) / 2, (image.height() - size.height()) / 2), size));
    };
    return difference(middle(a), middle(b));
}

bool near(QRgb pixel, const QColor &expected)
{
    return qAbs(qRed(pixel) - expected.red()) < 12 && qAbs(qGreen(pixel) - expected.green()) < 12
        && qAbs(qBlue(pixel) - expected.blue()) < 12;
}

// The style sheet exactly as the client applies it.
void applyClientStyleSheet()
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
    qApp->setStyleSheet(words.join(QLatin1Char('\n')));
}

// Lays out a window that is never shown, nested layouts included.
void layOut(QWidget *window)
{
    window->ensurePolished();
    window->layout()->activate();
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (child->layout())
            child->layout()->activate();
    }
}

// A client process that never outlives its test, even a failed one: the
// next start would otherwise meet it as the running instance.
class Client final : public QProcess
{
public:
    ~Client() override
    {
        kill();
        waitForFinished(10000);
    }
};

} // namespace

class TestSignIn : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    QTemporaryDir m_workDir;
    QTemporaryDir m_tools;
    QTemporaryDir m_probeData;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    // The same login window, never shown, built in this process under the
    // same fonts and style: it says where each widget sits in the client's
    // window and how each state looks.
    Login *m_probe = nullptr;

    QString browserLog() const { return m_tools.filePath(QStringLiteral("opened.txt")); }

    void startClient(QProcess &client)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVIX_TEST_API_BASE"), m_cloud->apiBase());
        env.insert(QStringLiteral("TARVIX_TEST_PAGES_BASE"), m_cloud->apiBase());
        // The system browser is a script that notes what it was asked to open.
        env.insert(QStringLiteral("PATH"), m_tools.path() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        // A single-instance guard of our own, apart from other suites' clients.
        env.insert(QStringLiteral("TMPDIR"), m_tools.path());
        client.setProcessEnvironment(env);
        client.setWorkingDirectory(m_workDir.path());
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix-testhost"), QStringList());
        QVERIFY2(client.waitForStarted(10000), qPrintable(client.errorString()));
    }

    void stopClient(QProcess &client)
    {
        client.kill();
        client.waitForFinished(10000);
    }

    // The first visible window of the client with that title, empty when
    // none comes.
    QString waitForWindow(const QProcess &client, const QString &title)
    {
        QDeadlineTimer deadline(WindowTimeoutMs);
        while (!deadline.hasExpired()) {
            const QStringList found = windowsOf(client.processId(), title);
            if (!found.isEmpty()) {
                QTest::qWait(300); // let it paint
                return found.first();
            }
            QTest::qWait(100);
        }
        return QString();
    }

    QWidget *probeChild(const char *name)
    {
        auto *widget = m_probe->findChild<QWidget *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no %s in the login window", name);
        return widget;
    }

    QRect probeRect(const char *name)
    {
        QWidget *widget = probeChild(name);
        return QRect(widget->mapTo(m_probe, QPoint(0, 0)), widget->size());
    }

    QImage probeImage(const char *name)
    {
        return m_probe->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(probeRect(name));
    }

    QImage clientImage(const QImage &shot, const QString &window, const char *name)
    {
        return shot.copy(probeRect(name).translated(windowPosition(window)));
    }

    QPoint centreOf(const QString &window, const char *name)
    {
        return windowPosition(window) + probeRect(name).center();
    }

    QVariant saved(const QString &key) const
    {
        return QSettings(m_settings.settingsFile(), QSettings::IniFormat).value(key);
    }

    void save(const QString &key, const QVariant &value) const
    {
        QSettings settings(m_settings.settingsFile(), QSettings::IniFormat);
        if (value.isValid())
            settings.setValue(key, value);
        else
            settings.remove(key);
    }

    // Toasts, dialogs and whatever else the client shows besides its two
    // main windows.
    QStringList otherWindows(qint64 pid)
    {
        const QStringList named = windowsOf(pid, LoginTitle) + windowsOf(pid, MainTitle);
        QStringList others;
        for (const QString &window : windowsOf(pid, QStringLiteral(".*"))) {
            if (!named.contains(window))
                others << window;
        }
        return others;
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QVERIFY(m_settings.isValid());
        QVERIFY(m_workDir.isValid());
        QVERIFY(m_tools.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server");
        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));

        QFile browser(m_tools.filePath(QStringLiteral("xdg-open")));
        QVERIFY(browser.open(QIODevice::WriteOnly));
        browser.write("#!/bin/sh\necho \"$1\" >> '" + browserLog().toUtf8() + "'\n");
        browser.close();
        browser.setPermissions(browser.permissions() | QFileDevice::ExeOwner);

        // Built with a throwaway settings folder, so it never touches the client's.
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_probeData.path().toUtf8());
        applyClientStyleSheet();
        m_probe = Login::instance();
        qputenv("XDG_DATA_HOME", dataHome);
        layOut(m_probe);
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qInfo().noquote() << m_cloud->consoleLog();
    }

    void newcomerSignsIn()
    {
        const QString phone = TestSupport::LocalCloud::demoPhone();
        Client client;
        startClient(client);
        const QString login = waitForWindow(client, LoginTitle);
        QVERIFY2(!login.isEmpty(), qPrintable(LoginTitle));
        QVERIFY(windowsOf(client.processId(), MainTitle).isEmpty());
        TestSupport::grabScreen(QStringLiteral("signin-login-empty"));
        QImage shot = screen();
        QVERIFY(near(shot.pixel(centreOf(login, "loginButton") - QPoint(probeRect("loginButton").width() / 2 - 6, 0)),
                     QColor(0x94, 0xD3, 0xFF)));

        // No number yet: the code button does nothing.
        click(centreOf(login, "numberCodeButton"));
        QTest::qWait(500);
        QVERIFY(m_cloud->events(QStringLiteral("send_msg")).isEmpty());

        focusWindow(login);
        click(centreOf(login, "phoneNumber"));
        typeText(phone);
        click(centreOf(login, "numberCodeButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_cloud->smsCode(phone).isEmpty(), 10000);
        const QString code = m_cloud->smsCode(phone);

        // The button counts down from 59: compare it with each possible text.
        auto *codeButton = static_cast<QPushButton *>(probeChild("numberCodeButton"));
        codeButton->setEnabled(false);
        QList<QPair<int, QImage>> looks;
        for (int n = 59; n >= 1; --n) {
            codeButton->setText(QStringLiteral("重新发送(%1)").arg(n));
            looks.append({n, probeImage("numberCodeButton")});
        }
        int seen = 0;
        auto countingDown = [&] {
            const QImage now = clientImage(screen(QStringLiteral("signin-counting-down")), login, "numberCodeButton");
            for (const auto &look : looks) {
                if (difference(now, look.second) < 0.01) {
                    seen = look.first;
                    return true;
                }
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(seen || countingDown(), 10000);
        qInfo() << "code button shows" << QStringLiteral("重新发送(%1)").arg(seen);
        QVERIFY(seen >= 50 && seen <= 59);

        // A five-digit code: the format error in red, sign-in still disabled.
        click(windowPosition(login) + probeRect("numberCode").topLeft() + QPoint(40, probeRect("numberCode").height() / 2));
        typeText(QStringLiteral("12345"));
        shot = screen(QStringLiteral("signin-format-error"));
        auto *probePhone = static_cast<QLineEdit *>(probeChild("phoneNumber"));
        auto *probeCode = static_cast<QLineEdit *>(probeChild("numberCode"));
        probePhone->setText(phone);
        probeCode->setText(QStringLiteral("12345"));
        QCOMPARE(static_cast<QLabel *>(probeChild("errorLabel"))->text(), QStringLiteral("验证码格式错误!!!"));
        QVERIFY2(difference(clientImage(shot, login, "errorLabel"), probeImage("errorLabel")) < 0.01,
                 "the format error is not shown as expected");
        probeCode->setText(QString());
        QVERIFY(difference(clientImage(shot, login, "errorLabel"), probeImage("errorLabel")) > 0.01);
        QVERIFY(near(shot.pixel(centreOf(login, "loginButton") - QPoint(probeRect("loginButton").width() / 2 - 6, 0)),
                     QColor(0x94, 0xD3, 0xFF)));

        // A wrong sixth digit: the server's message as a toast.
        const QString wrongDigit = code == QLatin1String("123459") ? QStringLiteral("8") : QStringLiteral("9");
        typeText(wrongDigit);
        shot = screen();
        QVERIFY(near(shot.pixel(centreOf(login, "loginButton") - QPoint(probeRect("loginButton").width() / 2 - 6, 0)),
                     QColor(0x05, 0x98, 0xFF)));
        // The toast lasts two seconds: everything to recognise it is ready
        // before the click.
        ToastDlg *toast = Toast::instance()->window();
        toast->setText(QStringLiteral("验证码错误"));
        toast->adjustSize();
        const QImage expectedToast = toast->grab().toImage().convertToFormat(QImage::Format_RGB32);
        auto toastShown = [&] {
            const QStringList others = otherWindows(client.processId());
            if (others.isEmpty())
                return false;
            // No window manager here to honour the toast's stay-on-top hint,
            // and X maps a window at its creation-time place in the stack.
            for (const QString &window : others)
                xdotool({QStringLiteral("windowraise"), window});
            QTest::qWait(250); // the client repaints what the raise exposed
            const QImage shot = screen(QStringLiteral("signin-wrong-code"));
            for (const QString &window : others) {
                // Inside the rounded corners only.
                if (centreDifference(shot.copy(windowGeometry(window)), expectedToast, QSize(16, 4)) < 0.02)
                    return true;
            }
            return false;
        };
        const int before = m_cloud->events(QStringLiteral("login")).size();
        click(centreOf(login, "loginButton"));
        // The check runs more than once; the toast may be gone by the last run.
        bool toastSeen = false;
        QTRY_VERIFY2_WITH_TIMEOUT(toastSeen || (toastSeen = toastShown()), "no toast with the server's message", 5000);
        QCOMPARE(m_cloud->events(QStringLiteral("login")).size(), before + 1);

        QVERIFY(!windowsOf(client.processId(), LoginTitle).isEmpty());

        // The code from the cloud, automatic sign-in ticked, "登录注册".
        click(windowPosition(login) + probeRect("numberCode").topLeft() + QPoint(40, probeRect("numberCode").height() / 2));
        keys({QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")});
        typeText(code);
        const QRect box = probeRect("autoLoginCheckbox");
        click(windowPosition(login) + box.topLeft() + QPoint(8, box.height() / 2));
        QTRY_VERIFY_WITH_TIMEOUT(saved(QStringLiteral("login/autologin")).toBool(), 5000);
        click(centreOf(login, "loginButton"));
        QVERIFY2(!waitForWindow(client, MainTitle).isEmpty(), qPrintable(MainTitle));
        QTRY_VERIFY_WITH_TIMEOUT(windowsOf(client.processId(), LoginTitle).isEmpty(), 5000);
        TestSupport::grabScreen(QStringLiteral("signin-main-window"));
        QCOMPARE(saved(QStringLiteral("user/phone")).toString(), phone);
        QVERIFY(!saved(QStringLiteral("user/token")).toString().isEmpty());
        stopClient(client);
    }

    void automaticSignInAndTheSettingIniRule()
    {
        // Ticked and signed in before: straight to the main window.
        QVERIFY(saved(QStringLiteral("login/autologin")).toBool());
        Client client;
        startClient(client);
        QVERIFY2(!waitForWindow(client, MainTitle).isEmpty(), qPrintable(MainTitle));
        QVERIFY(windowsOf(client.processId(), LoginTitle).isEmpty());
        stopClient(client);

        // The session is gone: the login window opens and, with no
        // "Setting.ini" in the working directory, turns the choice off.
        save(QStringLiteral("user/token"), QVariant());
        QVERIFY(!QFile::exists(m_workDir.filePath(QStringLiteral("Setting.ini"))));
        Client second;
        startClient(second);
        QVERIFY2(!waitForWindow(second, LoginTitle).isEmpty(), qPrintable(LoginTitle));
        QCOMPARE(saved(QStringLiteral("login/autologin")).toBool(), false);
        stopClient(second);

        // With one there, the saved choice stays and shows ticked.
        save(QStringLiteral("login/autologin"), true);
        QFile marker(m_workDir.filePath(QStringLiteral("Setting.ini")));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        Client third;
        startClient(third);
        const QString login = waitForWindow(third, LoginTitle);
        QVERIFY2(!login.isEmpty(), qPrintable(LoginTitle));
        QCOMPARE(saved(QStringLiteral("login/autologin")).toBool(), true);
        auto *probeBox = probeChild("autoLoginCheckbox");
        const QImage shot = screen(QStringLiteral("signin-autologin-kept"));
        static_cast<QAbstractButton *>(probeBox)->setChecked(true);
        const QImage ticked = probeImage("autoLoginCheckbox");
        static_cast<QAbstractButton *>(probeBox)->setChecked(false);
        const QImage unticked = probeImage("autoLoginCheckbox");
        const QImage got = clientImage(shot, login, "autoLoginCheckbox");
        QVERIFY(difference(got, ticked) < difference(got, unticked));
        stopClient(third);
        QFile::remove(m_workDir.filePath(QStringLiteral("Setting.ini")));
    }

    void newerVersionIsAnnounced()
    {
        const QString link = m_cloud->apiBase() + QStringLiteral("/download/Tarvix-1.2.0.exe");
        QVERIFY(m_cloud->announceVersion(QStringLiteral("1.2.0"),
                                         QStringLiteral("<p>1.新增群控模式</p><p>2.修复上传中断的问题</p>"), link));
        QFile::remove(browserLog());
        Client client;
        startClient(client);
        const QString dialog = waitForWindow(client, UpdateTitle);
        QVERIFY2(!dialog.isEmpty(), qPrintable(UpdateTitle));
        TestSupport::grabScreen(QStringLiteral("signin-update-dialog"));

        Update probe;
        layOut(&probe);
        QWidget *button = probe.findChild<QWidget *>(QStringLiteral("updateButton"));
        click(windowPosition(dialog) + button->mapTo(&probe, button->rect().center()));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(browserLog()), 10000);
        QFile opened(browserLog());
        QVERIFY(opened.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(opened.readAll()).trimmed(), link);
        QTRY_VERIFY_WITH_TIMEOUT(windowsOf(client.processId(), UpdateTitle).isEmpty(), 5000);
        QCOMPARE(client.state(), QProcess::Running);
        stopClient(client);
    }

    void sameVersionIsNotAnnounced()
    {
        QVERIFY(m_cloud->announceVersion(QStringLiteral("1.1.0"), QStringLiteral("<p>nothing new</p>"),
                                         m_cloud->apiBase() + QStringLiteral("/download/Tarvix-1.1.0.exe")));
        const int checks = m_cloud->events(QStringLiteral("version_config")).size();
        Client client;
        startClient(client);
        QVERIFY2(!waitForWindow(client, LoginTitle).isEmpty(), qPrintable(LoginTitle));
        QTRY_VERIFY_WITH_TIMEOUT(m_cloud->events(QStringLiteral("version_config")).size() > checks, 10000);
        QTest::qWait(1000);
        QVERIFY(windowsOf(client.processId(), UpdateTitle).isEmpty());
        stopClient(client);
    }
};

QTEST_MAIN(TestSignIn)
#include "tst_signin.moc"
