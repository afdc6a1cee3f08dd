#include "api/phonerecord.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/phonedetail.h"
#include "phones/model/rentaltime.h"
#include "phones/model/phonechecks.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "tests/api/rawhttpserver.h"
#include "tests/support/localcloud.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "widgets/titlewidget.h"
#include "widgets/toast.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLayout>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>
#include <optional>

// A newcomer's phone page, driven through a real client process with real
// pointer input on this suite's own X server, against a local cloud.
//
// Where things are on the client's screen is read from a probe: the same
// main window, built in this process under the same fonts and style sheet,
// loaded with the same phone list (served by a stand-in backend that hands
// out no connection data, so the probe never streams) and kept off the
// visible screen. The probe also shows how a state should look.

namespace {

const QString MainTitle = QStringLiteral("^Mervane云手机$");
const QString ControlTitle = QStringLiteral("^云手机$");
const QString LoginTitle = QStringLiteral("^登录$");
constexpr int WindowTimeoutMs = 20000;
const QColor CheckedBorder(0x00, 0x84, 0xDF);
const QColor UncheckedBorder(0xE3, 0xE3, 0xE3);
const QColor Blue(0x05, 0x98, 0xFE);

QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QStringList windowsOf(qint64 pid, const QString &title)
{
    const QString out = xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                                 QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), title});
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

QRect windowGeometry(const QString &window)
{
    const QString shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
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

void moveWindow(const QString &window, const QPoint &to)
{
    xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), window, QString::number(to.x()),
             QString::number(to.y())});
    QTest::qWait(200);
}

void hover(const QPoint &global)
{
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(global.x()),
             QString::number(global.y())});
    QTest::qWait(150);
}

void click(const QPoint &global)
{
    hover(global);
    xdotool({QStringLiteral("click"), QStringLiteral("1")});
    QTest::qWait(150);
}

QImage screen(const QString &name = QStringLiteral("phonepage-current"))
{
    return QImage(TestSupport::grabScreen(name)).convertToFormat(QImage::Format_RGB32);
}

bool near(QRgb pixel, const QColor &expected, int tolerance = 16)
{
    return qAbs(qRed(pixel) - expected.red()) < tolerance && qAbs(qGreen(pixel) - expected.green()) < tolerance
        && qAbs(qBlue(pixel) - expected.blue()) < tolerance;
}

int countNear(const QImage &image, const QRect &area, const QColor &colour, int tolerance = 16)
{
    int count = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            if (near(image.pixel(x, y), colour, tolerance))
                ++count;
        }
    }
    return count;
}

// Share of pixels that differ clearly, leaving out the given rectangles
// (in the pictures' own coordinates); 1 when the sizes differ.
double difference(const QImage &a, const QImage &b, const QList<QRect> &skip = {})
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    int differing = 0;
    int compared = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            bool skipped = false;
            for (const QRect &r : skip)
                skipped = skipped || r.contains(x, y);
            if (skipped)
                continue;
            ++compared;
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int d = qMax(qAbs(qRed(p) - qRed(q)), qMax(qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q))));
            if (d > 48)
                ++differing;
        }
    }
    return compared ? double(differing) / compared : 1.0;
}

