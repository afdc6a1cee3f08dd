#include "app/crashhandler.h"

#include <QDateTime>
#include <cstring>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

class TestCrashHandler : public QObject
{
    Q_OBJECT

private slots:
    void fileName_data()
    {
        QTest::addColumn<QList<int>>("fields");
        QTest::addColumn<int>("bufferSize");
        QTest::addColumn<QString>("name");
        QTest::newRow("padded") << QList<int>{2024, 1, 31, 23, 59, 59} << 64
                                << QStringLiteral("DumpFile-20240131-235959.dmp");
        QTest::newRow("all zero padded") << QList<int>{999, 1, 2, 3, 4, 5} << 64
                                         << QStringLiteral("DumpFile-09990102-030405.dmp");
        QTest::newRow("midnight") << QList<int>{2026, 12, 10, 0, 0, 0} << 64
                                  << QStringLiteral("DumpFile-20261210-000000.dmp");
        QTest::newRow("cut to the buffer") << QList<int>{2024, 1, 31, 23, 59, 59} << 13
                                           << QStringLiteral("DumpFile-202");
    }
    void fileName()
    {
        QFETCH(QList<int>, fields);
        QFETCH(int, bufferSize);
        QFETCH(QString, name);
        char buffer[80];
        std::memset(buffer, 'x', sizeof buffer);
        crashDumpFileName(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], buffer, bufferSize);
        QCOMPARE(QString::fromLatin1(buffer), name);
        QCOMPARE(buffer[bufferSize], 'x');
    }

    // A real crash in a process of its own: the report lands in the working
    // directory, named after the local time of the crash in the process's
    // own time zone, also when the stack itself ran out.
    void crashWritesAReport_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("zone");
        QTest::newRow("stack overflow") << QStringLiteral("overflow") << QStringLiteral("Asia/Shanghai");
        QTest::newRow("null pointer") << QStringLiteral("segv") << QStringLiteral("America/New_York");
        QTest::newRow("stack overflow, UTC") << QStringLiteral("overflow") << QStringLiteral("UTC");
    }
    void crashWritesAReport()
    {
        QFETCH(QString, how);
        QFETCH(QString, zone);
        QTemporaryDir dir;
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), zone);
        helper.setProcessEnvironment(env);
        helper.setWorkingDirectory(dir.path());
        const QTimeZone tz(zone.toLatin1());
        QVERIFY(tz.isValid());
        const QDateTime before = QDateTime::currentDateTime().toTimeZone(tz);
        helper.start(QStringLiteral(TARVIX_CRASH_HELPER), {how});
        QVERIFY(helper.waitForFinished(30000));
        const QDateTime after = QDateTime::currentDateTime().toTimeZone(tz);
        QCOMPARE(helper.exitStatus(), QProcess::CrashExit);

        const QStringList dumps = QDir(dir.path()).entryList({QStringLiteral("DumpFile-*.dmp")});
        QCOMPARE(dumps.size(), 1);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^DumpFile-(\\d{8}-\\d{6})\\.dmp$")).match(dumps[0]);
        QVERIFY2(m.hasMatch(), qPrintable(dumps[0]));
        const QString stamp = m.captured(1);
        const QString first = before.toString(QStringLiteral("yyyyMMdd-HHmmss"));
        const QString last = after.toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QVERIFY2(stamp >= first && stamp <= last, qPrintable(first + " <= " + stamp + " <= " + last));

        QFile dump(dir.filePath(dumps[0]));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        const QByteArray report = dump.readAll();
        QVERIFY2(report.contains("signal: 11 (SIGSEGV"), report.left(200).constData());
        QVERIFY(report.contains("backtrace:"));
        QVERIFY(report.contains("memory map:"));
        QVERIFY(report.contains("[stack]"));
    }
};

QTEST_GUILESS_MAIN(TestCrashHandler)
#include "tst_crashhandler.moc"
