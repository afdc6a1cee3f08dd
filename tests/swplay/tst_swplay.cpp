// A real phone farm on a free port and real library clients: what a stream
// view sees and what reaches the phone.

#include "localcloud/phonefarm/phonefarm.h"
#include "tests/support/screenshot.h"
#include "tests/swplay/testview.h"

#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray kPad = "PAD0001";
constexpr int kUser = 42;

// Phone pixels of the home screen's first two icons (Notes, Files).
const QPoint kNotesIcon(90, 296);
const QPoint kFilesIcon(270, 296);

} // namespace

class TestSwplay final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void framesArrive();
    void touchesArriveInOrder();
    void keysTypeIntoNotes();
    void clipboardKeepsChinese();
    void textTypesIntoNotes();
    void navigationKeys_data();
    void navigationKeys();
    void levelChangeReencodes();
    void refusals_data();
    void refusals();
    void kickEndsSession();
    void idleEndsSession();
    void rebootDropsSession();
    void previewAndControlShareScreen();
    void recordedStreamIsH264();
    void deinitEndsEveryStream();

private:
    QJsonObject state() const { return m_farm->phoneState(QString::fromLatin1(kPad)); }
    QByteArray authorize(int idleSeconds = 3600);
    void tap(TestStream &s, QPoint p);
    bool connectedWithFrame(TestStream &s);

    std::unique_ptr<PhoneFarm> m_farm;
    int m_sessions = 0;
};

void TestSwplay::initTestCase()
{
    SWRuntime::getInstance()->setTimeouts(2000, 2000, 5000, 200);
    m_farm = std::make_unique<PhoneFarm>();
    QVERIFY(m_farm->listen(QHostAddress::LocalHost, 0));
    QVERIFY(m_farm->port() != 0);
    m_farm->setBootMillis(800);
}

void TestSwplay::init()
{
    // Every test starts from a fresh phone.
    m_farm->addPhone(QString::fromLatin1(kPad), QStringLiteral("Test phone"));
    m_farm->reset(QString::fromLatin1(kPad));
    QTRY_VERIFY_WITH_TIMEOUT(!state().value("booting").toBool(), 5000);
}

QByteArray TestSwplay::authorize(int idleSeconds)
{
    const QByteArray id = "session-" + QByteArray::number(++m_sessions);
    m_farm->authorizeSession(QString::fromLatin1(id), QString::fromLatin1(kPad), kUser, idleSeconds,
                             QStringLiteral("android"));
    return id;
}

void TestSwplay::tap(TestStream &s, QPoint p)
{
    const int x = p.x();
    const int y = p.y();
    const int none = -1;
    const float pressure = 0.0f;
    QCOMPARE(s.source->sendTouchEvent(0, 1, &x, &y, &pressure), 0);
    QCOMPARE(s.source->sendTouchEvent(1, 1, &none, &none, &pressure), 0);
}

bool TestSwplay::connectedWithFrame(TestStream &s)
{
    (void)QTest::qWaitFor([&] { return s.view.frames > 0 || !s.view.last("disconnected").isEmpty(); }, 5000);
    return s.view.has(QStringLiteral("connected")) && s.view.frames > 0;
}

void TestSwplay::framesArrive()
{
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QTRY_VERIFY_WITH_TIMEOUT(s.view.frames > 0, 2000);
    QVERIFY(s.view.has("connected"));
    QCOMPARE(s.view.getSrcWidth(), 720);
    QCOMPARE(s.view.getSrcHeight(), 1280);
    const QImage frame = s.view.lastFrame();
    QCOMPARE(frame.size(), QSize(720, 1280));
    // The home screen: a blue-violet gradient, not a black picture.
    const QColor mid = frame.pixelColor(360, 700);
    QVERIFY2(mid.blue() > 80 && mid.red() + mid.green() + mid.blue() > 150, qPrintable(mid.name()));
    QCOMPARE(mid.alpha(), 255);
}