QString clientStyleSheet()
{
    QFile file(QStringLiteral(":/style/style.css"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QStringList words;
    while (!in.atEnd()) {
        QString word;
        in >> word;
        if (!word.isEmpty())
            words << word;
    }
    return words.join(QLatin1Char('\n'));
}

// A client process that never outlives its test, and whose debug output
// the test reads.
class Client final : public QProcess
{
public:
    Client()
    {
        connect(this, &QProcess::readyReadStandardError, this,
                [this] { m_log += QString::fromUtf8(readAllStandardError()); });
    }
    ~Client() override
    {
        kill();
        waitForFinished(10000);
    }
    QString log() const { return m_log; }
    int mark() const { return m_log.size(); }
    // Lines written since the mark that start with the prefix.
    QStringList linesSince(int mark, const QString &prefix) const
    {
        QStringList found;
        for (const QString &line : m_log.mid(mark).split(QLatin1Char('\n'))) {
            if (line.startsWith(prefix))
                found << line;
        }
        return found;
    }

private:
    QString m_log;
};

} // namespace

class TestPhonePage : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    QTemporaryDir m_workDir;
    QTemporaryDir m_tmp;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    RawHttpServer m_standIn;
    QVector<PhoneRecord> m_phones;
    QByteArray m_listAnswer;
    std::unique_ptr<Client> m_client;
    QString m_mainWindow;
    MainWindow *m_probe = nullptr;

    // Signs in through the API and leaves the session where the client
    // looks for it at start-up.
    bool saveSession(const QString &phone)
    {
        m_cloud->apiPost(QStringLiteral("/vorl/v1/send_msg"), "act_type=yzm_login&phone=" + phone.toUtf8());
        const QString code = m_cloud->smsCode(phone);
        const TestSupport::LocalCloud::Reply login = m_cloud->apiPost(
            QStringLiteral("/vorl/v1/login"), "appkey=7a3f19c2e4b8d6051f9e2c7d4a6b8e01&channel_code=qelvane_pc_official&code="
                                                  + code.toUtf8() + "&phone=" + phone.toUtf8() + "&platform=pc");
        const QJsonObject data = login.json().value(QStringLiteral("data")).toObject();
        const QString token = data.value(QStringLiteral("token")).toString();
        if (token.isEmpty()) {
            qWarning() << "sign-in refused:" << login.body;
            return false;
        }
        QSettings settings(m_settings.settingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("login/autologin"), true);
        settings.setValue(QStringLiteral("user/phone"), phone);
        settings.setValue(QStringLiteral("user/username"), data.value(QStringLiteral("username")).toString());
        settings.setValue(QStringLiteral("user/token"), token);
        settings.setValue(QStringLiteral("user/wss_token"), data.value(QStringLiteral("wss_token")).toString());
        settings.sync();
        m_token = token;
        return true;
    }
    QString m_token;

    void startClient(const QString &apiBase)
    {
        m_client = std::make_unique<Client>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVIX_TEST_API_BASE"), apiBase);
        // A single-instance guard of our own, apart from other suites' clients.
        env.insert(QStringLiteral("TMPDIR"), m_tmp.path());
        m_client->setProcessEnvironment(env);
        m_client->setWorkingDirectory(m_workDir.path());
        m_client->start(QStringLiteral(TARVIX_BIN_DIR "/tarvix-testhost"), QStringList());
        QVERIFY2(m_client->waitForStarted(10000), qPrintable(m_client->errorString()));
        m_mainWindow = waitForWindow(MainTitle);
        QVERIFY2(!m_mainWindow.isEmpty(), qPrintable(m_client->log()));
        moveWindow(m_mainWindow, QPoint(0, 0));
    }

    QString waitForWindow(const QString &title, const QStringList &except = {})
    {
        QDeadlineTimer deadline(WindowTimeoutMs);
        while (!deadline.hasExpired()) {
            for (const QString &window : windowsOf(m_client->processId(), title)) {
                if (!except.contains(window)) {
                    QTest::qWait(300); // let it paint
                    return window;
                }
            }
            QTest::qWait(100);
        }
        return QString();
    }

    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 15000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (condition())
                return true;
            QTest::qWait(100);
        }
        return condition();
    }

    // The checked phones the client reported last after the mark, or
    // nothing when it reported none.
    std::optional<QStringList> checkedSince(int mark)
    {
        const QStringList lines = m_client->linesSince(mark, QStringLiteral("serverSNList数组"));
        if (lines.isEmpty())
            return std::nullopt;
        QStringList serials;
        for (const PhoneRecord &phone : qAsConst(m_phones)) {
            if (lines.last().contains(QRegularExpression(QStringLiteral("[ (]%1[,)]").arg(QRegularExpression::escape(phone.serverSn)))))
                serials << phone.serverSn;
        }
        return serials;
    }

    bool waitForChecked(int mark, const QStringList &expected)
    {
        return waitFor([&] {
            const auto checked = checkedSince(mark);
            return checked && *checked == expected;
        });
    }

    QStringList serials(const QList<int> &indexes) const
    {
        QStringList out;
        for (int i : indexes)
            out << m_phones.at(i).serverSn;
        return out;
    }

    // The cloud hands out no connection data for a phone whose rental ended.
    bool rented(int phone) const
    {
        return QDateTime::fromString(m_phones.at(phone).endTime, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
            > QDateTime::currentDateTime();
    }

    QList<int> allPhones() const
    {
        QList<int> all;
        for (int i = 0; i < m_phones.size(); ++i)
            all << i;
        return all;
    }

    // A spot of a card that no child takes and the hover button leaves free.
    QPoint cardSpot(int index) const
    {
        const QRect preview = onScreen(cardChild(index, "videorendermini"));
        return QPoint(preview.center().x(), preview.top() + 25);
    }

    // A widget of the probe, in main-window coordinates.
    QRect probeRect(QWidget *widget) const { return QRect(widget->mapTo(m_probe, QPoint(0, 0)), widget->size()); }
    QWidget *probeChild(const char *name) const { return m_probe->findChild<QWidget *>(QLatin1String(name)); }
    PhoneDetail *probeCard(int index) const { return m_probe->phoneCards().value(index); }
    QWidget *cardChild(int index, const char *name) const
    {
        return probeCard(index)->findChild<QWidget *>(QLatin1String(name));
    }
    QPoint clientPos() const { return windowGeometry(m_mainWindow).topLeft(); }
    QRect onScreen(QWidget *probeWidget) const { return probeRect(probeWidget).translated(clientPos()); }
    QRect treeRowRect(int row) const
    {
        auto *tree = m_probe->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
        QTreeWidgetItem *group = tree->topLevelItem(0);
        QTreeWidgetItem *item = row < 0 ? group : group->child(row);
        const QRect visual = tree->visualItemRect(item);
        return QRect(tree->viewport()->mapTo(m_probe, visual.topLeft()), visual.size()).translated(clientPos());
    }
    static QImage probeImage(QWidget *widget) { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    int sessionsAt(int phone, int frameRate)
    {
        int count = 0;
        const QJsonArray sessions =
            m_cloud->phoneState(m_phones.at(phone).serverSn).value(QStringLiteral("sessions")).toArray();
        for (const QJsonValue &s : sessions) {
            if (s.toObject().value(QStringLiteral("frameRate")).toInt() == frameRate)
                ++count;
        }
        return count;
    }
    QString previewSession(int phone)
    {
        const QJsonArray sessions =
            m_cloud->phoneState(m_phones.at(phone).serverSn).value(QStringLiteral("sessions")).toArray();
        for (const QJsonValue &s : sessions) {
            if (s.toObject().value(QStringLiteral("frameRate")).toInt() == 1)
                return s.toObject().value(QStringLiteral("sessionId")).toString();
        }
        return QString();
    }

    // The client's preview of a card shows the phone, not the placeholder.
    bool previewIsLive(const QImage &shot, int card)
    {
        QWidget *preview = cardChild(card, "videorendermini");
        return difference(shot.copy(onScreen(preview)), probeImage(preview)) > 0.3;
    }

    // The toast this process would show for the text, as a picture.
    QImage toastPicture(const QString &text)
    {
        Toast::instance()->show(1, text);
        ToastDlg *dlg = Toast::instance()->window();
        const QImage picture = dlg->grab().toImage().convertToFormat(QImage::Format_RGB32);
        dlg->hide();
        return picture;
    }

    // The client's toast shows the text, centred on the anchor window. With
    // no window manager here a window raised after the toast covers it, so
    // a covered toast counts by its place and size alone.
    bool toastShows(const QString &text, const QString &anchorWindow)
    {
        const QImage expected = toastPicture(text);
        const QRect anchor = windowGeometry(anchorWindow);
        const QRect where(anchor.topLeft() + QPoint((anchor.width() - expected.width()) / 2,
                                                    (anchor.height() - expected.height()) / 2),
                          expected.size());
        // The rounded corners show what lies behind.
        const int r = 16;
        const QList<QRect> corners{QRect(0, 0, r, r), QRect(where.width() - r, 0, r, r),
                                   QRect(0, where.height() - r, r, r), QRect(where.width() - r, where.height() - r, r, r)};
        QStringList seen;
        return waitFor(
            [&] {
                if (difference(screen().copy(where), expected, corners) < 0.05)
                    return true;
                for (const QString &window : windowsOf(m_client->processId(), QStringLiteral(".*"))) {
                    const QRect geometry = windowGeometry(window);
                    seen << QStringLiteral("%1,%2 %3x%4").arg(geometry.x()).arg(geometry.y()).arg(geometry.width()).arg(geometry.height());
                    if (geometry == where) {
                        qInfo("the toast is there but covered");
                        return true;
                    }
                }
                return false;
            },
            1800)
            || (qInfo() << "toast expected at" << where << "windows seen" << seen, false);
    }

    // The card area as far as the scroll area shows it, in main-window
    // coordinates, and the probe's picture of that part.
    QRect visibleCardArea() const
    {
        return probeRect(probeChild("PhoneWidget")).intersected(probeRect(probeChild("scrollArea")->findChild<QWidget *>(QStringLiteral("qt_scrollarea_viewport"))));
    }
    QImage probeCardArea() const
    {
        QWidget *area = probeChild("PhoneWidget");
        const QRect visible = visibleCardArea();
        return probeImage(area).copy(visible.translated(-probeRect(area).topLeft()));
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QVERIFY(m_settings.isValid() && m_workDir.isValid() && m_tmp.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server");
        qApp->setStyleSheet(clientStyleSheet());
        m_cloud = std::make_unique<TestSupport::LocalCloud>(
            QStringList{QStringLiteral("--seed"), QStringLiteral("demo"), QStringLiteral("--resend-interval"), QStringLiteral("1")});
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        QVERIFY(saveSession(TestSupport::LocalCloud::demoPhone()));
        m_listAnswer = m_cloud->apiPost(QStringLiteral("/vorl/v1/server/list"), "server_sn=", m_token).body;
        m_phones = PhoneRecord::listFromAnswer(m_listAnswer);
        QVERIFY(m_phones.size() >= 5);

        // The probe: same list, no connection data, off the visible screen.
        m_standIn.setAnswer(200, m_listAnswer);
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = QString::fromLatin1(m_standIn.baseUrl());
        Utils::overrideServiceBases(bases);
        AppEvent::instance()->setPhone(TestSupport::LocalCloud::demoPhone());
        AppEvent::instance()->setToken(QStringLiteral("probe"));
        m_probe = MainWindow::instance();
        m_probe->move(1700, 0);
        m_probe->show();
        QTRY_COMPARE(m_probe->phoneCards().size(), m_phones.size());
        QTest::qWait(300);

        startClient(m_cloud->apiBase());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            TestSupport::grabScreen(QStringLiteral("phonepage-failed-%1").arg(QLatin1String(QTest::currentTestFunction())));
            if (m_client)
                qInfo().noquote() << m_client->log().right(6000);
            if (m_cloud)
                qInfo().noquote() << m_cloud->consoleLog().right(3000);
        }
    }

    void cleanupTestCase()
    {
        m_client.reset();
        m_probe->hide();
    }

    // "默认分组" with "已选(0)", the rows in server order with their remaining
    // times, and one card per phone whose preview shows the live phone.
    void listAndLivePreviews()
    {
        QVERIFY(waitFor([&] { return m_client->log().contains(QStringLiteral("current root size %1").arg(m_phones.size())); }));
        // One preview stream per phone at one picture a second.
        QVERIFY2(waitFor([&] {
                     for (int i = 0; i < m_phones.size(); ++i) {
                         if (sessionsAt(i, 1) != (rented(i) ? 1 : 0))
                             return false;
                     }
                     return true;
                 }),
                 qPrintable(QJsonDocument(m_cloud->phones()).toJson()));
        QVERIFY(waitFor([&] {
            const QImage shot = screen();
            const QRect visible = onScreen(probeChild("scrollArea"));
            for (int i = 0; i < m_phones.size(); ++i) {
                if (!rented(i) || !visible.contains(onScreen(cardChild(i, "videorendermini"))))
                    continue;
                if (!previewIsLive(shot, i))
                    return false;
            }
            return true;
        }));
        hover(QPoint(1500, 950)); // no card hovered in the picture
        const QImage shot = screen(QStringLiteral("phonepage-live-previews"));

        // The tree reads as the probe's, which holds the same list.
        QWidget *tree = probeChild("treeWidget");
        QVERIFY2(difference(shot.copy(onScreen(tree)), probeImage(tree)) < 0.01,
                 "the tree differs from the list the server sent");
        auto *probeTree = static_cast<QTreeWidget *>(tree);
        QCOMPARE(probeTree->topLevelItem(0)->text(0), QStringLiteral("默认分组"));
        QCOMPARE(probeTree->topLevelItem(0)->text(1), QStringLiteral("已选(0)"));
        for (int i = 0; i < m_phones.size(); ++i) {
            QCOMPARE(probeTree->topLevelItem(0)->child(i)->text(0), m_phones.at(i).serverTitle);
            QCOMPARE(probeTree->topLevelItem(0)->child(i)->text(1), RentalTime::remainingText(m_phones.at(i)));
        }
        // Card frames unchecked: grey.
        for (int i = 0; i < 3; ++i) {
            const QRect frame = onScreen(cardChild(i, "widget"));
            QVERIFY(countNear(shot, QRect(frame.left() + 10, frame.top(), frame.width() - 20, 1), UncheckedBorder) > 10);
        }
    }

    // Cards, rows and the selection labels stay in step.
    void checking()
    {
        // A card: its row, a blue border and a blue batch box.
        int mark = m_client->mark();
        click(cardSpot(0));
        QVERIFY(waitForChecked(mark, serials({0})));
        QVERIFY(!m_client->linesSince(mark, QStringLiteral("选中")).isEmpty());
        QImage shot = screen();
        const QRect frame = onScreen(cardChild(0, "widget"));
        QVERIFY(countNear(shot, QRect(frame.left() + 10, frame.top(), frame.width() - 20, 1), CheckedBorder) > 10);
        QVERIFY2(countNear(shot, onScreen(probeChild("comboBox")), Blue, 60) > 10, "the batch box is not blue");

        // One of two rows: the group row partly checked with "已选(1)".
        mark = m_client->mark();
        click(cardSpot(0));
        QVERIFY(waitForChecked(mark, {}));
        mark = m_client->mark();
        click(treeRowRect(1).center());
        QVERIFY(waitForChecked(mark, serials({1})));
        QTest::qWait(300);
        shot = screen();
        m_probe->phoneChecks()->clickPhone(1);
        QTreeWidgetItem *group = m_probe->findChild<QTreeWidget *>(QStringLiteral("treeWidget"))->topLevelItem(0);
        QCOMPARE(group->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(group->text(1), QStringLiteral("已选(1)"));
        const QRect groupRow = treeRowRect(-1);
        const QImage expectedGroup =
            m_probe->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(groupRow.translated(-clientPos()));
        QVERIFY2(difference(shot.copy(groupRow), expectedGroup) < 0.02, "group row is not partly checked with 已选(1)");
        // The card of the row followed.
        const QRect frame1 = onScreen(cardChild(1, "widget"));
        QVERIFY(countNear(shot, QRect(frame1.left() + 10, frame1.top(), frame1.width() - 20, 1), CheckedBorder) > 10);
        m_probe->phoneChecks()->clickPhone(1);

        // The labels.
        const QList<int> all = allPhones();
        mark = m_client->mark();
        click(onScreen(probeChild("allSelectionBtn")).center());
        QVERIFY(waitForChecked(mark, serials(all)));
        QTest::qWait(300);
        shot = screen(QStringLiteral("phonepage-checked"));
        for (int i = 0; i < 3; ++i) {
            const QRect f = onScreen(cardChild(i, "widget"));
            QVERIFY(countNear(shot, QRect(f.left() + 10, f.top(), f.width() - 20, 1), CheckedBorder) > 10);
        }
        mark = m_client->mark();
        click(onScreen(probeChild("cancelSelectionBtn")).center());
        QVERIFY(waitForChecked(mark, {}));
        mark = m_client->mark();
        click(cardSpot(2));
        QVERIFY(waitForChecked(mark, serials({2})));
        mark = m_client->mark();
        click(onScreen(probeChild("reverseSelectioBtn")).center());
        QList<int> allButTwo = all;
        allButTwo.removeAll(2);
        QVERIFY(waitForChecked(mark, serials(allButTwo)));
        mark = m_client->mark();
        click(onScreen(probeChild("cancelSelectionBtn")).center());
        QVERIFY(waitForChecked(mark, {}));
    }

    // Hover, enter, enter again, close: the preview gives way to the control
    // window and comes back when it is closed.
    void enterAndClose()
    {
        QWidget *card = probeCard(0);
        hover(onScreen(card).center());
        QTest::qWait(300);
        QImage shot = screen(QStringLiteral("phonepage-hover"));
        QVERIFY2(countNear(shot, onScreen(cardChild(0, "enterBtn")), Blue, 40) > 200, "no 进入云机 button");

        click(onScreen(cardChild(0, "enterBtn")).center());
        const QString control = waitForWindow(ControlTitle);
        QVERIFY2(!control.isEmpty(), "no control window");
        moveWindow(control, QPoint(1070, 40));
        QVERIFY(waitFor([&] { return sessionsAt(0, 30) == 1; }));
        // The preview's picture gives way to the placeholder a second later;
        // its stream goes on, since group control relays through it.
        QVERIFY(waitFor([&] { return !previewIsLive(screen(), 0); }));
        QCOMPARE(sessionsAt(0, 1), 1);
        QTest::qWait(1500);
        screen(QStringLiteral("phonepage-control-window"));

        // Entering again brings the same window forward.
        hover(QPoint(5, 600));
        hover(onScreen(card).center());
        click(onScreen(cardChild(0, "enterBtn")).center());
        QVERIFY2(toastShows(QStringLiteral("该云机已经打开"), control), "no 该云机已经打开");
        QCOMPARE(windowsOf(m_client->processId(), ControlTitle).size(), 1);
        QCOMPARE(sessionsAt(0, 30), 1);

        // Its title bar's close button: the preview starts again.
        PhoneController probeControl;
        auto *close = probeControl.findChild<TitleWidget *>(QStringLiteral("titleWidget"))->findChild<QWidget *>(QStringLiteral("closeButton"));
        probeControl.move(1700, 0);
        probeControl.show();
        QTest::qWait(200);
        const QRect closeRect(close->mapTo(&probeControl, QPoint(0, 0)) + windowGeometry(control).topLeft(), close->size());
        probeControl.hide();
        click(closeRect.center());
        QVERIFY(waitFor([&] { return windowsOf(m_client->processId(), ControlTitle).isEmpty(); }));
        QVERIFY(waitFor([&] { return sessionsAt(0, 30) == 0 && sessionsAt(0, 1) == 1; }));
        QVERIFY(waitFor([&] { return previewIsLive(screen(), 0); }));
        // The window was hidden, not destroyed: every other preview streams on.
        for (int i = 1; i < m_phones.size(); ++i)
            QCOMPARE(sessionsAt(i, 1), rented(i) ? 1 : 0);
    }

    void reloadIconRestartsPreview()
    {
        const QString before = previewSession(1);
        QVERIFY(!before.isEmpty());
        click(onScreen(cardChild(1, "reloadBtn")).center());
        QVERIFY(waitFor([&] {
            const QString now = previewSession(1);
            return !now.isEmpty() && now != before;
        }));
        QCOMPARE(sessionsAt(1, 1), 1);
        QVERIFY(waitFor([&] { return previewIsLive(screen(), 1); }));
    }

    // An expired token: the next refresh returns to the login window with
    // an empty code field.
    void expiredTokenSignsOut()
    {
        QVERIFY(m_cloud->expireToken(TestSupport::LocalCloud::demoPhone()) >= 1);
        const int mark = m_client->mark();
        click(onScreen(probeChild("refreshBtn")).center());
        const QString login = waitForWindow(LoginTitle);
        QVERIFY2(!login.isEmpty(), "no login window");
        QVERIFY(waitFor([&] { return windowsOf(m_client->processId(), MainTitle).isEmpty(); }));
        QVERIFY(!m_client->linesSince(mark, QStringLiteral("-----超时登出")).isEmpty());
        screen(QStringLiteral("phonepage-signed-out"));
        // The code field: empty, as the login window shows it before any typing.
        QVERIFY(m_client->log().mid(mark).contains(QStringLiteral("no server list")));
    }

    // A stopped local cloud: the no-phone picture behind the cards that
    // stay, and a client that still answers.
    void stoppedCloudShowsNoPhone()
    {
        m_client.reset();
        QTest::qWait(1100); // the code resend interval
        QVERIFY(saveSession(TestSupport::LocalCloud::demoPhone()));
        startClient(m_cloud->apiBase());
        QVERIFY(waitFor([&] { return m_client->log().contains(QStringLiteral("current root size %1").arg(m_phones.size())); }));
        QVERIFY(waitFor([&] { return sessionsAt(0, 1) == 1; }));

        m_cloud->stop();
        int mark = m_client->mark();
        click(onScreen(probeChild("refreshBtn")).center());
        QVERIFY(waitFor([&] { return m_client->log().mid(mark).contains(QStringLiteral("no server list")); }));
        QTest::qWait(500);
        const QImage shot = screen(QStringLiteral("phonepage-cloud-stopped"));

        // The probe's list request fails the same way.
        m_standIn.setAnswer(500, "{}");
        m_probe->refreshPhoneList(false);
        QTest::qWait(300);
        const QRect visible = visibleCardArea();
        QList<QRect> cards;
        for (PhoneDetail *card : m_probe->phoneCards())
            cards << probeRect(card).translated(-visible.topLeft());
        QVERIFY2(difference(shot.copy(visible.translated(clientPos())), probeCardArea(), cards) < 0.02,
                 "no no-phone picture");

        // Still answering.
        mark = m_client->mark();
        click(onScreen(probeChild("allSelectionBtn")).center());
        QVERIFY(waitForChecked(mark, serials(allPhones())));
        QCOMPARE(m_client->state(), QProcess::Running);
    }

    // No phones at all, and a list request that fails: the no-phone picture,
    // "请选择云手机" for "全选" on the empty tree.
    void emptyAndFailingLists_data()
    {
        QTest::addColumn<bool>("failing");
        QTest::newRow("empty list") << false;
        QTest::newRow("failing list request") << true;
    }

    void emptyAndFailingLists()
    {
        QFETCH(bool, failing);
        m_client.reset();
        if (failing) {
            m_standIn.setAnswer(200, R"({"code":500,"msg":"busy","data":null})");
            startClient(QString::fromLatin1(m_standIn.baseUrl()));
        } else {
            QVERIFY(m_cloud->restart());
            QTest::qWait(1100);
            QVERIFY(saveSession(QStringLiteral("13900001111")));
            startClient(m_cloud->apiBase());
        }
        QVERIFY(waitFor([&] {
            return m_client->log().contains(failing ? QStringLiteral("no server list") : QStringLiteral("nophone"));
        }));
        QTest::qWait(500);
        const QImage shot = screen(failing ? QStringLiteral("phonepage-list-failing") : QStringLiteral("phonepage-empty"));

        m_standIn.setAnswer(200, R"({"code":200,"msg":"ok","data":[]})");
        m_probe->refreshPhoneList(false);
        QTest::qWait(300);
        QVERIFY(m_probe->phoneCards().isEmpty());
        QVERIFY2(difference(shot.copy(visibleCardArea().translated(clientPos())), probeCardArea()) < 0.02,
                 "no no-phone picture");
        if (failing)
            m_standIn.setAnswer(200, R"({"code":500,"msg":"busy","data":null})");

        click(onScreen(probeChild("allSelectionBtn")).center());
        QVERIFY2(toastShows(QStringLiteral("请选择云手机"), m_mainWindow), "no 请选择云手机");
        // Refreshing again changes nothing and breaks nothing.
        const int mark = m_client->mark();
        click(onScreen(probeChild("refreshBtn")).center());
        QVERIFY(waitFor([&] {
            return m_client->log().mid(mark).contains(failing ? QStringLiteral("no server list") : QStringLiteral("nophone"));
        }));
        QCOMPARE(m_client->state(), QProcess::Running);
    }
};

QTEST_MAIN(TestPhonePage)
#include "tst_phonepage.moc"
