#include "api/phonerecord.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"
#include "tests/e2e/xinput.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "tests/upload/uploadtesthelpers.h"
#include "upload/uploadblocks.h"
#include "upload/uploadfiles.h"
#include "upload/uploadwiring.h"
#include "widgets/toast.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <functional>
#include <memory>

using TestSupport::LocalCloud;

using TestSupport::click;
using TestSupport::whenModal;
using TestSupport::xdotool;

// The upload window under X, driven by real input: files chosen in Qt's own
// file dialog, the buttons pressed with the mouse; outcomes read back from
// the local cloud's admin API.
class TestUploadE2e final : public QObject
{
    Q_OBJECT

private:
    UploadFiles *window() { return UploadFiles::instance(); }
    QPushButton *button(const char *name) { return window()->findChild<QPushButton *>(QLatin1String(name)); }

    // Types the paths into the dialog's file name field and accepts.
    void chooseInDialog(const QStringList &paths)
    {
        QString typed;
        for (const QString &p : paths)
            typed += QLatin1Char('"') + p + QStringLiteral("\" ");
        whenModal([typed](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            TestSupport::grabScreen(QStringLiteral("upload-e2e-file-dialog"));
            auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            edit->setFocus();
            // xdotool types through the X keymap, which has no Chinese: such
            // names are put into the field as an input method would.
            bool ascii = true;
            for (const QChar c : typed)
                ascii = ascii && c.unicode() < 128;
            if (ascii)
                xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("2"), typed});
            else
                edit->setText(typed);
            QTest::qWait(100);
            xdotool({QStringLiteral("key"), QStringLiteral("Return")});
            // Never leave a test stuck behind a dialog.
            QTimer::singleShot(5000, dialog, &QDialog::reject);
        });
        QVERIFY(click(button("selectFilesButton")));
    }

    // Files carried over X's drag and drop from another process, as from a
    // file manager: pressed in its window, moved to the point, let go there.
    // The source stays to serve the data until the next drag or the end.
    void dragFromAnotherProcess(const QStringList &paths, const QPoint &to)
    {
        endDragSource();
        m_dragSource = std::make_unique<QProcess>();
        QProcess *source = m_dragSource.get();
        source->setProgram(qEnvironmentVariable("TARVIX_TEST_BIN_DIR") + QStringLiteral("/xdndsource"));
        const QPoint sourceAt(1400, 860);
        source->setArguments(QStringList{QString::number(sourceAt.x()), QString::number(sourceAt.y())} + paths);
        auto said = std::make_shared<QByteArray>();
        connect(source, &QProcess::readyReadStandardOutput, source, [source, said] { *said += source->readAllStandardOutput(); });
        source->start();
        QTRY_VERIFY2_WITH_TIMEOUT(said->contains("READY"), said->constData(), 10000);
        const QPoint from = sourceAt + QPoint(60, 40);
        QStringList gesture{QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(from.x()),
                            QString::number(from.y()), QStringLiteral("mousedown"), QStringLiteral("1")};
        for (int step = 1; step <= 12; ++step) {
            const QPoint p = from + (to - from) * step / 12;
            gesture << QStringLiteral("sleep") << QStringLiteral("0.08") << QStringLiteral("mousemove")
                    << QString::number(p.x()) << QString::number(p.y());
        }
        gesture << QStringLiteral("sleep") << QStringLiteral("0.3") << QStringLiteral("mouseup") << QStringLiteral("1");
        // Run while this process answers the drag's messages.
        QProcess hand;
        hand.start(QStringLiteral("xdotool"), gesture);
        QTRY_VERIFY_WITH_TIMEOUT(hand.state() == QProcess::NotRunning, 15000);
        QCOMPARE(hand.exitCode(), 0);
        QTRY_VERIFY2_WITH_TIMEOUT(said->contains("DROPPED 1"), said->constData(), 10000);
    }

    void endDragSource()
    {
        if (!m_dragSource)
            return;
        m_dragSource->kill();
        m_dragSource->waitForFinished(5000);
        m_dragSource.reset();
    }

    // Resident memory of a process (0: this one), in KiB.
    static qint64 residentKiB(qint64 pid = 0)
    {
        QFile status(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
        return 0;
    }

    static QString newestTaskFileUid(const LocalCloud &cloud)
    {
        return cloud.consoleTasks().first().toObject().value(QStringLiteral("fileUid")).toString();
    }

    bool waitIdle(int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!window()->uploadingRows().isEmpty() && clock.elapsed() < timeoutMs)
            QTest::qWait(50);
        return window()->uploadingRows().isEmpty();
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
        m_cloud = std::make_unique<LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        UploadTest::useCloud(*m_cloud);
        QVERIFY(UploadTest::signInDemo(*m_cloud));
        m_phoneA = m_cloud->addPhone(LocalCloud::demoPhone(), QStringLiteral("A机")).value(QStringLiteral("server_sn")).toString();
        m_phoneB = m_cloud->addPhone(LocalCloud::demoPhone(), QStringLiteral("B机")).value(QStringLiteral("server_sn")).toString();
        // What the client installs at start: the openers and the drop handler.
        installUploads(qApp);
        // Big files live in /tmp and go with the folder.
        m_big = m_dir.path() + QStringLiteral("/big200.bin");
        m_bigMd5 = UploadTest::writeRandomFile(m_big, qint64(200) * 1024 * 1024);
        m_small = m_dir.path() + QStringLiteral("/notes.txt");
        m_smallMd5 = UploadTest::writeRandomFile(m_small, 4096);
    }

    // The control window's "文件上传" opens the window for its phone.
    void controlWindowOpensItForItsPhone()
    {
        auto *controller = new PhoneController;
        controller->move(30, 30);
        controller->show();
        controller->setCurrentId(QStringLiteral("A机"));
        controller->startStream(m_phoneA);
        QVERIFY(QTest::qWaitForWindowExposed(controller));
        auto *icon = controller->findChild<QWidget *>(QStringLiteral("icon"));
        auto *panel = controller->findChild<QWidget *>(QStringLiteral("phoneControl"));
        if (!panel->isVisible())
            QVERIFY(click(icon));
        QTRY_VERIFY(panel->isVisible());
        QTest::qWait(800); // the panel slides in
        QWidget *upload = controller->findChild<QWidget *>(QStringLiteral("uploadFile"));
        QVERIFY(upload);
        QVERIFY(click(upload));
        QTRY_VERIFY_WITH_TIMEOUT(window()->isVisible(), 5000);
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("upload-e2e-from-control-window"));
        QCOMPARE(window()->targets().value(QStringLiteral("A机")), m_phoneA);
        // The control window is narrower and near the edge: still all on the screen.
        QVERIFY(window()->screen()->availableGeometry().contains(window()->frameGeometry()));
        m_controller = controller;
        window()->hide();
    }

    // Two files for two phones: four rows ordered by phone, then card;
    // the 200 MiB file's bar moves; history and phones agree.
    void twoFilesForTwoPhones()
    {
        UploadFiles::open({{QStringLiteral("B机"), m_phoneB}, {QStringLiteral("A机"), m_phoneA}}, nullptr);
        window()->move(660, 60);
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        QTRY_VERIFY_WITH_TIMEOUT(Utils::instance()->hasStsCredentials(), 10000);
        // A 400 Mbit/s link: loopback alone is over before the bar is drawn.
        QVERIFY(m_cloud->addStoreFault(QJsonObject{{QStringLiteral("kind"), QStringLiteral("slow")},
                                                   {QStringLiteral("bytesPerSecond"), 50 * 1024 * 1024}}));
        chooseInDialog({m_big, m_small});
        QTRY_COMPARE(window()->fileCards().size(), 2);
        QTest::qWait(100);
        TestSupport::grabScreen(QStringLiteral("upload-e2e-cards"));
        QVERIFY(click(button("uploadButton")));
        QTRY_COMPARE(window()->uploadingRows().size(), 4);
        QStringList order;
        for (uploadingBlock *row : window()->uploadingRows())
            order << row->machineName() + QLatin1Char('/') + row->fileInfo().fileName();
        QCOMPARE(order, (QStringList{QStringLiteral("A机/big200.bin"), QStringLiteral("A机/notes.txt"),
                                     QStringLiteral("B机/big200.bin"), QStringLiteral("B机/notes.txt")}));
        QSet<int> seen;
        int maxRunning = 0;
        bool shot = false;
        QElapsedTimer clock;
        clock.start();
        while (!window()->uploadingRows().isEmpty() && clock.elapsed() < 240000) {
            const QList<uploadingBlock *> rows = window()->uploadingRows();
            int running = 0;
            for (uploadingBlock *row : rows)
                running += row->state() == uploadingBlock::Running ? 1 : 0;
            maxRunning = qMax(maxRunning, running);
            if (rows.first()->fileInfo().fileName() == QLatin1String("big200.bin")
                && rows.first()->machineName() == QStringLiteral("A机")) {
                seen.insert(rows.first()->progress());
                if (!shot && rows.first()->progress() > 20) {
                    TestSupport::grabScreen(QStringLiteral("upload-e2e-running"));
                    shot = true;
                }
            }
            QTest::qWait(10);
        }
        QVERIFY(window()->uploadingRows().isEmpty());
        QCOMPARE(maxRunning, 1);
        int between = 0;
        for (int v : seen)
            between += (v > 0 && v < 100) ? 1 : 0;
        qInfo("the 200 MiB row showed %d distinct values between 0 and 100", between);
        QVERIFY(between >= 2);
        window()->showPage(2);
        QTest::qWait(200);
        TestSupport::grabScreen(QStringLiteral("upload-e2e-history"));
        const QList<uploadHistory *> history = window()->historyRows();
        QCOMPARE(history.first()->nameText() + history.first()->machineText(), QStringLiteral("notes.txtB机"));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(history.at(i)->stateText(), QStringLiteral("上传成功"));
        for (const QString &sn : {m_phoneA, m_phoneB}) {
            QCOMPARE(UploadTest::phoneFile(*m_cloud, sn, QStringLiteral("/storage/emulated/0/Download/big200.bin"))
                         .value(QStringLiteral("md5")).toString(), m_bigMd5);
            QCOMPARE(UploadTest::phoneFile(*m_cloud, sn, QStringLiteral("/storage/emulated/0/Download/notes.txt"))
                         .value(QStringLiteral("md5")).toString(), m_smallMd5);
        }
    }

    // An APK with "上传并安装" shows on the phone's home screen.
    void apkInstallShowsOnThePhone()
    {
        const QString apk = m_dir.path() + QStringLiteral("/Mahjong.apk");
        UploadTest::writeRandomFile(apk, 512 * 1024);
        window()->showPage(0);
        UploadFiles::open({{QStringLiteral("A机"), m_phoneA}}, nullptr);
        chooseInDialog({apk});
        QTRY_COMPARE(window()->fileCards().size(), 1);
        QTest::qWait(300);
        QVERIFY(click(button("uploadInstallButton")));
        QTRY_VERIFY(!window()->uploadingRows().isEmpty());
        QVERIFY(waitIdle(60000));
        QCOMPARE(window()->historyRows().first()->stateText(), QStringLiteral("上传并安装成功"));
        QVERIFY(UploadTest::hasApp(*m_cloud, m_phoneA, QStringLiteral("Mahjong")));
        window()->hide();
        m_controller->raise();
        QTest::qWait(1500); // the next frames carry the new icon
        TestSupport::grabScreen(QStringLiteral("upload-e2e-phone-home"));
    }

    // A name outside the rule: the toast once; the card is still added.
    void chineseNameWarns()
    {
        const QString odd = m_dir.path() + QStringLiteral("/测试.apk");
        UploadTest::writeRandomFile(odd, 1024);
        window()->showPage(0);
        UploadFiles::open({{QStringLiteral("A机"), m_phoneA}}, nullptr);
        chooseInDialog({odd});
        QTRY_COMPARE(window()->fileCards().size(), 1);
        TestSupport::grabScreen(QStringLiteral("upload-e2e-bad-name"));
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("存在上传文件名不符合要求，会造成上传失败，请修改相关文件名"));
        TestSupport::grabScreen(QStringLiteral("upload-e2e-bad-name"));
        for (uploadFileBlock *card : window()->fileCards())
            emit card->clicked(card->fileName());
    }

    // A name the console already has: nothing goes to the store, the task
    // takes the registered uid, the row ends "上传成功" with its bar at 0.
    void knownNameIsNotUploadedAgain()
    {
        QString knownUid;
        for (const QJsonValue &f : m_cloud->consoleFiles()) {
            if (f.toObject().value(QStringLiteral("name")).toString() == QLatin1String("notes.txt"))
                knownUid = f.toObject().value(QStringLiteral("uid")).toString();
        }
        QVERIFY(!knownUid.isEmpty());
        const int storeRequests = m_cloud->storeRequests().size();
        const int objects = m_cloud->storedObjects().size();
        const int files = m_cloud->consoleFiles().size();
        const int tasks = m_cloud->consoleTasks().size();
        window()->showPage(0);
        UploadFiles::open({{QStringLiteral("A机"), m_phoneA}}, nullptr);
        chooseInDialog({m_small});
        QTRY_COMPARE(window()->fileCards().size(), 1);
        QVERIFY(click(button("uploadButton")));
        QTRY_COMPARE(window()->uploadingRows().size(), 1);
        int maxProgress = 0;
        QPointer<uploadingBlock> row = window()->uploadingRows().first();
        QElapsedTimer clock;
        clock.start();
        while (row && clock.elapsed() < 60000) {
            maxProgress = qMax(maxProgress, row->progress());
            QTest::qWait(10);
        }
        QVERIFY(waitIdle(1000));
        QCOMPARE(maxProgress, 0);
        QCOMPARE(window()->historyRows().first()->nameText(), QStringLiteral("notes.txt"));
        QCOMPARE(window()->historyRows().first()->stateText(), QStringLiteral("上传成功"));
        QCOMPARE(m_cloud->storeRequests().size(), storeRequests);
        QCOMPARE(m_cloud->storedObjects().size(), objects);
        QCOMPARE(m_cloud->consoleFiles().size(), files);
        QCOMPARE(m_cloud->consoleTasks().size(), tasks + 1);
        QCOMPARE(newestTaskFileUid(*m_cloud), knownUid);
    }

    // Files dropped on a control window go to its phone at once: "上传"
    // for a file, "上传并安装" for an APK; what is no file is refused.
    void dropOnControlWindowQueuesForItsPhone()
    {
        QVERIFY(m_controller);
        window()->hide();
        const QString text = m_dir.path() + QStringLiteral("/dropped-notes.txt");
        const QString textMd5 = UploadTest::writeRandomFile(text, 2048);
        const QString apk = m_dir.path() + QStringLiteral("/Dropgame.apk");
        UploadTest::writeRandomFile(apk, 256 * 1024);
        VideoRender *view = m_controller->videoRender();
        m_controller->raise();
        QTest::qWait(200);
        const QPoint at = view->rect().center();

        // A folder and a web address are no files to send.
        QMimeData nothing;
        nothing.setUrls({QUrl::fromLocalFile(m_dir.path()), QUrl(QStringLiteral("https://example.com/a.apk"))});
        QDragEnterEvent refused(at, Qt::CopyAction, &nothing, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &refused);
        QVERIFY(!refused.isAccepted());

        QVERIFY(view->acceptDrops());
        dragFromAnotherProcess({text, apk}, view->mapToGlobal(at));
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY(window()->isVisible());
        QVERIFY(window()->screen()->availableGeometry().contains(window()->frameGeometry()));
        QCOMPARE(window()->currentPage(), 1);
        const QList<uploadingBlock *> rows = window()->uploadingRows();
        QCOMPARE(rows.size(), 2);
        QStringList queued;
        for (uploadingBlock *row : rows)
            queued << row->machineName() + QLatin1Char('/') + row->fileInfo().fileName()
                       + (row->install() ? QStringLiteral("/install") : QStringLiteral("/push"));
        QCOMPARE(queued, (QStringList{QStringLiteral("A机/dropped-notes.txt/push"),
                                      QStringLiteral("A机/Dropgame.apk/install")}));
        QTest::qWait(200);
        TestSupport::grabScreen(QStringLiteral("upload-e2e-dropped-on-control-window"));
        QVERIFY(waitIdle(60000));
        const QList<uploadHistory *> history = window()->historyRows();
        QCOMPARE(history.at(0)->nameText() + QLatin1Char(' ') + history.at(0)->stateText(),
                 QStringLiteral("Dropgame.apk 上传并安装成功"));
        QCOMPARE(history.at(1)->nameText() + QLatin1Char(' ') + history.at(1)->stateText(),
                 QStringLiteral("dropped-notes.txt 上传成功"));
        QCOMPARE(UploadTest::phoneFile(*m_cloud, m_phoneA, QStringLiteral("/storage/emulated/0/Download/dropped-notes.txt"))
                     .value(QStringLiteral("md5")).toString(), textMd5);
        QVERIFY(UploadTest::hasApp(*m_cloud, m_phoneA, QStringLiteral("Dropgame")));
        QVERIFY(UploadTest::phoneFile(*m_cloud, m_phoneB, QStringLiteral("/storage/emulated/0/Download/dropped-notes.txt")).isEmpty());
    }

    // Files dropped on the add page from another process become cards.
    void dropOnAddPageMakesCards()
    {
        const QString one = m_dir.path() + QStringLiteral("/dropped-one.bin");
        const QString two = m_dir.path() + QStringLiteral("/dropped-two.txt");
        UploadTest::writeRandomFile(one, 3 * 1024);
        UploadTest::writeRandomFile(two, 10);
        UploadFiles::open({{QStringLiteral("A机"), m_phoneA}}, nullptr);
        window()->showPage(0);
        window()->raise();
        QTest::qWait(200);
        QVERIFY(window()->fileCards().isEmpty());
        auto *area = window()->findChild<QWidget *>(QStringLiteral("pageAddScrollArea"));
        QVERIFY(area);
        dragFromAnotherProcess({one, two}, area->mapToGlobal(area->rect().center()));
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE(window()->fileCards().size(), 2);
        QCOMPARE(window()->fileCards().at(0)->filePath(), one);
        QCOMPARE(window()->fileCards().at(1)->filePath(), two);
        QCOMPARE(window()->summaryText(), QStringLiteral("总2项,共计0.00MB"));
        QTest::qWait(200);
        TestSupport::grabScreen(QStringLiteral("upload-e2e-dropped-on-add-page"));
        for (uploadFileBlock *card : window()->fileCards())
            emit card->clicked(card->fileName());
    }

    // Cancel the running row of a 1 GiB file: the history shows "取消上传"
    // as the click is handled, the next row starts on the next tick, the
    // store drops the body and nothing of it is registered; neither the
    // client nor the store holds the file in memory.
    void cancelOneGigabyteRow()
    {
        const QString huge = m_dir.path() + QStringLiteral("/huge1g.bin");
        {
            QFile file(huge);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(1) << 30)); // sparse: no disk, same bytes to read
        }
        const QString after = m_dir.path() + QStringLiteral("/after-cancel.txt");
        const QString afterMd5 = UploadTest::writeRandomFile(after, 1000);
        window()->showPage(0);
        UploadFiles::open({{QStringLiteral("A机"), m_phoneA}}, nullptr);
        // 1 GiB at 16 MiB/s: over a minute, so the row is surely running.
        QVERIFY(m_cloud->addStoreFault(QJsonObject{{QStringLiteral("kind"), QStringLiteral("slow")},
                                                   {QStringLiteral("bytesPerSecond"), 16 * 1024 * 1024}}));
        chooseInDialog({huge, after});
        QTRY_COMPARE(window()->fileCards().size(), 2);
        const qint64 clientBefore = residentKiB();
        const qint64 storeBefore = residentKiB(m_cloud->processId());
        QVERIFY(storeBefore > 0);
        QVERIFY(click(button("uploadButton")));
        QTRY_COMPARE(window()->uploadingRows().size(), 2);
        QPointer<uploadingBlock> big = window()->uploadingRows().at(0);
        QPointer<uploadingBlock> next = window()->uploadingRows().at(1);
        QCOMPARE(big->fileInfo().fileName(), QStringLiteral("huge1g.bin"));
        qint64 clientPeak = 0;
        qint64 storePeak = 0;
        QElapsedTimer clock;
        clock.start();
        // The digest reads the whole file first; then the transfer.
        while (big && big->progress() < 4 && clock.elapsed() < 120000) {
            clientPeak = qMax(clientPeak, residentKiB());
            storePeak = qMax(storePeak, residentKiB(m_cloud->processId()));
            QTest::qWait(50);
        }
        QVERIFY(big && big->progress() >= 4 && big->progress() < 100);
        QCOMPARE(big->state(), int(uploadingBlock::Running));
        QCOMPARE(next->state(), int(uploadingBlock::Waiting));
        qInfo("1 GiB row at %d %%: resident client %lld -> %lld KiB, store %lld -> %lld KiB", big->progress(),
              clientBefore, clientPeak, storeBefore, storePeak);
        QVERIFY2(clientPeak - clientBefore < 128 * 1024, "the client holds the file in memory");
        QVERIFY2(storePeak - storeBefore < 128 * 1024, "the store holds the body in memory");
        TestSupport::grabScreen(QStringLiteral("upload-e2e-1g-running"));

        // The row goes when its click is handled; what the history shows then.
        QString historyAtRemoval;
        QElapsedTimer sinceClick;
        qint64 removedAfterMs = -1;
        qint64 nextStartedAfterMs = -1;
        QObject watch; // the watchers go with this test
        connect(big.data(), &QObject::destroyed, &watch, [&] {
            removedAfterMs = sinceClick.elapsed();
            const uploadHistory *top = window()->historyRows().value(0);
            historyAtRemoval = top ? top->nameText() + QLatin1Char(' ') + top->stateText() : QString();
        });
        connect(next.data(), &uploadingBlock::StartUploadFile, &watch, [&] { nextStartedAfterMs = sinceClick.elapsed(); });
        QWidget *cancel = big->findChild<QWidget *>(QStringLiteral("cancelFile"));
        const QPoint onCancel = cancel->mapToGlobal(cancel->rect().center());
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(onCancel.x()),
                         QString::number(onCancel.y())}));
        QTest::qWait(150);
        sinceClick.start();
        QVERIFY(xdotool({QStringLiteral("click"), QStringLiteral("1")}));
        QTRY_VERIFY(!big);
        QCOMPARE(historyAtRemoval, QStringLiteral("huge1g.bin 取消上传"));
        QTRY_VERIFY(nextStartedAfterMs >= 0);
        qInfo("cancel: row in the history %lld ms after the click was sent; next row started %lld ms after it",
              removedAfterMs, nextStartedAfterMs);
        QVERIFY(waitIdle(30000));
        QCOMPARE(window()->historyRows().first()->nameText() + QLatin1Char(' ') + window()->historyRows().first()->stateText(),
                 QStringLiteral("after-cancel.txt 上传成功"));
        QCOMPARE(UploadTest::phoneFile(*m_cloud, m_phoneA, QStringLiteral("/storage/emulated/0/Download/after-cancel.txt"))
                     .value(QStringLiteral("md5")).toString(), afterMd5);

        // The store saw the body end early and kept nothing.
        const auto bodyDropped = [&] {
            for (const QJsonValue &r : m_cloud->storeRequests(20)) {
                const QJsonObject request = r.toObject();
                if (request.value(QStringLiteral("key")).toString().endsWith(QLatin1String("/huge1g.bin")))
                    return request.value(QStringLiteral("note")).toString().startsWith(QLatin1String("body ended"));
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(bodyDropped(), 10000);
        for (const QJsonValue &o : m_cloud->storedObjects())
            QVERIFY(!o.toObject().value(QStringLiteral("key")).toString().endsWith(QLatin1String("/huge1g.bin")));
        for (const QJsonValue &f : m_cloud->consoleFiles())
            QVERIFY(f.toObject().value(QStringLiteral("name")).toString() != QLatin1String("huge1g.bin"));
        QVERIFY(UploadTest::phoneFile(*m_cloud, m_phoneA, QStringLiteral("/storage/emulated/0/Download/huge1g.bin")).isEmpty());
        m_cloud->clearStoreFaults();
    }

    void cleanupTestCase()
    {
        endDragSource();
        delete m_controller;
    }

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<LocalCloud> m_cloud;
    QTemporaryDir m_dir{QStringLiteral("/tmp/tarvix-upload-e2e-XXXXXX")};
    QString m_phoneA, m_phoneB;
    QString m_big, m_bigMd5, m_small, m_smallMd5;
    PhoneController *m_controller = nullptr;
    std::unique_ptr<QProcess> m_dragSource;
};

QTEST_MAIN(TestUploadE2e)
#include "tst_upload_e2e.moc"
