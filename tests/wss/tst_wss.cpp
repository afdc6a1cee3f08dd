#include "platform/wss/wss.h"

#include <QtTest>

class TestWss final : public QObject
{
    Q_OBJECT

private:
    static QByteArray encode(const QByteArray &bytes)
    {
        char *out = nullptr;
        const int n = PackEncode(bytes.constData(), bytes.size(), &out);
        return QByteArray(out, n);
    }
    static QByteArray decode(const QByteArray &text, int *result = nullptr)
    {
        char *out = nullptr;
        const int n = PackDecode(text.constData(), &out);
        if (result)
            *result = n;
        return QByteArray(out);
    }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("heartbeat") << QByteArray(R"({"cmd":"heartbeat"})");
        QTest::newRow("ack") << QByteArray(R"({"cmd":"msgAck","data":{},"ext":{"msgId":42}})");
        QTest::newRow("chinese") << QStringLiteral("{\"txt\":\"云机已到期\"}").toUtf8();
        QTest::newRow("one byte") << QByteArray("x");
        QTest::newRow("two bytes") << QByteArray("xy");
    }
    void roundTrip()
    {
        QFETCH(QByteArray, message);
        const QByteArray frame = encode(message);
        QCOMPARE(frame.left(4), QByteArray("WS\x01\x00", 4));
        for (char c : frame.mid(4))
            QVERIFY(uchar(c) < 0x80);
        // As the client hands it over: four blanks in place of the header.
        QCOMPARE(decode("    " + frame.mid(4)), message);
    }

    void notAFrame_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("json as is") << QByteArray(R"({"cmd":"server"})");
        QTest::newRow("garbage") << QByteArray("    \x7f\x01!!");
    }
    void notAFrame()
    {
        QFETCH(QByteArray, text);
        int result = 0;
        const QByteArray message = decode(text, &result);
        QVERIFY(message.isEmpty());
        if (!text.isEmpty())
            QCOMPARE(result, -1);
    }

    void nothingToPack()
    {
        char *out = nullptr;
        QCOMPARE(PackEncode(nullptr, 0, &out), 0);
        QVERIFY(out && *out == '\0');
    }
};

QTEST_GUILESS_MAIN(TestWss)
#include "tst_wss.moc"
