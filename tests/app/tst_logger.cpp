#include "app/logdestination.h"
#include "app/logger.h"
#include "app/logrotation.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

QStringList captured;

void capture(const QString &message, int)
{
    captured << message;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Runs f with stderr sent to a file and returns what it printed.
template<typename F>
QByteArray stderrOf(F f)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stderr"));
    fflush(stderr);
    const int saved = dup(2);
    const int fd = open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
    f();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    return readAll(path);
}

int sideEffects = 0;
int touch()
{
    return ++sideEffects;
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Logging::Logger::instance().addDestination(Logging::DestinationFactory::makeFunctorDestination(&capture));
    }

    void init()
    {
        captured.clear();
        Logging::Logger::instance().setLevel(Logging::TraceLevel);
    }

    void levelTexts_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("text");
        QTest::newRow("trace") << 0 << "TRACE";
        QTest::newRow("debug") << 1 << "DEBUG";
        QTest::newRow("info") << 2 << "INFO ";
        QTest::newRow("warn") << 3 << "WARN ";
        QTest::newRow("error") << 4 << "ERROR";
        QTest::newRow("fatal") << 5 << "FATAL";
        QTest::newRow("off") << 6 << "";
        QTest::newRow("unknown") << 42 << "INFO ";
    }
    void levelTexts()
    {
        QFETCH(int, level);
        QFETCH(QString, text);
        QCOMPARE(Logging::levelText(level), text);
    }

    void lineFormat()
    {
        LOG_INFO() << "welcome to cloud phone";
        LOG_DEBUG() << "name" << QStringLiteral("电话 \"x\"") << 42;
        QCOMPARE(captured.size(), 2);
        const QRegularExpression info(
            QStringLiteral("^INFO  \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} welcome to cloud phone $"));
        QVERIFY2(info.match(captured[0]).hasMatch(), qPrintable(captured[0]));
        // Character strings as they are, QString quoted and escaped, numbers in decimal.
        QVERIFY2(captured[1].endsWith(QStringLiteral(" name \"电话 \\\"x\\\"\" 42 ")), qPrintable(captured[1]));
        QVERIFY(captured[1].startsWith(QStringLiteral("DEBUG ")));
    }

    void filteredStatementEvaluatesNothing()
    {
        Logging::Logger::instance().setLevel(Logging::InfoLevel);
        sideEffects = 0;
        LOG_DEBUG() << touch();
        LOG_TRACE() << touch();
        QCOMPARE(sideEffects, 0);
        QVERIFY(captured.isEmpty());
        LOG_WARN() << touch();
        QCOMPARE(sideEffects, 1);
        QCOMPARE(captured.size(), 1);
    }

    void exactLimitDoesNotRotate()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("2024-01-31.txt"));
        writeFile(log, QByteArray(10485760, 'a'));
        auto dest = Logging::DestinationFactory::makeFileDestination(log, Logging::EnableLogRotation, 10485760, 5);
        QVERIFY(dest->isValid());

        dest->write(QString(), Logging::InfoLevel); // counted size stays at the limit
        QVERIFY(!QFile::exists(log + QStringLiteral(".1")));

        dest->write(QStringLiteral("x"), Logging::InfoLevel);
        QVERIFY(QFile::exists(log + QStringLiteral(".1")));
        QCOMPARE(QFileInfo(log + QStringLiteral(".1")).size(), qint64(10485761));
        // The line that crossed the limit opens the new file.
        QCOMPARE(readAll(log), QByteArray("x\n"));
    }

    void appendsToAnEarlierFile()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("day.txt"));
        writeFile(log, "earlier\n");
        {
            auto dest = Logging::DestinationFactory::makeFileDestination(log, Logging::EnableLogRotation, 1000, 5);
            dest->write(QStringLiteral("later"), Logging::InfoLevel);
        }
        QCOMPARE(readAll(log), QByteArray("earlier\nlater\n"));
    }

    void rotationShiftsBackups_data()
    {
        QTest::addColumn<QStringList>("present"); // backups present before, by number
        QTest::addColumn<QStringList>("after");   // contents of .1 … .5 after, "-" for missing
        QTest::newRow("five present: oldest dropped")
            << QStringList{"1", "2", "3", "4", "5"} << QStringList{"log", "1", "2", "3", "4"};
        QTest::newRow("gap after 1: only 1 moves")
            << QStringList{"1", "", "3", "", ""} << QStringList{"log", "1", "3", "-", "-"};
        QTest::newRow("none present") << QStringList{"", "", "", "", ""} << QStringList{"log", "-", "-", "-", "-"};
    }
    void rotationShiftsBackups()
    {
        QFETCH(QStringList, present);
        QFETCH(QStringList, after);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("day.txt"));
        writeFile(log, "log");
        for (int k = 1; k <= present.size(); ++k)
            if (!present[k - 1].isEmpty())
                writeFile(log + QLatin1Char('.') + QString::number(k), present[k - 1].toUtf8());

        Logging::SizeRotationStrategy rotation;
        rotation.setBackupCount(5);
        QFile file(log);
        rotation.setFile(file);
        rotation.rotate();

        QVERIFY(!QFile::exists(log));
        QVERIFY(!QFile::exists(log + QStringLiteral(".6")));
        for (int k = 1; k <= after.size(); ++k) {
            const QString name = log + QLatin1Char('.') + QString::number(k);
            if (after[k - 1] == QLatin1String("-"))
                QVERIFY2(!QFile::exists(name), qPrintable(name));
            else
                QCOMPARE(readAll(name), after[k - 1].toUtf8());
        }
    }

    void backupCountIsCapped()
    {
        Logging::SizeRotationStrategy rotation;
        rotation.setBackupCount(25);
        QCOMPARE(rotation.backupCount(), 10);
    }

    void zeroBackupsDeletesTheLog()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("day.txt"));
        writeFile(log, "0123456789");
        auto dest = Logging::DestinationFactory::makeFileDestination(log, Logging::EnableLogRotation, 5, 0);
        dest->write(QStringLiteral("new"), Logging::InfoLevel);
        QCOMPARE(readAll(log), QByteArray("new\n"));
        QVERIFY(!QFile::exists(log + QStringLiteral(".1")));
    }

    void unopenableFileIsReported()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("no/such/folder/day.txt"));
        Logging::DestinationPtr dest;
        const QByteArray err = stderrOf([&] {
            dest = Logging::DestinationFactory::makeFileDestination(path, Logging::EnableLogRotation, 100, 5);
            dest->write(QStringLiteral("lost"), Logging::InfoLevel);
        });
        QVERIFY(!dest->isValid());
        QVERIFY2(err.startsWith("Log: could not open log file " + QFile::encodeName(path)), err.constData());
        QVERIFY(!err.endsWith('\n'));
    }

    // Said once, never written to (no warnings per line, no rotation of a
    // file that is not there), and the logger's other destinations go on.
    void unopenableFileIsSaidOnceAndTheOthersGoOn()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("no/such/folder/day.txt"));
        const QByteArray err = stderrOf([&] {
            Logging::Logger::instance().addDestination(
                Logging::DestinationFactory::makeFileDestination(path, Logging::EnableLogRotation, 10, 5));
            for (int i = 0; i < 5; ++i)
                LOG_INFO() << "line" << i;
        });
        QCOMPARE(err, "Log: could not open log file " + QFile::encodeName(path));
        QCOMPARE(captured.size(), 5);
        QVERIFY(captured.last().endsWith(QStringLiteral("line 4 ")));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!QFile::exists(path + QStringLiteral(".1")));
    }

    void nullRotationTruncates()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("plain.txt"));
        writeFile(log, "old content\n");
        {
            auto dest = Logging::DestinationFactory::makeFileDestination(log);
            dest->write(QStringLiteral("fresh"), Logging::InfoLevel);
        }
        QCOMPARE(readAll(log), QByteArray("fresh\n"));
    }

    void functorSignalSkipsTrace()
    {
        Logging::FunctorDestination dest(static_cast<Logging::LogFunction>(nullptr));
        QSignalSpy spy(&dest, &Logging::FunctorDestination::logMessageReady);
        dest.write(QStringLiteral("t"), Logging::TraceLevel);
        dest.write(QStringLiteral("d"), Logging::DebugLevel);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("d"));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
