#include "api/utils.h"
#include "app/appevent.h"
#include "phones/mainwindow.h"
#include "phones/model/phonechecks.h"
#include "phones/phonedetail.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"
#include "tests/e2e/xinput.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "tests/support/waitfor.h"
#include "tests/upload/uploadtesthelpers.h"
#include "upload/uploadblocks.h"
#include "upload/uploadconfigfile.h"
#include "upload/uploadfiles.h"
#include "upload/uploadwiring.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QCursor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>

using TestSupport::LocalCloud;

// Files to phones from the phone page: the batch box's "批量上传文件" for
// the phones checked in the tree, and the configuration file that entering
// a phone through its card pushes. The main window of this process against
// a local cloud, driven with X input on the suite's own X server; what
// reached each phone is read back through the cloud's admin API.

namespace {

using TestSupport::click;
using TestSupport::moveTo;
using TestSupport::waitFor;
using TestSupport::whenModal;
using TestSupport::xdotool;

bool clickAt(const QPoint &global)
{
    if (!moveTo(global))
        return false;
    const bool ok = xdotool({QStringLiteral("click"), QStringLiteral("1")});
    QTest::qWait(150);
    return ok;
}

QString md5Of(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

} // namespace

class TestUploadBatchE2e final : public QObject
{
    Q_OBJECT

private:
    UploadFiles *window() { return UploadFiles::instance(); }
    QPushButton *uploadButton(const char *name) { return window()->findChild<QPushButton *>(QLatin1String(name)); }
    QTreeWidget *tree() const { return m_main->findChild<QTreeWidget *>(QStringLiteral("treeWidget")); }
    PhoneDetail *card(const QString &serverSn) const { return m_main->phoneCard(serverSn); }

    // The cloud's own record of a phone.
    QJsonObject record(const QString &serverSn) const
    {
        for (const QJsonValue &phone : m_cloud->phones()) {
            if (phone.toObject().value(QStringLiteral("server_sn")).toString() == serverSn)
                return phone.toObject();
        }
        return QJsonObject();
    }

    // Tree rows of phones the cloud still rents out (uploads to an expired
    // phone are refused).
    QList<int> rentedRows() const
    {
        QList<int> rows;
        PhoneChecks *checks = m_main->phoneChecks();
        for (int i = 0; i < checks->count(); ++i) {
            if (!record(checks->serverSn(i)).value(QStringLiteral("expired")).toBool(true))
                rows << i;
        }
        return rows;
    }

    bool clickTreeRow(int row)
    {
        QTreeWidgetItem *item = tree()->topLevelItem(0)->child(row);
        const QRect visual = tree()->visualItemRect(item);
        return clickAt(tree()->viewport()->mapToGlobal(visual.center()));
    }

    void chooseBatchItem(int index)
    {
        auto *combo = m_main->findChild<QComboBox *>(QStringLiteral("comboBox"));
        QVERIFY(combo);
        // The arrow: the line edit itself only shows the text.
        QVERIFY(clickAt(combo->mapToGlobal(QPoint(combo->width() - 10, combo->height() / 2))));
        QTRY_VERIFY(combo->view()->isVisible());
        QTest::qWait(200);
        TestSupport::grabScreen(QStringLiteral("upload-batch-list"));
        const QRect item = combo->view()->visualRect(combo->model()->index(index, 0));
        QVERIFY(clickAt(QPoint(combo->view()->window()->geometry().center().x(),
                               combo->view()->viewport()->mapToGlobal(item.center()).y())));
    }

