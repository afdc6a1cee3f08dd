#include "resources/tarvixresources.h"
#include "tests/support/screenshot.h"

#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextStream>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtTest>

namespace {

const QColor kConfirm(0x05, 0x98, 0xFE);
const QColor kCancel(0xE5, 0xEC, 0xF1);

// The start-up code reads the sheet word by word and joins the words with
// line feeds; the tests apply it exactly that way.
QString loadJoinedSheet()
{
    QFile file(QStringLiteral(":/style/style.css"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QStringList words;
    while (!in.atEnd()) {
        QString word;
        in >> word;
        if (!word.isEmpty())
            words << word;
    }
    return words.join(QLatin1Char('\n'));
}

QString loadRawSheet()
{
    QFile file(QStringLiteral(":/style/style.css"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool near(const QColor &a, const QColor &b, int tolerance = 6)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

int countNear(const QImage &image, const QRect &area, const QColor &colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (near(image.pixelColor(x, y), colour, 12))
                ++n;
    return n;
}

QStringList compiledPictures()
{
    QStringList paths;
    QDirIterator it(QStringLiteral(":/image"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    return paths;
}

// Mostly white where it is opaque.
bool isLight(const QImage &image)
{
    qint64 sum = 0;
    qint64 count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = image.pixel(x, y);
            if (qAlpha(px) > 128) {
                sum += qGray(px);
                ++count;
            }
        }
    return count > 0 && sum / count > 235;
}

QStringList parseWarnings;

void collectParseWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg && message.contains(QLatin1String("parse"), Qt::CaseInsensitive))
        parseWarnings << message;
}

// A widget whose look depends only on the application sheet: one of each
// class and indicator the sheet styles.
QWidget *buildGallery()
{
    auto *page = new QWidget;
    page->resize(360, 520);
    auto *layout = new QVBoxLayout(page);
    auto addButton = [&](const char *cls, const QString &text) {
        auto *b = new QPushButton(text, page);
        b->setProperty("class", QString::fromLatin1(cls));
        layout->addWidget(b);
    };
    addButton("dialog_btn_confirm", QStringLiteral("确定"));
    addButton("dialog_btn_cancle", QStringLiteral("取消"));
    addButton("btn-hover", QStringLiteral("进入云机"));
    auto *label = new QLabel(QStringLiteral("横竖屏切换"), page);
    label->setProperty("class", QStringLiteral("btn"));
    layout->addWidget(label);
    auto *box = new QCheckBox(QStringLiteral("自动登录"), page);
    box->setChecked(true);
    layout->addWidget(box);
    auto *area = new QWidget(page);
    area->setProperty("class", QStringLiteral("noPhone"));
    area->setMinimumHeight(230);
    layout->addWidget(area, 1);
    return page;
}

} // namespace

class TestResources final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void picture_data();
    void picture();
    void buttonPicture_data();
    void buttonPicture();
    void everyCompiledPictureLoads();
    void applicationIcon();
    void sheetKeepsItsMeaningWhenJoined();
    void dialogButtons_data();
    void dialogButtons();
    void outlinedButtonClass();
    void noPhoneClasses();
    void checkIndicators();
    void contactSheet();
};

void TestResources::initTestCase()
{
    initTarvixResources();
    QVERIFY(QFile::exists(QStringLiteral(":/style/style.css")));
}

// Every picture the windows name, with the size their widgets are laid out for.
void TestResources::picture_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const struct {
        const char *path;
        int w, h;
    } rows[] = {
        {":/image/phone/icon.png", 32, 32},
        {":/image/phone/app_name.png", 126, 28},
        {":/image/phone/userIcon.png", 28, 28},
        {":/image/phone/refresh_hover.png", 18, 18},
        {":/image/phone/noPhone.png", 220, 200},
        {":/image/phone/PhoneState_Recovy.png", 100, 170},
        {":/image/phone/phoneBg.png", 500, 790},
        {":/image/phone/phoneDetail.png", 52, 52},
        {":/image/phone/icon_reboot.png", 48, 48},
        {":/image/phone/icon_reset.png", 48, 48},
        {":/image/phone/icon_upload.png", 48, 48},
        {":/image/phone/Android-back.png", 44, 44},
        {":/image/phone/Android-home.png", 44, 44},
        {":/image/phone/Android-menu.png", 44, 44},
        {":/image/phone/default.png", 48, 48},
        {":/image/phone/icon_copy.png", 14, 14},
        {":/image/phone/icon_qq.png", 16, 16},
        {":/image/phone/icon_update.png", 16, 16},
        {":/image/phone/icon_about.png", 16, 16},
        {":/image/phone/icon_logout.png", 16, 16},
        {":/image/phone/icon_right.png", 12, 12},
        {":/image/phone/close_hover.png", 40, 40},
        {":/image/phone/icon_upload_title.png", 24, 24},
        {":/image/phone/icon_upload_title_close.png", 24, 24},
        {":/image/phone/checkbox.png", 16, 16},
        {":/image/phone/checkbox_hover.png", 16, 16},
        {":/image/phone/checkbox_checked.png", 16, 16},
        {":/image/phone/checkbox_partial.png", 16, 16},
        {":/image/login/loginLessen.png", 24, 24},
        {":/image/login/updateClose.png", 24, 24},
        {":/image/login/loginIcon.png", 64, 64},
        {":/image/login/updateIcon.png", 96, 96},
        {":/image/login/updateIcon2.png", 180, 40},
        {":/image/login/uploadFilesClose.png", 16, 16},
        {":/image/login/uploadFilesIcon.png", 40, 40},
        {":/image/login/uploadFilesIcon2.png", 40, 40},
    };
    for (const auto &row : rows)
        QTest::newRow(row.path) << QString::fromLatin1(row.path) << QSize(row.w, row.h);
}

void TestResources::picture()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QPixmap pixmap(path);
    QVERIFY2(!pixmap.isNull(), qPrintable(path));
    QCOMPARE(pixmap.size(), size);
    QCOMPARE(QImageReader(path).format(), QByteArray("png"));
}

// Picture buttons load by path without extension and swap to "_hover"
// while hovered or pressed; both must exist, match in size and differ.
void TestResources::buttonPicture_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const struct {
        const char *path;
        int w, h;
    } rows[] = {
        {":/image/sysButton/setting", 40, 40},
        {":/image/phone/min", 40, 40},
        {":/image/phone/screen-big", 40, 40},
        {":/image/phone/screen-standard", 40, 40},
        {":/image/phone/close", 40, 40},
        {":/image/phone/refresh", 18, 18},
        {":/image/phone/icon_reboot", 48, 48},
        {":/image/phone/icon_reset", 48, 48},
        {":/image/phone/icon_upload", 48, 48},
        {":/image/phone/Android-back", 44, 44},
        {":/image/phone/Android-home", 44, 44},
        {":/image/phone/Android-menu", 44, 44},
        {":/image/phone/icon_copy", 14, 14},
        {":/image/phone/icon_right", 12, 12},
        {":/image/phone/icon_upload_title_close", 24, 24},
        {":/image/phone/checkbox", 16, 16},
        {":/image/login/loginLessen", 24, 24},
        {":/image/login/updateClose", 24, 24},
        {":/image/login/uploadFilesClose", 16, 16},
    };
    for (const auto &row : rows)
        QTest::newRow(row.path) << QString::fromLatin1(row.path) << QSize(row.w, row.h);
}

