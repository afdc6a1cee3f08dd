#include "api/phonerecord.h"

#include <QtTest>

// Phone list answers into records: what counts as a list, what does not.
class TestPhoneRecord : public QObject
{
    Q_OBJECT

private slots:
    void parseList_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("serverSns");
        const int found = int(PhoneRecord::ListParse::Found);
        const int notJson = int(PhoneRecord::ListParse::NotJson);
        const int noList = int(PhoneRecord::ListParse::NoList);
        QTest::newRow("two phones") << QByteArray(R"({"code":200,"data":[{"server_sn":"A","sid":3},{"server_sn":"B"}]})")
                                    << found << QStringList{"A", "B"};
        QTest::newRow("empty list") << QByteArray(R"({"code":200,"data":[]})") << found << QStringList();
        QTest::newRow("not JSON") << QByteArray("not json") << notJson << QStringList();
        QTest::newRow("cut short") << QByteArray(R"({"code":200,"data":[{"server_sn":"A"})") << notJson << QStringList();
        QTest::newRow("data an object") << QByteArray(R"({"code":200,"data":{}})") << noList << QStringList();
        QTest::newRow("no data") << QByteArray(R"({"code":200})") << noList << QStringList();
        QTest::newRow("top level array") << QByteArray(R"([{"server_sn":"A"}])") << noList << QStringList();
    }

    void parseList()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, result);
        QFETCH(QStringList, serverSns);
        QVector<PhoneRecord> records{PhoneRecord{}};
        QCOMPARE(int(PhoneRecord::parseList(answer, &records)), result);
        QStringList got;
        for (const PhoneRecord &record : records)
            got << record.serverSn;
        QCOMPARE(got, serverSns);
    }
};

QTEST_GUILESS_MAIN(TestPhoneRecord)
#include "tst_phonerecord.moc"