    // Types the paths into Qt's file dialog and accepts.
    void chooseInDialog(const QStringList &paths)
    {
        QString typed;
        for (const QString &p : paths)
            typed += QLatin1Char('"') + p + QStringLiteral("\" ");
        whenModal([typed](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            edit->setFocus();
            xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("2"), typed});
            QTest::qWait(100);
            xdotool({QStringLiteral("key"), QStringLiteral("Return")});
            // Never leave a test stuck behind a dialog.
            QTimer::singleShot(5000, dialog, &QDialog::reject);
        });
        QVERIFY(click(uploadButton("selectFilesButton")));
    }

    // The line entering the phone at ms writes, from the cloud's record of
    // the phone and the session's user: twelve fields.
    static QString expectedLine(const QJsonObject &record, qint64 ms)
    {
        const QString orderSn = record.value(QStringLiteral("order_sn")).toString();
        const QString serid = QString::number(record.value(QStringLiteral("serid")).toInt());
        const QString user = AppEvent::instance()->userName();
        return QStringList{user,
                           user,
                           record.value(QStringLiteral("server_sn")).toString(),
                           QString::number(record.value(QStringLiteral("sid")).toInt()),
                           QString::number(record.value(QStringLiteral("idc_id")).toInt()),
                           record.value(QStringLiteral("idc_sn")).toString(),
                           Utils::instance()->appKey(),
                           Utils::instance()->channelCode(),
                           orderSn,
                           serid,
                           orderSn + QLatin1Char('_') + serid,
                           QString::number(ms)}
            .join(QLatin1Char(','));
    }

    // The moment in [from, to] whose line the phone's "d.txt" holds, or -1.
    qint64 configLineTime(const QString &serverSn, qint64 from, qint64 to) const
    {
        const QString md5 = UploadTest::phoneFile(*m_cloud, serverSn, QStringLiteral("/storage/emulated/0/d.txt"))
                                .value(QStringLiteral("md5"))
                                .toString();
        if (md5.isEmpty())
            return -1;
        const QJsonObject r = record(serverSn);
        for (qint64 ms = from; ms <= to; ++ms) {
            if (md5Of(expectedLine(r, ms)) == md5)
                return ms;
        }
        return -1;
    }

    // Hovers the card until its "进入云机" shows; its centre on screen.
    QPoint enterButtonOf(const QString &serverSn)
    {
        PhoneDetail *c = card(serverSn);
        if (!c)
            return QPoint();
        moveTo(c->mapToGlobal(QPoint(5, 5)));
        moveTo(c->mapToGlobal(c->rect().center()));
        auto *button = c->findChild<QPushButton *>(QStringLiteral("enterBtn"));
        if (!waitFor([&] { return button->isVisible(); }, 3000))
            return QPoint();
        return button->mapToGlobal(button->rect().center());
    }

    bool closeWindowOf(const QString &serverSn)
    {
        PhoneController *w = card(serverSn)->controlWindow();
        if (!w)
            return false;
        w->raise();
        QTest::qWait(200);
        click(w->findChild<QWidget *>(QStringLiteral("closeButton")));
        return waitFor([&] { return !w->isVisible(); }, 5000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        initTarvixResources();
        QFile style(QStringLiteral(":/style/style.css"));
        QVERIFY(style.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(style.readAll()));
        // Qt's own dialog, the same on every desktop.
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        QVERIFY(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) == 0);
        m_cloud = std::make_unique<LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        UploadTest::useCloud(*m_cloud);
        // Signed in through the client's own requests, so the session holds
        // the user name the cloud gives.
        QVERIFY(Utils::instance()->sendMsg(LocalCloud::demoPhone()));
        QCOMPARE(Utils::instance()->login(LocalCloud::demoPhone(), m_cloud->smsCode(LocalCloud::demoPhone())), QString());
        QVERIFY(!AppEvent::instance()->userName().isEmpty());
        // What the client installs at start.
        installUploads(qApp);

        m_main = MainWindow::instance();
        m_main->move(0, 0);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->phoneCards().size() >= 3, 10000);
        m_small = m_dir.path() + QStringLiteral("/batch-notes.txt");
        m_smallMd5 = UploadTest::writeRandomFile(m_small, 4096);
        m_medium = m_dir.path() + QStringLiteral("/batch-data.bin");
        m_mediumMd5 = UploadTest::writeRandomFile(m_medium, 3 * 1024 * 1024);
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            TestSupport::grabScreen(QStringLiteral("upload-batch-failed-%1").arg(QLatin1String(QTest::currentTestFunction())));
            qWarning().noquote() << m_cloud->consoleLog().right(3000);
        }
    }

    // Two rows checked in the tree, "批量上传文件": the window opens for
    // exactly those phones (title -> server_sn), and an upload reaches both
    // of them and no other.
    void batchUploadGoesToTheCheckedPhones()
    {
        const QList<int> rows = rentedRows();
        QVERIFY(rows.size() >= 3);
        PhoneChecks *checks = m_main->phoneChecks();
        const int first = rows.at(0);
        const int second = rows.at(2);
        QVERIFY(clickTreeRow(first));
        QVERIFY(clickTreeRow(second));
        QTRY_COMPARE(m_main->checkedPhoneList(), (QStringList{checks->serverSn(first), checks->serverSn(second)}));
        const QString untouched = checks->serverSn(rows.at(1));

        // The titles the rows show are the cloud's.
        QMap<QString, QString> expected;
        for (int row : {first, second}) {
            const QString sn = checks->serverSn(row);
            QCOMPARE(tree()->topLevelItem(0)->child(row)->text(0), record(sn).value(QStringLiteral("server_title")).toString());
            expected.insert(record(sn).value(QStringLiteral("server_title")).toString(), sn);
        }
        chooseBatchItem(2);
        QTRY_VERIFY_WITH_TIMEOUT(window()->isVisible(), 5000);
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("upload-batch-window"));
        QCOMPARE(window()->targets(), expected);
        // Over the main window.
        QVERIFY(m_main->frameGeometry().contains(window()->frameGeometry().center()));
        QTRY_VERIFY_WITH_TIMEOUT(Utils::instance()->hasStsCredentials(), 10000);

        chooseInDialog({m_medium, m_small});
        QTRY_COMPARE(window()->fileCards().size(), 2);
        QTest::qWait(200);
        QVERIFY(click(uploadButton("uploadButton")));
        QTRY_COMPARE(window()->uploadingRows().size(), 4);
        QVERIFY(waitFor([&] { return window()->uploadingRows().isEmpty(); }, 120000));
        window()->showPage(2);
        QTest::qWait(200);
        TestSupport::grabScreen(QStringLiteral("upload-batch-history"));
        const QList<uploadHistory *> history = window()->historyRows();
        QVERIFY(history.size() >= 4);
        QSet<QString> ended;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(history.at(i)->stateText(), QStringLiteral("上传成功"));
            ended.insert(history.at(i)->machineText() + QLatin1Char('/') + history.at(i)->nameText());
        }
        QCOMPARE(ended.size(), 4);
        for (const QString &title : expected.keys()) {
            QVERIFY(ended.contains(title + QStringLiteral("/batch-notes.txt")));
            QVERIFY(ended.contains(title + QStringLiteral("/batch-data.bin")));
        }
        for (const QString &sn : expected) {
            QCOMPARE(UploadTest::phoneFile(*m_cloud, sn, QStringLiteral("/storage/emulated/0/Download/batch-data.bin"))
                         .value(QStringLiteral("md5")).toString(), m_mediumMd5);
            QCOMPARE(UploadTest::phoneFile(*m_cloud, sn, QStringLiteral("/storage/emulated/0/Download/batch-notes.txt"))
                         .value(QStringLiteral("md5")).toString(), m_smallMd5);
        }
        QVERIFY(UploadTest::phoneFile(*m_cloud, untouched, QStringLiteral("/storage/emulated/0/Download/batch-notes.txt")).isEmpty());
        window()->hide();
        // Unchecked again for the cards that follow.
        QVERIFY(clickTreeRow(first));
        QVERIFY(clickTreeRow(second));
        QTRY_VERIFY(m_main->checkedPhoneList().isEmpty());
    }

    // "进入云机" on a card pushes "d.txt" to the root of that phone with the
    // twelve fields of its own record.
    void enteringAPhonePushesItsRecord()
    {
        const QString sn = m_main->phoneChecks()->serverSn(rentedRows().at(0));
        const QPoint enter = enterButtonOf(sn);
        QVERIFY(!enter.isNull());
        const qint64 from = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(clickAt(enter));
        QTRY_VERIFY_WITH_TIMEOUT(card(sn)->controlWindow() && card(sn)->controlWindow()->isVisible(), 5000);
        const qint64 to = QDateTime::currentMSecsSinceEpoch();
        qint64 at = -1;
        QVERIFY2(waitFor([&] { return (at = configLineTime(sn, from, to)) >= 0; }, 30000),
                 qPrintable(QStringLiteral("%1 holds no d.txt with its own line").arg(sn)));
        QVERIFY(QFileInfo::exists(m_settings.dataHome() + QStringLiteral("/Mervane/Tarvix/d.txt")));
        TestSupport::grabScreen(QStringLiteral("upload-batch-entered"));
        QVERIFY(closeWindowOf(sn));
    }

    // Two phones entered within 100 ms: each gets its own line.
    void twoPhonesEnteredAtOnce()
    {
        const QList<int> rows = rentedRows();
        const QString a = m_main->phoneChecks()->serverSn(rows.at(1));
        const QString b = m_main->phoneChecks()->serverSn(rows.at(2));
        // Both windows exist and are hidden: entering shows them again, so
        // the two presses are handled back to back.
        for (const QString &sn : {a, b}) {
            QVERIFY(clickAt(enterButtonOf(sn)));
            QTRY_VERIFY_WITH_TIMEOUT(card(sn)->controlWindow() && card(sn)->controlWindow()->isVisible(), 5000);
            QVERIFY(closeWindowOf(sn));
        }
        uploadConfigFile::waitForPushes(60000);
        const QPoint enterA = enterButtonOf(a);
        QVERIFY(!enterA.isNull());
        PhoneDetail *cardB = card(b);
        const QPoint enterB =
            cardB->mapToGlobal(cardB->findChild<QPushButton *>(QStringLiteral("enterBtn"))->geometry().center());
        const qint64 from = QDateTime::currentMSecsSinceEpoch();
        // One burst of input: press on A's button, over to B's, press.
        QVERIFY(xdotool({QStringLiteral("click"), QStringLiteral("1"), QStringLiteral("mousemove"),
                         QString::number(enterB.x()), QString::number(enterB.y()), QStringLiteral("click"),
                         QStringLiteral("1")}));
        for (const QString &sn : {a, b})
            QTRY_VERIFY_WITH_TIMEOUT(card(sn)->controlWindow() && card(sn)->controlWindow()->isVisible(), 5000);
        const qint64 to = QDateTime::currentMSecsSinceEpoch();
        qint64 atA = -1;
        qint64 atB = -1;
        QVERIFY2(waitFor([&] { return (atA = configLineTime(a, from, to)) >= 0 && (atB = configLineTime(b, from, to)) >= 0; },
                         60000),
                 "a phone holds a line that is not its own");
        // A loaded machine may space the two presses further apart; the lines
        // are still checked, only the overlap of the two pushes is lost.
        if (qAbs(atB - atA) < 100)
            qInfo("entered %lld ms apart", qAbs(atB - atA));
        else
            qWarning("entered %lld ms apart: the two pushes may not have overlapped", qAbs(atB - atA));
        TestSupport::grabScreen(QStringLiteral("upload-batch-two-entered"));
        for (const QString &sn : {a, b})
            QVERIFY(closeWindowOf(sn));
    }

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<LocalCloud> m_cloud;
    QTemporaryDir m_dir{QStringLiteral("/tmp/tarvix-upload-batch-XXXXXX")};
    MainWindow *m_main = nullptr;
    QString m_small, m_smallMd5, m_medium, m_mediumMd5;
};

QTEST_MAIN(TestUploadBatchE2e)
#include "tst_upload_batch_e2e.moc"