void TestSwplay::touchesArriveInOrder()
{
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QVERIFY(connectedWithFrame(s));
    const int xs[] = {123, 130, 140};
    const int ys[] = {456, 470, 480};
    const float pressure = 0.0f;
    QCOMPARE(s.source->sendTouchEvent(0, 1, &xs[0], &ys[0], &pressure), 0);
    QCOMPARE(s.source->sendTouchEvent(2, 1, &xs[1], &ys[1], &pressure), 0);
    const int none = -1;
    QCOMPARE(s.source->sendTouchEvent(1, 1, &none, &none, &pressure), 0);
    QTRY_COMPARE(state().value("touches").toArray().size(), 3);
    const QJsonArray touches = state().value("touches").toArray();
    const int actions[] = {0, 2, 1};
    for (int i = 0; i < 3; ++i)
        QCOMPARE(touches.at(i).toObject().value("action").toInt(), actions[i]);
    QCOMPARE(touches.at(0).toObject().value("x").toInt(), 123);
    QCOMPARE(touches.at(0).toObject().value("y").toInt(), 456);
    QCOMPARE(touches.at(1).toObject().value("x").toInt(), 130);
    QCOMPARE(touches.at(2).toObject().value("x").toInt(), -1);
}

void TestSwplay::keysTypeIntoNotes()
{
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QVERIFY(connectedWithFrame(s));
    tap(s, kNotesIcon);
    QTRY_COMPARE(state().value("screen").toString(), QStringLiteral("notes"));
    Keyboard *keyboard = Keyboard::GetInstance();
    // Qt key values as the control window passes them; Backspace as 8.
    const int keys[] = {Qt::Key_H, Qt::Key_I, Qt::Key_Space, Qt::Key_4, Qt::Key_2, Qt::Key_X, 8, Qt::Key_Period, 13};
    for (int key : keys)
        QCOMPARE(s.source->sendKeyEvent(3, keyboard->getKeyCode(key)), 0);
    QTRY_COMPARE(state().value("notes").toString(), QStringLiteral("hi 42.\n"));
    const QByteArray chinese = QStringLiteral("你好").toUtf8();
    QCOMPARE(s.source->copyToRemote(chinese.constData(), chinese.size()), 0);
    QTRY_COMPARE(state().value("notes").toString(), QStringLiteral("hi 42.\n你好"));
    // What the phone shows, decoded on this side, for a person to look at.
    const int before = s.view.frames;
    QTRY_VERIFY(s.view.frames > before);
    QTest::qWait(300);
    s.view.lastFrame().save(TestSupport::screenshotDir() + QStringLiteral("/swplay-notes.png"));
}

void TestSwplay::clipboardKeepsChinese()
{
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QVERIFY(connectedWithFrame(s));
    const QByteArray text = QStringLiteral("云手机粘贴：你好，世界 🙂").toUtf8();
    QCOMPARE(s.source->copyToRemote(text.constData(), text.size()), 0);
    QTRY_COMPARE(state().value("clipboard").toString(), QString::fromUtf8(text));
}

void TestSwplay::textTypesIntoNotes()
{
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QVERIFY(connectedWithFrame(s));
    tap(s, kNotesIcon);
    QTRY_COMPARE(state().value("screen").toString(), QStringLiteral("notes"));
    const QString notesBefore = state().value("notes").toString();
    const QStringList pieces{QStringLiteral("Hello! (a:b) "), QStringLiteral("你好"), QStringLiteral("こんにちは"),
                             QStringLiteral("🙂")};
    for (const QString &piece : pieces) {
        const QByteArray utf8 = piece.toUtf8();
        QCOMPARE(s.source->sendText(utf8.constData(), utf8.size()), 0);
    }
    QTRY_COMPARE(state().value("notes").toString(), notesBefore + pieces.join(QString()));
    QCOMPARE(state().value("texts").toArray().size(), pieces.size());
    // Backspace takes the emoji whole, not half of it.
    QCOMPARE(s.source->sendKeyEvent(3, Keyboard::GetInstance()->getKeyCode(8)), 0);
    QTRY_COMPARE(state().value("notes").toString(), notesBefore + pieces.mid(0, 3).join(QString()));
    QCOMPARE(s.source->sendText("", 0), -2);
}

