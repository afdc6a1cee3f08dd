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
#include "widgets/toast.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
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
        VideoRender::setUploadOpener(&UploadFiles::open);
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

    void cleanupTestCase()
    {
        delete m_controller;
    }

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<LocalCloud> m_cloud;
    QTemporaryDir m_dir{QStringLiteral("/tmp/tarvix-upload-e2e-XXXXXX")};
    QString m_phoneA, m_phoneB;
    QString m_big, m_bigMd5, m_small, m_smallMd5;
    PhoneController *m_controller = nullptr;
};

QTEST_MAIN(TestUploadE2e)
#include "tst_upload_e2e.moc"