void TestResources::buttonPicture()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QPixmap bare(path);
    const QPixmap withExtension(path + QStringLiteral(".png"));
    const QPixmap hover(path + QStringLiteral("_hover"));
    QVERIFY2(!bare.isNull(), qPrintable(path));
    QVERIFY(!hover.isNull());
    QCOMPARE(bare.size(), size);
    QCOMPARE(hover.size(), size);
    QCOMPARE(bare.toImage(), withExtension.toImage());
    QVERIFY2(bare.toImage() != hover.toImage(), "the hover look is the same picture");
}

void TestResources::everyCompiledPictureLoads()
{
    const QStringList paths = compiledPictures();
    QVERIFY(paths.size() >= 50);
    for (const QString &path : paths) {
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        // Nothing fully transparent: a blank picture would be a render fault.
        bool painted = false;
        for (int y = 0; y < image.height() && !painted; ++y)
            for (int x = 0; x < image.width() && !painted; ++x)
                painted = qAlpha(image.pixel(x, y)) > 0;
        QVERIFY2(painted, qPrintable(path));
        if (path.endsWith(QLatin1String("_hover.png"))) {
            const QString base = path.left(path.size() - 10) + QStringLiteral(".png");
            QVERIFY2(QFile::exists(base), qPrintable(base));
            QCOMPARE(QImage(base).size(), image.size());
        }
    }
}