void TestSwplay::navigationKeys_data()
{
    QTest::addColumn<QPoint>("open");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("screen");
    QTest::addColumn<bool>("menuOpen");
    QTest::newRow("home leaves notes") << kNotesIcon << 172 << "home" << false;
    QTest::newRow("back leaves files") << kFilesIcon << 158 << "home" << false;
    QTest::newRow("menu opens the menu") << kNotesIcon << 139 << "notes" << true;
}

void TestSwplay::navigationKeys()
{
    QFETCH(QPoint, open);
    QFETCH(int, code);
    QFETCH(QString, screen);
    QFETCH(bool, menuOpen);
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QVERIFY(connectedWithFrame(s));
    tap(s, open);
    QTRY_VERIFY(state().value("screen").toString() != QLatin1String("home"));
    const int keys = state().value("keys").toArray().size();
    QCOMPARE(s.source->sendKeyEvent(3, code), 0);
    QTRY_COMPARE(state().value("keys").toArray().size(), keys + 1);
    QCOMPARE(state().value("screen").toString(), screen);
    QCOMPARE(state().value("menuOpen").toBool(), menuOpen);
}

void TestSwplay::levelChangeReencodes()
{
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QVERIFY(connectedWithFrame(s));
    QTRY_VERIFY(s.view.has("size:720x1280"));
    QCOMPARE(state().value("encodeWidth").toInt(), 720);
    s.source->setVideoLevel(3);
    QTRY_VERIFY(s.view.has("size:432x768"));
    QCOMPARE(state().value("level").toInt(), 3);
    QCOMPARE(state().value("encodeWidth").toInt(), 432);
    QCOMPARE(state().value("encodeHeight").toInt(), 768);
    // Whatever the phone encodes, the display gets 720 x 1280.
    const int before = s.view.frames;
    QTRY_VERIFY(s.view.frames > before);
    QCOMPARE(s.view.lastFrame().size(), QSize(720, 1280));
}

void TestSwplay::refusals_data()
{
    QTest::addColumn<bool>("forgedSession");
    QTest::addColumn<QByteArray>("pad");
    QTest::addColumn<int>("user");
    QTest::addColumn<int>("code");
    QTest::newRow("forged session id") << true << kPad << kUser << 196621;
    QTest::newRow("session of another phone") << false << QByteArray("PAD9999") << kUser << 196809;
    QTest::newRow("session of another user") << false << kPad << kUser + 1 << 196809;
}

void TestSwplay::refusals()
{
    QFETCH(bool, forgedSession);
    QFETCH(QByteArray, pad);
    QFETCH(int, user);
    QFETCH(int, code);
    const QByteArray session = forgedSession ? QByteArray("forged-session") : authorize();
    TestStream s;
    s.start(m_farm->port(), session, pad, user);
    QTRY_VERIFY_WITH_TIMEOUT(!s.view.last("disconnected").isEmpty(), 5000);
    QVERIFY(s.view.last("disconnected").startsWith(QStringLiteral("disconnected:%1:").arg(code)));
    QVERIFY(!s.view.has("connected"));
    QCOMPARE(s.view.frames.load(), 0);
}

void TestSwplay::kickEndsSession()
{
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QVERIFY(connectedWithFrame(s));
    m_farm->kick(QString::fromLatin1(kPad));
    QTRY_VERIFY(!s.view.last("disconnected").isEmpty());
    QVERIFY(s.view.last("disconnected").startsWith("disconnected:196613:"));
    QVERIFY(s.view.last("reconnecting").isEmpty());
    QCOMPARE(s.source->sendKeyEvent(3, 29), -1);
}

