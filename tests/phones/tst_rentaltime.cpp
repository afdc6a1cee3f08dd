#include "api/phonerecord.h"
#include "phones/model/rentaltime.h"

#include <QtTest>

// The remaining time of a phone, from its record's texts.
class TestRentalTime : public QObject
{
    Q_OBJECT

private slots:
    void secondsUntil_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<bool>("invalid");
        QTest::newRow("a day ahead") << "2024-05-01 12:00:00" << "2024-05-02 12:00:00" << qint64(86400) << false;
        QTest::newRow("one second ahead") << "2024-05-01 12:00:00" << "2024-05-01 12:00:01" << qint64(1) << false;
        QTest::newRow("passed") << "2024-04-01 00:00:00" << "2024-05-01 11:00:00" << qint64(-3600) << false;
        QTest::newRow("end unreadable") << "2024-04-01 00:00:00" << "2024/05/02" << qint64(0) << true;
        QTest::newRow("end missing") << "2024-04-01 00:00:00" << "" << qint64(0) << true;
        // The start only takes part in the check.
        QTest::newRow("start unreadable") << "soon" << "2024-05-01 13:00:00" << qint64(3600) << true;
    }

    void secondsUntil()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(qint64, seconds);
        QFETCH(bool, invalid);
        const QDateTime now = QDateTime::fromString(QStringLiteral("2024-05-01 12:00:00"), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (invalid)
            QTest::ignoreMessage(QtDebugMsg, "Invalid datetime string");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Time elapsed: .*秒$")));
        QCOMPARE(RentalTime::secondsUntil(start, end, now), seconds);
    }

    void remainingText_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("text");
        QTest::newRow("days") << "2024-05-03 15:00:00" << QStringLiteral("剩余2天3小时");
        QTest::newRow("minutes") << "2024-05-01 12:59:59" << QStringLiteral("剩余59分钟");
        QTest::newRow("passed") << "2024-04-30 12:00:00" << QStringLiteral("即将到期");
        // Beyond what 32 bits of seconds hold: still days, never wrapped.
        QTest::newRow("far ahead") << "2199-05-01 12:00:00" << QStringLiteral("剩余24855天3小时");
    }

    void remainingText()
    {
        QFETCH(QString, end);
        QFETCH(QString, text);
        QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        PhoneRecord record;
        record.startTime = QStringLiteral("2024-01-01 00:00:00");
        record.endTime = end;
        const QDateTime now = QDateTime::fromString(QStringLiteral("2024-05-01 12:00:00"), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QString got = RentalTime::remainingText(record, now);
        qInstallMessageHandler(previous);
        QCOMPARE(got, text);
    }

    // Only a rental still running and ending within a day is flagged.
    void endsSoon_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<bool>("soon");
        QTest::newRow("40 minutes") << "2024-05-01 12:40:00" << true;
        QTest::newRow("exactly a day") << "2024-05-02 12:00:00" << true;
        QTest::newRow("a day and a second") << "2024-05-02 12:00:01" << false;
        QTest::newRow("ended") << "2024-05-01 11:59:59" << false;
        QTest::newRow("unreadable") << "tomorrow" << false;
    }

    void endsSoon()
    {
        QFETCH(QString, end);
        QFETCH(bool, soon);
        QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        PhoneRecord record;
        record.startTime = QStringLiteral("2024-01-01 00:00:00");
        record.endTime = end;
        const QDateTime now = QDateTime::fromString(QStringLiteral("2024-05-01 12:00:00"), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const bool got = RentalTime::endsSoon(record, now);
        qInstallMessageHandler(previous);
        QCOMPARE(got, soon);
    }
};

QTEST_GUILESS_MAIN(TestRentalTime)
#include "tst_rentaltime.moc"
