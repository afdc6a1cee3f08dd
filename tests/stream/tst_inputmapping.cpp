#include "stream/inputmapping.h"
#include "stream/streamlook.h"

#include <QtTest>

class TestInputMapping : public QObject
{
    Q_OBJECT

private slots:
    void toPhone_data()
    {
        QTest::addColumn<QPointF>("pos");
        QTest::addColumn<QSize>("view");
        QTest::addColumn<bool>("portrait");
        QTest::addColumn<QPoint>("phone");

        const QSize tall(500, 790);
        const QSize wide(900, 400);
        QTest::newRow("portrait origin") << QPointF(0, 0) << tall << true << QPoint(0, 0);
        QTest::newRow("portrait centre") << QPointF(250, 395) << tall << true << QPoint(360, 640);
        QTest::newRow("portrait truncates") << QPointF(101, 333) << tall << true << QPoint(145, 539);
        QTest::newRow("portrait far corner") << QPointF(500, 790) << tall << true << QPoint(720, 1280);
        QTest::newRow("landscape left edge is phone top") << QPointF(0, 200) << wide << false << QPoint(360, 0);
        QTest::newRow("landscape top edge is phone right") << QPointF(450, 0) << wide << false << QPoint(720, 640);
        QTest::newRow("landscape centre") << QPointF(450, 200) << wide << false << QPoint(360, 640);
        QTest::newRow("landscape bottom right") << QPointF(899, 399) << wide << false << QPoint(1, 1278);
        QTest::newRow("empty view") << QPointF(10, 10) << QSize(0, 0) << true << QPoint(0, 0);
    }
    void toPhone()
    {
        QFETCH(QPointF, pos);
        QFETCH(QSize, view);
        QFETCH(bool, portrait);
        QFETCH(QPoint, phone);
        QCOMPARE(InputMapping::toPhone(pos, view, QSize(720, 1280), portrait), phone);
    }

