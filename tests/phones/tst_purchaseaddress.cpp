#include "phones/model/purchaseaddress.h"

#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

class TestPurchaseAddress : public QObject
{
    Q_OBJECT

private slots:
    void parametersInOrder_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("serverSn");
        QTest::addColumn<QString>("expected");
        const QString base = QStringLiteral("http://127.0.0.1:18080/pay?appkey=k1&channel_code=c_pc&phone=13800138000"
                                            "&token=0123456789abcdef");
        QTest::newRow("one digit") << 0 << QString() << base + QStringLiteral("&radom=0");
        QTest::newRow("two digits") << 59 << QString() << base + QStringLiteral("&radom=59");
        QTest::newRow("renewal last") << 7 << QStringLiteral("VS20240005")
                                      << base + QStringLiteral("&radom=7&server_sn=VS20240005");
    }

    void parametersInOrder()
    {
        QFETCH(int, seconds);
        QFETCH(QString, serverSn);
        QFETCH(QString, expected);
        QCOMPARE(PurchaseAddress::build(QStringLiteral("http://127.0.0.1:18080/pay"), QStringLiteral("k1"),
                                        QStringLiteral("c_pc"), QStringLiteral("13800138000"),
                                        QStringLiteral("0123456789abcdef"), seconds, serverSn),
                 expected);
    }

    // A value with "+", "&" or "#" stays one value, read back as given.
    void valuesArriveAsGiven()
    {
        const QString phone = QStringLiteral("+86 138&x=1#frag");
        const QString address = PurchaseAddress::build(QStringLiteral("http://h/pay"), QStringLiteral("k"),
                                                       QStringLiteral("c"), phone, QStringLiteral("t"), 5);
        const QUrlQuery query(QUrl::fromUserInput(address));
        QCOMPARE(query.queryItemValue(QStringLiteral("phone"), QUrl::FullyDecoded), phone);
        QCOMPARE(query.queryItems().size(), 5);
        QCOMPARE(query.queryItems().last().first, QStringLiteral("radom"));
    }

    void logLineShortensTheToken_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("logged");
        QTest::newRow("token") << "http://h/pay?appkey=k&token=0123456789abcdef&radom=3"
                               << "http://h/pay?appkey=k&token=0123***&radom=3";
        QTest::newRow("no token") << "http://h/pay?appkey=k&token=&radom=3" << "http://h/pay?appkey=k&token=&radom=3";
    }

    void logLineShortensTheToken()
    {
        QFETCH(QString, address);
        QFETCH(QString, logged);
        QCOMPARE(PurchaseAddress::forLog(address), logged);
    }
};

QTEST_GUILESS_MAIN(TestPurchaseAddress)
#include "tst_purchaseaddress.moc"
