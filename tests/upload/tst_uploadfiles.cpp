#include "resources/tarvixresources.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "tests/upload/uploadtesthelpers.h"
#include "upload/uploadblocks.h"
#include "upload/uploadfiles.h"
#include "widgets/toast.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <memory>

using TestSupport::LocalCloud;

// The upload window against a real local cloud: cards, rows in order, one
// job at a time, history, cancel, and what lands on the phones.
class TestUploadFiles final : public QObject
{
    Q_OBJECT

private:
    QString file(const QString &name, qint64 size, QString *md5 = nullptr)
    {
        const QString path = m_files.path() + QLatin1Char('/') + name;
        const QString digest = UploadTest::writeRandomFile(path, size);
        if (md5)
            *md5 = digest;
        return path;
    }

    UploadFiles *window() { return UploadFiles::instance(); }

    bool idle() { return window()->uploadingRows().isEmpty(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        initTarvixResources();
        m_cloud = std::make_unique<LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        UploadTest::useCloud(*m_cloud);
        QVERIFY(UploadTest::signInDemo(*m_cloud));
        m_phoneA = m_cloud->addPhone(LocalCloud::demoPhone(), QStringLiteral("A机")).value(QStringLiteral("server_sn")).toString();
        m_phoneB = m_cloud->addPhone(LocalCloud::demoPhone(), QStringLiteral("B机")).value(QStringLiteral("server_sn")).toString();
        window()->show();
        // The window fetches its parameters 20 ms after it is made.
        QTRY_VERIFY_WITH_TIMEOUT(Utils::instance()->hasStsCredentials(), 10000);
    }

    void badNamesWarnOncePerSelection()
    {
        window()->addFiles({file(QStringLiteral("测试.apk"), 100), file(QStringLiteral("b c.txt"), 100)});
        QCOMPARE(window()->fileCards().size(), 2);
        QVERIFY(Toast::instance()->window()->isVisible());
        QCOMPARE(Toast::instance()->window()->text(),
                 QStringLiteral("存在上传文件名不符合要求，会造成上传失败，请修改相关文件名"));
        // The same name again is no second card.
        window()->addFiles({file(QStringLiteral("测试.apk"), 100)});
        QCOMPARE(window()->fileCards().size(), 2);
        QCOMPARE(window()->summaryText(), QStringLiteral("总2项,共计0.00MB"));
        for (uploadFileBlock *card : window()->fileCards())
            emit card->clicked(card->fileName());
        QCOMPARE(window()->fileCards().size(), 0);
        QVERIFY(!window()->findChild<QPushButton *>(QStringLiteral("uploadButton"))->isEnabled());
    }

    // Two phones, two files: four rows by phone name then card order, one
    // running at a time; the history shows them newest first and both
    // phones hold both files.
    void twoFilesForTwoPhones()
    {
        QString md5One, md5Two;
        const QString one = file(QStringLiteral("one.bin"), 24 * 1024 * 1024, &md5One);
        const QString two = file(QStringLiteral("two.apk"), 1024 * 1024, &md5Two);
        window()->setTargets({{QStringLiteral("B机"), m_phoneB}, {QStringLiteral("A机"), m_phoneA}});
        window()->addFiles({one, two});
        QTest::qWait(50); // cards show once the event loop has run
        TestSupport::grabWidget(window(), QStringLiteral("upload-add-page"));
        window()->findChild<QPushButton *>(QStringLiteral("uploadButton"))->click();
        QCOMPARE(window()->currentPage(), 1);
        QCOMPARE(window()->fileCards().size(), 0);
        const QList<uploadingBlock *> rows = window()->uploadingRows();
        QCOMPARE(rows.size(), 4);
        const QStringList order{rows[0]->machineName() + rows[0]->fileInfo().fileName(),
                                rows[1]->machineName() + rows[1]->fileInfo().fileName(),
                                rows[2]->machineName() + rows[2]->fileInfo().fileName(),
                                rows[3]->machineName() + rows[3]->fileInfo().fileName()};
        QCOMPARE(order, (QStringList{QStringLiteral("A机one.bin"), QStringLiteral("A机two.apk"),
                                     QStringLiteral("B机one.bin"), QStringLiteral("B机two.apk")}));
        bool screenshotTaken = false;
        int maxRunning = 0;
        QElapsedTimer clock;
        clock.start();
        while (!idle() && clock.elapsed() < 120000) {
            int running = 0;
            for (uploadingBlock *row : window()->uploadingRows()) {
                if (row->state() == uploadingBlock::Running)
                    ++running;
                if (!screenshotTaken && row->progress() > 0) {
                    TestSupport::grabWidget(window(), QStringLiteral("upload-running"));
                    screenshotTaken = true;
                }
            }
            maxRunning = qMax(maxRunning, running);
            QTest::qWait(20);
        }
        QVERIFY(idle());
        QCOMPARE(maxRunning, 1);
        const QList<uploadHistory *> history = window()->historyRows();
        QVERIFY(history.size() >= 4);
        // Newest on top: the last row that ran is first.
        QCOMPARE(history[0]->nameText() + history[0]->machineText(), QStringLiteral("two.apkB机"));
        QCOMPARE(history[3]->nameText() + history[3]->machineText(), QStringLiteral("one.binA机"));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(history[i]->stateText(), QStringLiteral("上传成功"));
        window()->showPage(2);
        QTest::qWait(50);
        TestSupport::grabWidget(window(), QStringLiteral("upload-history"));
        for (const QString &sn : {m_phoneA, m_phoneB}) {
            QCOMPARE(UploadTest::phoneFile(*m_cloud, sn, QStringLiteral("/storage/emulated/0/Download/one.bin"))
                         .value(QStringLiteral("md5")).toString(), md5One);
            QCOMPARE(UploadTest::phoneFile(*m_cloud, sn, QStringLiteral("/storage/emulated/0/Download/two.apk"))
                         .value(QStringLiteral("md5")).toString(), md5Two);
        }
    }

    void installAddsTheApp()
    {
        window()->setTargets({{QStringLiteral("A机"), m_phoneA}});
        window()->addFiles({file(QStringLiteral("game.apk"), 300 * 1024)});
        window()->findChild<QPushButton *>(QStringLiteral("uploadInstallButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 60000);
        QCOMPARE(window()->historyRows().first()->stateText(), QStringLiteral("上传并安装成功"));
        QVERIFY(UploadTest::hasApp(*m_cloud, m_phoneA, QStringLiteral("game")));
    }

    // Cancel the running row of a slow transfer: "取消上传" at once, the
    // next row starts, nothing of the cancelled file is registered.
    void cancelRunningRow()
    {
        QVERIFY(m_cloud->addStoreFault(QJsonObject{{QStringLiteral("kind"), QStringLiteral("slow")},
                                                   {QStringLiteral("bytesPerSecond"), 2 * 1024 * 1024}}));
        window()->setTargets({{QStringLiteral("A机"), m_phoneA}});
        window()->addFiles({file(QStringLiteral("big.bin"), 64 * 1024 * 1024), file(QStringLiteral("small.txt"), 10)});
        window()->findChild<QPushButton *>(QStringLiteral("uploadButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window()->uploadingRows().isEmpty()
                                     && window()->uploadingRows().first()->progress() > 0,
                                 30000);
        uploadingBlock *running = window()->uploadingRows().first();
        QCOMPARE(running->fileInfo().fileName(), QStringLiteral("big.bin"));
        running->findChild<QPushButton *>(QStringLiteral("cancelFile"))->click();
        // Moved to the history by the click itself.
        QCOMPARE(window()->historyRows().first()->stateText(), QStringLiteral("取消上传"));
        QCOMPARE(window()->historyRows().first()->nameText(), QStringLiteral("big.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
        QCOMPARE(window()->historyRows().first()->nameText(), QStringLiteral("small.txt"));
        QCOMPARE(window()->historyRows().first()->stateText(), QStringLiteral("上传成功"));
        for (const QJsonValue &f : m_cloud->consoleFiles())
            QVERIFY(f.toObject().value(QStringLiteral("name")).toString() != QLatin1String("big.bin"));
        m_cloud->clearStoreFaults();
    }

    // Files dropped on the add page become cards; elsewhere they are refused.
    void dropOnAddPage()
    {
        window()->showPage(0);
        const QString path = file(QStringLiteral("dropped.txt"), 10);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window(), &drop);
        QCOMPARE(window()->fileCards().size(), 1);
        QCOMPARE(window()->fileCards().first()->filePath(), path);
        TestSupport::grabWidget(window(), QStringLiteral("upload-dropped"));
        for (uploadFileBlock *card : window()->fileCards())
            emit card->clicked(card->fileName());
    }

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<LocalCloud> m_cloud;
    QTemporaryDir m_files;
    QString m_phoneA;
    QString m_phoneB;
};

QTEST_MAIN(TestUploadFiles)
#include "tst_uploadfiles.moc"