    void keyValues_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("value");
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << 8;
        QTest::newRow("return") << int(Qt::Key_Return) << 13;
        QTest::newRow("keypad enter unchanged") << int(Qt::Key_Enter) << int(Qt::Key_Enter);
        QTest::newRow("letter unchanged") << int(Qt::Key_A) << int(Qt::Key_A);
        QTest::newRow("escape unchanged") << int(Qt::Key_Escape) << int(Qt::Key_Escape);
    }
    void keyValues()
    {
        QFETCH(int, key);
        QFETCH(int, value);
        QCOMPARE(InputMapping::keyValue(key), value);
    }

    // What a key press gives the phone: the typed character decides, so
    // Shift, Caps Lock and the layout are honoured; keys without a phone
    // code give nothing.
    void keyInput_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("typed");
        using K = InputMapping::KeyInput;
        const int none = Qt::NoModifier;
        const int shift = Qt::ShiftModifier;
        QTest::newRow("a") << int(Qt::Key_A) << "a" << none << int(K::Key) << int('a') << "";
        QTest::newRow("shift+a") << int(Qt::Key_A) << "A" << shift << int(K::Text) << 0 << "A";
        QTest::newRow("caps lock a") << int(Qt::Key_A) << "A" << none << int(K::Text) << 0 << "A";
        QTest::newRow("caps lock shift+a") << int(Qt::Key_A) << "a" << shift << int(K::Key) << int('a') << "";
        QTest::newRow("digit") << int(Qt::Key_7) << "7" << none << int(K::Key) << int('7') << "";
        QTest::newRow("space") << int(Qt::Key_Space) << " " << none << int(K::Key) << int(' ') << "";
        QTest::newRow("comma") << int(Qt::Key_Comma) << "," << none << int(K::Key) << int(',') << "";
        QTest::newRow("exclamation") << int(Qt::Key_Exclam) << "!" << shift << int(K::Text) << 0 << "!";
        QTest::newRow("parenthesis") << int(Qt::Key_ParenLeft) << "(" << shift << int(K::Text) << 0 << "(";
        QTest::newRow("colon") << int(Qt::Key_Colon) << ":" << shift << int(K::Text) << 0 << ":";
        QTest::newRow("tilde") << int(Qt::Key_AsciiTilde) << "~" << shift << int(K::Text) << 0 << "~";
        QTest::newRow("keypad digit") << int(Qt::Key_5) << "5" << int(Qt::KeypadModifier) << int(K::Key) << int('5')
                                      << "";
        QTest::newRow("altgr euro") << int(Qt::Key_unknown) << "€" << int(Qt::GroupSwitchModifier) << int(K::Text)
                                    << 0 << "€";
        QTest::newRow("chinese keysym") << 0x4f60 << "你" << none << int(K::Text) << 0 << "你";
        QTest::newRow("return") << int(Qt::Key_Return) << "\r" << none << int(K::Key) << 13 << "";
        QTest::newRow("keypad enter") << int(Qt::Key_Enter) << "\r" << int(Qt::KeypadModifier) << int(K::Key)
                                      << int(Qt::Key_Enter) << "";
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << "\b" << none << int(K::Key) << 8 << "";
        QTest::newRow("tab") << int(Qt::Key_Tab) << "\t" << none << int(K::Key) << int(Qt::Key_Tab) << "";
        QTest::newRow("escape") << int(Qt::Key_Escape) << "\x1b" << none << int(K::Key) << int(Qt::Key_Escape)
                                << "";
        QTest::newRow("left arrow") << int(Qt::Key_Left) << "" << none << int(K::Key) << int(Qt::Key_Left) << "";
        QTest::newRow("ctrl+backspace") << int(Qt::Key_Backspace) << "\b" << int(Qt::ControlModifier)
                                        << int(K::Key) << 8 << "";
        QTest::newRow("F5 has no phone key") << int(Qt::Key_F5) << "" << none << int(K::Nothing) << 0 << "";
        QTest::newRow("shift alone") << int(Qt::Key_Shift) << "" << shift << int(K::Nothing) << 0 << "";
        QTest::newRow("caps lock alone") << int(Qt::Key_CapsLock) << "" << none << int(K::Nothing) << 0 << "";
        QTest::newRow("ctrl+c") << int(Qt::Key_C) << "\x03" << int(Qt::ControlModifier) << int(K::Nothing) << 0
                                << "";
        QTest::newRow("alt+f") << int(Qt::Key_F) << "f" << int(Qt::AltModifier) << int(K::Nothing) << 0 << "";
        QTest::newRow("dead key") << int(Qt::Key_Dead_Acute) << "" << none << int(K::Nothing) << 0 << "";
    }
    void keyInput()
    {
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(int, modifiers);
        QFETCH(int, kind);
        QFETCH(int, value);
        QFETCH(QString, typed);
        const InputMapping::KeyInput input =
            InputMapping::keyInput(key, text, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(int(input.kind), kind);
        QCOMPARE(input.keyValue, value);
        QCOMPARE(input.text, typed);
    }

    void committedText()
    {
        QCOMPARE(InputMapping::committedText(QStringLiteral("你好")), QStringLiteral("你好"));
        QCOMPARE(InputMapping::committedText(QStringLiteral("こんにちは🙂")), QStringLiteral("こんにちは🙂"));
        QCOMPARE(InputMapping::committedText(QStringLiteral("a\r\nb\x7f")), QStringLiteral("ab"));
        QCOMPARE(InputMapping::committedText(QString()), QString());
    }

    void navigationKeys()
    {
        QCOMPARE(InputMapping::navigationKeyCode(1), 172);
        QCOMPARE(InputMapping::navigationKeyCode(2), 158);
        QCOMPARE(InputMapping::navigationKeyCode(3), 139);
        QCOMPARE(InputMapping::navigationKeyCode(4), 0);
    }

    void panelAfterPress_data()
    {
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<bool>("portrait");
        QTest::addColumn<bool>("survives");
        QTest::newRow("portrait inside") << QPoint(10, 10) << true << true;
        QTest::newRow("portrait outside") << QPoint(10, 500) << true << false;
        QTest::newRow("landscape inside") << QPoint(10, 10) << false << false;
        QTest::newRow("landscape outside") << QPoint(10, 300) << false << true;
    }
    void panelAfterPress()
    {
        QFETCH(QPoint, pos);
        QFETCH(bool, portrait);
        QFETCH(bool, survives);
        QCOMPARE(InputMapping::panelSurvivesPress(pos, QSize(498, 230), portrait), survives);
    }

    void levels()
    {
        const auto levels = StreamLook::videoLevels();
        const int widths[] = {720, 576, 432, 288};
        const int heights[] = {1280, 1024, 768, 512};
        const int rates[] = {4096, 2048, 1024, 512};
        for (int i = 0; i < 4; ++i) {
            const VideoLevel &l = levels[size_t(i)];
            QCOMPARE(l.codec, 2);
            QCOMPARE(l.width, widths[i]);
            QCOMPARE(l.height, heights[i]);
            QCOMPARE(l.frameRate, 20);
            QCOMPARE(l.keyFrameSeconds, 15);
            QCOMPARE(l.bitRateKbps, rates[i]);
            QCOMPARE(l.maxQp, 45);
            QCOMPARE(l.id, i + 1);
            QCOMPARE(l.idAgain, i + 1);
            QCOMPARE(l.reserved1, 0);
            QCOMPARE(l.reserved2, 0);
        }
    }

    void statusLook_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("highlighted");
        QTest::newRow("-1") << -1 << QStringLiteral("单机中") << false;
        QTest::newRow("0") << 0 << QStringLiteral("单机中") << false;
        QTest::newRow("1") << 1 << QStringLiteral("被控中") << true;
        QTest::newRow("2") << 2 << QStringLiteral("主控中") << false;
        QTest::newRow("3") << 3 << QStringLiteral("单机中") << false;
    }
    void statusLook()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(bool, highlighted);
        const StreamLook::StatusLook look = StreamLook::statusLook(status);
        QCOMPARE(look.text, text);
        QCOMPARE(look.highlighted, highlighted);
        QCOMPARE(look.styleSheet,
                 highlighted
                     ? QStringLiteral("#mcl {border :1px solid #94d3ff;color:#94d3ff;border-radius: 10px 10px 10px 10px;}")
                     : QStringLiteral("#mcl {color:#000000;border-radius: 10px 10px 10px 10px;}"));
    }

    void disconnectText()
    {
        QCOMPARE(StreamLook::disconnectText(QStringLiteral("P%2"), QStringLiteral("196614")),
                 QStringLiteral("云手机 P%2 断开连接.(196614)"));
    }
};

QTEST_GUILESS_MAIN(TestInputMapping)
#include "tst_inputmapping.moc"
