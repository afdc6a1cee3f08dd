#include "api/formbody.h"

#include <QtTest>

// Decodes a body the way a form-reading server does: '+' is a blank, then
// percent-escapes as UTF-8.
static QList<QPair<QString, QString>> serverView(const QByteArray &body)
{
    QList<QPair<QString, QString>> fields;
    for (const QByteArray &pair : body.split('&')) {
        const int eq = pair.indexOf('=');
        auto decode = [](QByteArray part) {
            return QString::fromUtf8(QByteArray::fromPercentEncoding(part.replace('+', ' ')));
        };
        fields.append({decode(pair.left(eq)), decode(pair.mid(eq + 1))});
    }
    return fields;
}

class TestFormBody final : public QObject
{
    Q_OBJECT

private slots:
    void body_data()
    {
        QTest::addColumn<QStringList>("namesAndValues");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("one field") << QStringList{"channel_code", "qelvane_pc_official"}
                                   << QByteArray("channel_code=qelvane_pc_official");
        QTest::newRow("empty value ends with =") << QStringList{"server_sn", ""} << QByteArray("server_sn=");
        QTest::newRow("ascending names") << QStringList{"server_sn", "S1", "idle_time", "36000", "client_type", "android"}
                                         << QByteArray("client_type=android&idle_time=36000&server_sn=S1");
        QTest::newRow("comma list") << QStringList{"server_list", "A,B,C"} << QByteArray("server_list=A%2CB%2CC");
        QTest::newRow("plus ampersand equals") << QStringList{"phone", "+86 1&a=b"}
                                               << QByteArray("phone=%2B86%201%26a%3Db");
        QTest::newRow("chinese") << QStringList{"msg", "云机"} << QByteArray("msg=%E4%BA%91%E6%9C%BA");
        QTest::newRow("names are encoded too") << QStringList{"a&b", "1"} << QByteArray("a%26b=1");
    }

    void body()
    {
        QFETCH(QStringList, namesAndValues);
        QFETCH(QByteArray, expected);
        FormBody form;
        for (int i = 0; i + 1 < namesAndValues.size(); i += 2)
            form.add(namesAndValues.at(i), namesAndValues.at(i + 1));
        QCOMPARE(form.toByteArray(), expected);
    }

    void valuesSurviveTheServersDecoding()
    {
        const QString tricky = QStringLiteral("a+b & c=d %41 云手机 ~!*'()/?#");
        const FormBody form{{QStringLiteral("phone"), tricky}, {QStringLiteral("code"), QStringLiteral("12+34")}};
        const auto fields = serverView(form.toByteArray());
        QCOMPARE(fields.size(), 2);
        QCOMPARE(fields.at(0), qMakePair(QStringLiteral("code"), QStringLiteral("12+34")));
        QCOMPARE(fields.at(1), qMakePair(QStringLiteral("phone"), tricky));
    }
};

QTEST_APPLESS_MAIN(TestFormBody)
#include "tst_formbody.moc"