void TestResources::applicationIcon()
{
    const QString path = QStringLiteral(":/image/ico.ico");
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("ico"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(64, 64));
    QVERIFY(!QIcon(path).isNull());
}

// The sheet must parse, and mean the same thing after the start-up code
// has re-joined its words with line feeds.
void TestResources::sheetKeepsItsMeaningWhenJoined()
{
    const QString raw = loadRawSheet();
    QVERIFY(!raw.isEmpty());
    // A quoted text with a blank inside would be split by the join.
    QString code = raw;
    code.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    static const QRegularExpression quotedBlank(QStringLiteral("([\"'])[^\"']*\\s[^\"']*\\1"));
    QVERIFY2(!quotedBlank.match(code).hasMatch(), qPrintable(quotedBlank.match(code).captured(0)));

    const QString joined = loadJoinedSheet();
    QVERIFY(joined.contains(QLatin1String(".dialog_btn_confirm")));

    parseWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectParseWarnings);
    auto renderWith = [](const QString &sheet) {
        qApp->setStyleSheet(sheet);
        QScopedPointer<QWidget> gallery(buildGallery());
        return gallery->grab().toImage();
    };
    const QImage fromRaw = renderWith(raw);
    const QImage fromJoined = renderWith(joined);
    const QImage unstyled = renderWith(QString());
    qInstallMessageHandler(previous);

    fromJoined.save(TestSupport::screenshotDir() + QStringLiteral("/resources-style-gallery.png"));
    QVERIFY2(parseWarnings.isEmpty(), qPrintable(parseWarnings.join(QLatin1Char('\n'))));
    QCOMPARE(fromJoined, fromRaw);
    QVERIFY(fromJoined != unstyled);

    qApp->setStyleSheet(joined);
    QLabel label(QStringLiteral("云手机"));
    label.ensurePolished();
    QCOMPARE(label.font().family(), QStringLiteral("Noto Sans CJK SC"));
}

void TestResources::dialogButtons_data()
{
    QTest::addColumn<QString>("cls");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("text");
    QTest::newRow("confirm") << QStringLiteral("dialog_btn_confirm") << kConfirm << QColor(Qt::white);
    QTest::newRow("cancel") << QStringLiteral("dialog_btn_cancle") << kCancel << QColor(0x33, 0x33, 0x33);
}

void TestResources::dialogButtons()
{
    QFETCH(QString, cls);
    QFETCH(QColor, background);
    QFETCH(QColor, text);
    qApp->setStyleSheet(loadJoinedSheet());

    QWidget dialog;
    auto *layout = new QVBoxLayout(&dialog);
    auto *button = new QPushButton(QStringLiteral("确定"), &dialog);
    button->setProperty("class", cls);
    layout->addWidget(button);
    dialog.resize(300, 200);
    const QImage image = dialog.grab().toImage();

    QCOMPARE(button->size(), QSize(99, 40));
    QCOMPARE(button->palette().color(QPalette::ButtonText), text);
    const QPoint topLeft = button->geometry().topLeft();
    QVERIFY(near(image.pixelColor(topLeft + QPoint(10, 20)), background));
    // Rounded corners: the very corner pixel is not the button colour.
    QVERIFY(!near(image.pixelColor(topLeft), background, 2));
}

