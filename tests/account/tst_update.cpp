#include "account/update.h"
#include "resources/tarvixresources.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

namespace {

class BrowserSpy final : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTarvixResources(); }

    void startsWithItsDefaultTexts()
    {
        Update update;
        QCOMPARE(update.windowTitle(), QStringLiteral("版本更新"));
        QCOMPARE(update.size(), QSize(490, 362));
        QCOMPARE(update.findChild<QLabel *>(QStringLiteral("updateHint"))->text(), QStringLiteral("发现新版本1.1.1可更新!"));
        auto *notes = update.findChild<QTextEdit *>(QStringLiteral("updateTextEdit"));
        QVERIFY(notes->isReadOnly());
        QCOMPARE(notes->toPlainText(), QStringLiteral("1.修复闪退，付款延迟等问题\n2.修复闪退，付款延迟等问题"));
        QCOMPARE(update.findChild<QPushButton *>(QStringLiteral("updateButton"))->text(), QStringLiteral("立即更新"));
        for (const char *name : {"updateIcon", "updateIcon2"}) {
            auto *picture = update.findChild<QLabel *>(QString::fromLatin1(name));
            QVERIFY2(picture && !picture->pixmap(Qt::ReturnByValue).isNull(), name);
        }
        QVERIFY(update.downloadUrl().isEmpty());
    }

    void showsTheAnnouncement()
    {
        Update update;
        update.setVersion(QStringLiteral("1.0.9"));
        update.setNotes(QStringLiteral("<p><b>1.</b>更快的启动</p><p>2.修复上传</p>"));
        QCOMPARE(update.findChild<QLabel *>(QStringLiteral("updateHint"))->text(), QStringLiteral("发现新版本(1.0.9)可更新!"));
        // The notes arrive as HTML and are shown as rich text, not markup.
        const QString plain = update.findChild<QTextEdit *>(QStringLiteral("updateTextEdit"))->toPlainText();
        QCOMPARE(plain, QStringLiteral("1.更快的启动\n2.修复上传"));
    }

    void buttonsOpenTheLinkAndClose_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("opened");
        QTest::newRow("update") << "updateButton" << "http://downloads.test/Tarvix-1.2.0.exe" << 1;
        QTest::newRow("update without a link") << "updateButton" << QString() << 1;
        QTest::newRow("close") << "updateClose" << "http://downloads.test/Tarvix-1.2.0.exe" << 0;
    }

    void buttonsOpenTheLinkAndClose()
    {
        QFETCH(QString, button);
        QFETCH(QString, url);
        QFETCH(int, opened);
        BrowserSpy browser;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
        Update update;
        update.setDownloadUrl(url);
        update.show();
        QVERIFY(QTest::qWaitForWindowExposed(&update));
        QTest::mouseClick(update.findChild<QPushButton *>(button), Qt::LeftButton);
        QVERIFY(!update.isVisible());
        QCOMPARE(browser.opened.size(), url.isEmpty() ? 0 : opened);
        if (!browser.opened.isEmpty())
            QCOMPARE(browser.opened.first(), QUrl(url));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }
};

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
