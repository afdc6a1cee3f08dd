#include "api/curlhttphelper.h"
#include "app/logdestination.h"
#include "app/logger.h"
#include "tests/support/tempsettings.h"
#include "tests/upload/uploadtesthelpers.h"
#include "upload/uploadconfigfile.h"
#include "upload/uploadfileworker.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

using TestSupport::LocalCloud;

namespace {

QMutex g_logMutex;
QString g_log;

void captureLog(const QString &message, int)
{
    QMutexLocker lock(&g_logMutex);
    g_log += message + QLatin1Char('\n');
}

} // namespace

// The console operations, the upload worker and the configuration push
// against a real local cloud over TLS.
class TestUploadConsole final : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        QStringList texts;
        int maxProgress = 0;
        qint64 elapsedMs = 0;
    };

    // One job on a worker thread, as a row would run it; waits for the end.
    Run runWorker(const QString &path, const QString &serverSn, bool install)
    {
        QThread thread;
        auto *worker = new UploadFileWorker;
        worker->moveToThread(&thread);
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
        Run run;
        QEventLoop loop;
        connect(worker, &UploadFileWorker::processResult, &loop, [&](const QString &text, int value) {
            run.texts.append(text);
            if (value == 1)
                loop.quit();
        });
        connect(worker, &UploadFileWorker::uploadProgress, &loop,
                [&](int percent) { run.maxProgress = qMax(run.maxProgress, percent); });
        QElapsedTimer clock;
        clock.start();
        const QFileInfo info(path);
        QMetaObject::invokeMethod(worker, [=] {
            worker->DoUploadFile(info.fileName(), path, info.size(), serverSn, QString(), install, nullptr);
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
        run.elapsedMs = clock.elapsed();
        thread.quit();
        thread.wait();
        return run;
    }

    QString file(const QString &name, qint64 size, QString *md5 = nullptr)
    {
        const QString path = m_files.path() + QLatin1Char('/') + name;
        const QString digest = UploadTest::writeRandomFile(path, size);
        if (md5)
            *md5 = digest;
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        Logging::Logger::instance().addDestination(Logging::DestinationFactory::makeFunctorDestination(&captureLog));
        Logging::Logger::instance().setLevel(Logging::TraceLevel);
        m_cloud = std::make_unique<LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        UploadTest::useCloud(*m_cloud);
        QVERIFY(UploadTest::signInDemo(*m_cloud));
        m_phoneA = m_cloud->addPhone(LocalCloud::demoPhone(), QStringLiteral("A机")).value(QStringLiteral("server_sn")).toString();
        m_phoneB = m_cloud->addPhone(LocalCloud::demoPhone(), QStringLiteral("B机")).value(QStringLiteral("server_sn")).toString();
        m_foreignPhone = m_cloud->addPhone(QStringLiteral("13900000000"), QStringLiteral("别人的"))
                             .value(QStringLiteral("server_sn"))
                             .toString();
        QVERIFY(!m_phoneA.isEmpty() && !m_phoneB.isEmpty() && !m_foreignPhone.isEmpty());
        QVERIFY(Utils::instance()->fetchStsCredentials());
    }

    void init()
    {
        m_cloud->clearStoreFaults();
    }

    void digestOfFiles()
    {
        QCOMPARE(Utils::instance()->fileMd5(file(QStringLiteral("empty.bin"), 0)),
                 QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
        QString md5;
        const QString path = file(QStringLiteral("odd.bin"), 3 * 1024 * 1024 + 17, &md5);
        QCOMPARE(Utils::instance()->fileMd5(path), md5);
        QCOMPARE(Utils::instance()->fileMd5(m_files.path() + QStringLiteral("/missing")), QString());
    }

    void credentialsNameTheUsersPath()
    {
        const StsCredentials sts = Utils::instance()->stsCredentials();
        QVERIFY(Utils::instance()->hasStsCredentials());
        QCOMPARE(sts.endpoint, m_cloud->objectStoreEndpoint());
        QVERIFY(sts.bucketPath.startsWith(QLatin1String("users/")));
    }

    // Upload, register, look up, push and install: the phone shows the file
    // and the app; a second registration of the name gives the same uid.
    void fullRoadOfOneFile()
    {
        Utils *utils = Utils::instance();
        QString md5;
        const QString path = file(QStringLiteral("road.apk"), 1024 * 1024, &md5);
        const QString url = utils->uploadToObjectStore(QStringLiteral("road.apk"), path, nullptr);
        const StsCredentials sts = utils->stsCredentials();
        QCOMPARE(url, QStringLiteral("%1/%2/%3/road.apk").arg(sts.endpoint, sts.bucket, sts.bucketPath));
        const QString uid = utils->createConsoleFile(QStringLiteral("road.apk"), QFileInfo(path).size(), md5, url);
        QVERIFY(!uid.isEmpty());
        QCOMPARE(utils->createConsoleFile(QStringLiteral("road.apk"), QFileInfo(path).size(), md5, url), uid);
        QCOMPARE(utils->findConsoleFileUid(QStringLiteral("road.apk")), uid);
        QCOMPARE(utils->findConsoleFileUid(QStringLiteral("nothing.apk")), QString());

        QVERIFY(utils->commitFilePush(QStringLiteral("road.apk"), uid, md5, m_phoneA, QString(), false));
        QCOMPARE(UploadTest::phoneFile(*m_cloud, m_phoneA, QStringLiteral("/storage/emulated/0/Download/road.apk"))
                     .value(QStringLiteral("md5"))
                     .toString(),
                 md5);
        QVERIFY(utils->commitAppInstall(QStringLiteral("road.apk"), uid, md5, m_phoneA, QString()));
        QVERIFY(UploadTest::hasApp(*m_cloud, m_phoneA, QStringLiteral("road")));
        const QJsonObject task = m_cloud->consoleTasks().first().toObject();
        QCOMPARE(task.value(QStringLiteral("scriptCode")).toString(), QStringLiteral("appInstall"));
        QCOMPARE(task.value(QStringLiteral("outcome")).toString(), QStringLiteral("done"));

        // Refusals: another user's phone, a digest that does not match, an
        // URL that names nothing stored.
        QVERIFY(!utils->commitFilePush(QStringLiteral("road.apk"), uid, md5, m_foreignPhone, QString(), false));
        QVERIFY(!utils->commitFilePush(QStringLiteral("road.apk"), uid, QString(32, QLatin1Char('0')), m_phoneA,
                                       QString(), false));
        QCOMPARE(utils->createConsoleFile(QStringLiteral("ghost.apk"), 1, md5, url + QStringLiteral("x")), QString());
        QCOMPARE(m_cloud->consoleTasks().first().toObject().value(QStringLiteral("outcome")).toString(),
                 QStringLiteral("refused"));
    }

    // Names with form syntax and Chinese register as typed.
    void namesRegisterAsTyped()
    {
        Utils *utils = Utils::instance();
        const QString name = QStringLiteral("a&b=c+d 测试.txt");
        QString md5;
        const QString path = file(name, 1000, &md5);
        const QString url = utils->uploadToObjectStore(name, path, nullptr);
        QVERIFY(!url.isEmpty());
        const QString uid = utils->createConsoleFile(name, 1000, md5, url);
        QVERIFY(!uid.isEmpty());
        QCOMPARE(m_cloud->consoleFiles().first().toObject().value(QStringLiteral("name")).toString(), name);
        QCOMPARE(utils->findConsoleFileUid(name), uid);
    }

    // The authority of another local cloud is not ours: refused, and the
    // right one is accepted through the same helper.
    void foreignAuthorityRefused()
    {
        LocalCloud other({QStringLiteral("--seed"), QStringLiteral("empty")});
        QVERIFY2(other.isReady(), qPrintable(other.errorString()));
        QByteArray answer;
        const int refused = CurlHttpHelper().getBearer(
            (other.consoleBase() + QStringLiteral("/console/file/bosStsToken?groupCode=o_mervane")).toUtf8(), answer,
            "x");
        QCOMPARE(refused, 60); // CURLE_PEER_FAILED_VERIFICATION
        QVERIFY(answer.isEmpty());
        answer.clear();
        QCOMPARE(CurlHttpHelper().getBearer(
                     (m_cloud->consoleBase() + QStringLiteral("/console/file/bosStsToken?groupCode=o_mervane")).toUtf8(),
                     answer, "x"),
                 0);
        QVERIFY(answer.contains("\"httpStatus\":401"));
    }

    void workerOutcomes_data()
    {
        QTest::addColumn<QJsonObject>("fault");
        QTest::addColumn<bool>("expireCredentials");
        QTest::addColumn<QString>("text");
        QTest::newRow("clean") << QJsonObject() << false << QStringLiteral("上传成功");
        QTest::newRow("503 then 200") << QJsonObject{{QStringLiteral("kind"), QStringLiteral("error")},
                                                     {QStringLiteral("status"), 503}}
                                      << false << QStringLiteral("上传成功");
        QTest::newRow("expired credentials, then fresh ones") << QJsonObject() << true << QStringLiteral("上传成功");
        // One attempt cut: the put sends the body again and the job ends well.
        QTest::newRow("cut once") << QJsonObject{{QStringLiteral("kind"), QStringLiteral("cut")},
                                                 {QStringLiteral("count"), 1}}
                                  << false << QStringLiteral("上传成功");
        // Every attempt of every round cut: the bounded rounds end it.
        QTest::newRow("cut transfer") << QJsonObject{{QStringLiteral("kind"), QStringLiteral("cut")},
                                                     {QStringLiteral("count"), 100}}
                                      << false << QStringLiteral("上传bos失败");
    }

    void workerOutcomes()
    {
        QFETCH(QJsonObject, fault);
        QFETCH(bool, expireCredentials);
        QFETCH(QString, text);
        const QString name = QStringLiteral("w-%1.bin").arg(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
        QString md5;
        const QString path = file(name, 2 * 1024 * 1024, &md5);
        if (!fault.isEmpty())
            QVERIFY(m_cloud->addStoreFault(fault));
        if (expireCredentials)
            QVERIFY(m_cloud->expireConsoleCredentials(LocalCloud::demoPhone()) > 0);
        const Run run = runWorker(path, m_phoneB, false);
        QCOMPARE(run.texts.first(), QStringLiteral("上传中"));
        QCOMPARE(run.texts.last(), text);
        const QJsonObject onPhone =
            UploadTest::phoneFile(*m_cloud, m_phoneB, QStringLiteral("/storage/emulated/0/Download/") + name);
        if (text == QStringLiteral("上传成功"))
            QCOMPARE(onPhone.value(QStringLiteral("md5")).toString(), md5);
        else
            QVERIFY(onPhone.isEmpty());
        m_cloud->clearStoreFaults();
    }

    // A name the console knows: nothing is uploaded, the existing uid is
    // pushed, the bar never moves.
    void knownNameIsNotUploaded()
    {
        const QString path = m_files.path() + QStringLiteral("/w-clean.bin");
        const int requestsBefore = m_cloud->storeRequests().size();
        const int objectsBefore = m_cloud->storedObjects().size();
        const int filesBefore = m_cloud->consoleFiles().size();
        const QString knownUid = Utils::instance()->findConsoleFileUid(QStringLiteral("w-clean.bin"));
        QVERIFY(!knownUid.isEmpty());
        const Run run = runWorker(path, m_phoneA, false);
        QCOMPARE(run.texts.last(), QStringLiteral("上传成功"));
        QCOMPARE(run.maxProgress, 0);
        QCOMPARE(m_cloud->storeRequests().size(), requestsBefore);
        QCOMPARE(m_cloud->storedObjects().size(), objectsBefore);
        QCOMPARE(m_cloud->consoleFiles().size(), filesBefore);
        QCOMPARE(m_cloud->consoleTasks().first().toObject().value(QStringLiteral("fileUid")).toString(), knownUid);
        QVERIFY(!UploadTest::phoneFile(*m_cloud, m_phoneA, QStringLiteral("/storage/emulated/0/Download/w-clean.bin")).isEmpty());
    }

    void consoleRefusingEverything()
    {
        const QString saved = AppEvent::instance()->consoleToken();
        AppEvent::instance()->setConsoleToken(QStringLiteral("not-a-token"));
        const Run run = runWorker(file(QStringLiteral("refused.bin"), 4096), m_phoneA, false);
        AppEvent::instance()->setConsoleToken(saved);
        QCOMPARE(run.texts.last(), QStringLiteral("创建虚拟文件失败"));
    }

    // Cancel during a slow transfer: no result, nothing registered, the
    // thread ends at once.
    void cancelStopsTheJob()
    {
        const QString path = file(QStringLiteral("slow.bin"), 64 * 1024 * 1024);
        QVERIFY(m_cloud->addStoreFault(QJsonObject{{QStringLiteral("kind"), QStringLiteral("slow")},
                                                   {QStringLiteral("bytesPerSecond"), 4 * 1024 * 1024}}));
        const int filesBefore = m_cloud->consoleFiles().size();
        QThread thread;
        auto *worker = new UploadFileWorker;
        worker->moveToThread(&thread);
        thread.start();
        QSignalSpy results(worker, &UploadFileWorker::processResult);
        QSignalSpy progress(worker, &UploadFileWorker::uploadProgress);
        const QFileInfo info(path);
        QMetaObject::invokeMethod(worker, [=] {
            worker->DoUploadFile(info.fileName(), path, info.size(), m_phoneA, QString(), false, nullptr);
        });
        QTRY_VERIFY_WITH_TIMEOUT(progress.count() > 0, 30000);
        worker->cancel();
        QElapsedTimer clock;
        clock.start();
        thread.quit();
        QVERIFY(thread.wait(5000));
        qInfo("thread ended %lld ms after the cancel", clock.elapsed());
        QCOMPARE(results.count(), 1); // only "上传中"
        QCOMPARE(m_cloud->consoleFiles().size(), filesBefore);
        QVERIFY(UploadTest::phoneFile(*m_cloud, m_phoneA, QStringLiteral("/storage/emulated/0/Download/slow.bin")).isEmpty());
        delete worker;
    }

    // Two phones entered back to back: each gets d.txt with its own line.
    void configPushPerPhone()
    {
        AppEvent::instance()->setUserName(QStringLiteral("用户甲"));
        QDir().mkpath(QFileInfo(uploadConfigFile::configFilePath()).absolutePath());
        uploadConfigFile pusher;
        const qint64 from = QDateTime::currentMSecsSinceEpoch();
        pusher.pushConfig(m_phoneA, 11, 21, QStringLiteral("idcA"), QStringLiteral("OA"), 7);
        pusher.pushConfig(m_phoneB, 12, 22, QStringLiteral("idcB"), QStringLiteral("OB"), 8);
        const qint64 to = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(uploadConfigFile::waitForPushes(60000));
        struct Expect
        {
            QString sn;
            int sid, idc;
            QString idcSn, order;
            int serid;
        };
        for (const Expect &e : {Expect{m_phoneA, 11, 21, QStringLiteral("idcA"), QStringLiteral("OA"), 7},
                                Expect{m_phoneB, 12, 22, QStringLiteral("idcB"), QStringLiteral("OB"), 8}}) {
            const QString md5 = UploadTest::phoneFile(*m_cloud, e.sn, QStringLiteral("/storage/emulated/0/d.txt"))
                                    .value(QStringLiteral("md5"))
                                    .toString();
            QVERIFY2(!md5.isEmpty(), qPrintable(e.sn));
            bool found = false;
            for (qint64 ms = from; ms <= to && !found; ++ms) {
                const QString line = uploadConfigFile::configLine(QStringLiteral("用户甲"), e.sn, e.sid, e.idc,
                                                                  e.idcSn, e.order, e.serid, ms);
                found = QCryptographicHash::hash(line.toUtf8(), QCryptographicHash::Md5).toHex() == md5.toLatin1();
            }
            QVERIFY2(found, qPrintable(e.sn + QStringLiteral(" holds another line")));
        }
        const QString line = uploadConfigFile::configLine(QStringLiteral("u"), QStringLiteral("S"), 1, 2,
                                                          QStringLiteral("I"), QStringLiteral("O"), 7, 99);
        QCOMPARE(line.split(QLatin1Char(',')).size(), 12);
        QCOMPARE(line.split(QLatin1Char(',')).at(10), QStringLiteral("O_7"));
    }

    // Secrets of the credentials never reach the log file.
    void secretsStayOutOfTheLog()
    {
        const StsCredentials sts = Utils::instance()->stsCredentials();
        QMutexLocker lock(&g_logMutex);
        const QString all = g_log;
        QVERIFY(all.contains(sts.accessKeyId)); // the key id is no secret
        QVERIFY(!sts.secretAccessKey.isEmpty());
        QVERIFY(!all.contains(sts.secretAccessKey));
        QVERIFY(!all.contains(sts.sessionToken));
    }

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<LocalCloud> m_cloud;
    QTemporaryDir m_files;
    QString m_phoneA;
    QString m_phoneB;
    QString m_foreignPhone;
};

QTEST_MAIN(TestUploadConsole)
#include "tst_upload_console.moc"