// ".btn" (stream panel actions), ".btn-hover" (the card's enter button) and
// the card frame classes.
void TestResources::outlinedButtonClass()
{
    qApp->setStyleSheet(loadJoinedSheet());

    QLabel label(QStringLiteral("退出云机"));
    label.setProperty("class", QStringLiteral("btn"));
    label.resize(100, 40);
    const QImage outlined = label.grab().toImage();
    QCOMPARE(label.contentsRect(), label.rect().adjusted(9, 9, -9, -9));
    QVERIFY(near(outlined.pixelColor(0, 20), QColor(0xE3, 0xE3, 0xE3), 8));
    QVERIFY(near(outlined.pixelColor(4, 20), Qt::white, 2));

    QPushButton enter(QStringLiteral("进入云机"));
    enter.setProperty("class", QStringLiteral("btn-hover"));
    enter.resize(80, 30);
    const QImage filled = enter.grab().toImage();
    QVERIFY(near(filled.pixelColor(4, 15), kConfirm));
    QCOMPARE(enter.palette().color(QPalette::ButtonText), QColor(Qt::white));

    QWidget card;
    card.resize(120, 200);
    card.setProperty("class", QStringLiteral("phoneCard"));
    QVERIFY(near(card.grab().toImage().pixelColor(0, 100), QColor(0xE3, 0xE3, 0xE3), 8));
    card.setProperty("class", QStringLiteral("phoneCardChecked"));
    card.setStyleSheet(QStringLiteral("QWidget{}"));
    QVERIFY(near(card.grab().toImage().pixelColor(0, 100), QColor(0x00, 0x84, 0xDF), 8));
}

// The card area switches between the empty-state picture and plain white
// the way the phone page does it: new class, then a new own sheet.
void TestResources::noPhoneClasses()
{
    qApp->setStyleSheet(loadJoinedSheet());

    QWidget area;
    area.setObjectName(QStringLiteral("PhoneWidget"));
    area.resize(600, 400);
    area.setProperty("class", QStringLiteral("noPhone"));
    const QImage empty = area.grab().toImage();

    QImage expected(area.size(), QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::white);
    {
        QPainter p(&expected);
        const QPixmap picture(QStringLiteral(":/image/phone/noPhone.png"));
        p.drawPixmap((600 - picture.width()) / 2, (400 - picture.height()) / 2, picture);
    }
    QCOMPARE(empty.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));

    area.setProperty("class", QStringLiteral("noPhoneNone"));
    area.setStyleSheet(QStringLiteral("#PhoneWidget{background-color:#fff}"));
    const QImage plain = area.grab().toImage();
    QCOMPARE(countNear(plain, plain.rect(), Qt::white), 600 * 400);

    area.setProperty("class", QStringLiteral("noPhone"));
    area.setStyleSheet(QString());
    QCOMPARE(area.grab().toImage().convertToFormat(QImage::Format_RGB32),
             expected.convertToFormat(QImage::Format_RGB32));
}

// The phone tree's rows are not enabled items; their check marks and text
// must still look active.
void TestResources::checkIndicators()
{
    qApp->setStyleSheet(loadJoinedSheet());

    QTreeWidget tree;
    tree.setColumnCount(2);
    tree.resize(320, 140);
    auto *group = new QTreeWidgetItem(&tree, {QStringLiteral("默认分组"), QStringLiteral("已选(1)")});
    auto *on = new QTreeWidgetItem(group, {QStringLiteral("云机一"), QStringLiteral("3天")});
    auto *off = new QTreeWidgetItem(group, {QStringLiteral("云机二"), QStringLiteral("3天")});
    for (QTreeWidgetItem *item : {group, on, off})
        item->setFlags(Qt::ItemIsSelectable);
    group->setCheckState(0, Qt::PartiallyChecked);
    on->setCheckState(0, Qt::Checked);
    off->setCheckState(0, Qt::Unchecked);
    tree.expandAll();
    const QImage image = tree.viewport()->grab().toImage();
    TestSupport::grabWidget(&tree, QStringLiteral("resources-tree-indicators"));

    const QRect onRow = tree.visualItemRect(on);
    const QRect offRow = tree.visualItemRect(off);
    QVERIFY(countNear(image, onRow, kConfirm) > 60);
    QVERIFY(countNear(image, tree.visualItemRect(group), kConfirm) > 60);
    QCOMPARE(countNear(image, offRow, kConfirm), 0);
    QVERIFY(countNear(image, offRow, QColor(0xB7, 0xC0, 0xCA)) > 10);

    // Row text keeps #333333 although the items are disabled.
    int darkest = 255;
    for (int y = offRow.top(); y <= offRow.bottom(); ++y)
        for (int x = offRow.left() + 30; x < tree.columnWidth(0); ++x)
            darkest = qMin(darkest, qGray(image.pixel(x, y)));
    QVERIFY2(darkest <= 0x40, qPrintable(QString::number(darkest)));

    QCheckBox box(QStringLiteral("自动登录"));
    box.setChecked(true);
    box.resize(120, 24);
    QVERIFY(countNear(box.grab().toImage(), QRect(0, 0, 24, 24), kConfirm) > 60);
}