void TestSwplay::idleEndsSession()
{
    TestStream s;
    s.start(m_farm->port(), authorize(1), kPad);
    QVERIFY(connectedWithFrame(s));
    QTRY_VERIFY_WITH_TIMEOUT(!s.view.last("disconnected").isEmpty(), 5000);
    QVERIFY(s.view.last("disconnected").startsWith("disconnected:196614:"));
}

void TestSwplay::rebootDropsSession()
{
    TestStream s;
    s.start(m_farm->port(), authorize(), kPad);
    QVERIFY(connectedWithFrame(s));
    m_farm->reboot(QString::fromLatin1(kPad));
    // The connection drops; the retry finds the phone still booting.
    QTRY_VERIFY_WITH_TIMEOUT(!s.view.last("disconnected").isEmpty(), 5000);
    QVERIFY(s.view.has("reconnecting:1"));
    QVERIFY(s.view.last("disconnected").startsWith("disconnected:196809:"));
    QCOMPARE(state().value("bootCount").toInt() >= 1, true);
}

void TestSwplay::previewAndControlShareScreen()
{
    TestStream control;
    TestStream preview;
    control.start(m_farm->port(), authorize(), kPad, kUser, 30);
    preview.start(m_farm->port(), authorize(), kPad, kUser, 1);
    QVERIFY(connectedWithFrame(control));
    QVERIFY(connectedWithFrame(preview));
    QTRY_COMPARE(state().value("sessions").toArray().size(), 2);
    QList<int> rates;
    for (const auto &v : state().value("sessions").toArray())
        rates << v.toObject().value("frameRate").toInt();
    std::sort(rates.begin(), rates.end());
    QCOMPARE(rates, (QList<int>{1, 30}));
    // Opening the notes on one stream shows them on both.
    tap(control, kNotesIcon);
    const auto showsNotes = [](const TestView &v) {
        const QColor c = v.lastFrame().pixelColor(360, 900);
        return c.red() > 230 && c.green() > 230 && c.blue() > 200;
    };
    QTRY_VERIFY_WITH_TIMEOUT(showsNotes(control.view), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(showsNotes(preview.view), 5000);
}

void TestSwplay::recordedStreamIsH264()
{
    const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    if (ffprobe.isEmpty())
        QSKIP("ffprobe is not installed (scripts/install-deps installs it)");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.h264"));
    const QByteArray session = authorize();
    m_farm->recordSession(QString::fromLatin1(session), path);
    {
        TestStream s;
        s.start(m_farm->port(), session, kPad, kUser, 30, 3);
        QVERIFY(connectedWithFrame(s));
        tap(s, kNotesIcon);
        QTRY_VERIFY(s.view.frames > 3);
    }
    m_farm->recordSession(QString::fromLatin1(session), QString());
    QProcess probe;
    probe.start(ffprobe, {"-v", "error", "-f", "h264", "-select_streams", "v:0", "-show_entries",
                          "stream=codec_name,width,height", "-of", "csv=p=0", path});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()).trimmed(), QStringLiteral("h264,432,768"));
}

void TestSwplay::deinitEndsEveryStream()
{
    TestStream a;
    TestStream b;
    a.start(m_farm->port(), authorize(), kPad);
    b.start(m_farm->port(), authorize(), kPad, kUser, 1);
    QVERIFY(connectedWithFrame(a));
    QVERIFY(connectedWithFrame(b));
    SWRuntime::getInstance()->deinit();
    const QStringList eventsA = a.view.events();
    const int framesA = a.view.frames;
    QTRY_COMPARE(state().value("sessions").toArray().size(), 0);
    // Quietly: nothing more is reported.
    QTest::qWait(300);
    QCOMPARE(a.view.events(), eventsA);
    QCOMPARE(a.view.frames.load(), framesA);
    QCOMPARE(a.source->sendKeyEvent(3, 29), -1);
    // A new start after init works again.
    a.player->start();
    QTRY_VERIFY_WITH_TIMEOUT(a.view.frames > framesA, 5000);
}

QTEST_MAIN(TestSwplay)
#include "tst_swplay.moc"