// Every compiled picture on one page, for people to look at. Small ones
// are shown again three times as large beside the real size.
void TestResources::contactSheet()
{
    struct Cell {
        QString path;
        QImage image;
        QRect rect;
    };
    const int sheetWidth = 1200;
    const int zoom = 3;
    auto shownSize = [&](const QImage &image) {
        if (image.width() <= 48 && image.height() <= 48)
            return QSize(image.width() * (1 + zoom) + 8, image.height() * zoom);
        return image.size();
    };
    QList<Cell> cells;
    QPoint at(0, 0);
    int rowHeight = 0;
    for (const QString &path : compiledPictures()) {
        const QImage image(path);
        const QSize shown = shownSize(image);
        const QSize cell(qMax(shown.width() + 20, 230), shown.height() + 34);
        if (at.x() + cell.width() > sheetWidth && at.x() > 0) {
            at = QPoint(0, at.y() + rowHeight);
            rowHeight = 0;
        }
        cells.append({path, image, QRect(at, cell)});
        at.rx() += cell.width();
        rowHeight = qMax(rowHeight, cell.height());
    }
    QImage sheet(sheetWidth, at.y() + rowHeight, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0x2B, 0x30, 0x38));
    QPainter p(&sheet);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    // A checkerboard behind each picture shows its transparent parts and
    // keeps white pictures visible.
    // Small pictures drawn in white for the blue title strip go on that blue.
    auto drawOnBoard = [&p](const QRect &frame, const QImage &image) {
        if (image.width() <= 48 && isLight(image)) {
            p.fillRect(frame, kConfirm);
        } else {
            for (int y = frame.top(); y <= frame.bottom(); y += 8)
                for (int x = frame.left(); x <= frame.right(); x += 8)
                    p.fillRect(QRect(x, y, 8, 8).intersected(frame),
                               ((x - frame.left()) / 8 + (y - frame.top()) / 8) % 2 ? QColor(0xC8, 0xCC, 0xD2)
                                                                                    : QColor(0xF4, 0xF5, 0xF7));
        }
        p.drawImage(frame, image);
    };
    for (const Cell &cell : cells) {
        const QSize shown = shownSize(cell.image);
        const QPoint origin(cell.rect.x() + (cell.rect.width() - shown.width()) / 2, cell.rect.y() + 6);
        drawOnBoard(QRect(origin, cell.image.size()), cell.image);
        if (shown != cell.image.size())
            drawOnBoard(QRect(origin + QPoint(cell.image.width() + 8, 0), cell.image.size() * zoom), cell.image);
        p.setPen(Qt::white);
        p.drawText(QRect(cell.rect.x(), cell.rect.bottom() - 24, cell.rect.width(), 20), Qt::AlignCenter,
                   QStringLiteral("%1  %2x%3").arg(cell.path.mid(8)).arg(cell.image.width()).arg(cell.image.height()));
    }
    p.end();
    QVERIFY(sheet.save(TestSupport::screenshotDir() + QStringLiteral("/resources-contact-sheet.png")));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
