#include "localcloud/phonefarm/farmphone.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kStatusBar = 48;
constexpr int kNavBar = 96;
constexpr int kHeaderBottom = 160;
constexpr int kMaxRecorded = 200;
constexpr int kMaxNotes = 20000;
constexpr int kFeedbackRadius = 40;
// Touch feedback colour; the latency bench looks for it in decoded frames.
const QColor kFeedbackColor(255, 0, 200);

// Grid of the home screen.
constexpr int kColumns = 4;
constexpr int kCellWidth = 180;
constexpr int kCellHeight = 200;
constexpr int kGridTop = 220;

// Android key codes, and the Linux input codes the client sends for the
// navigation keys.
enum Key {
    KeyHome = 3,
    KeyBack = 4,
    Key0 = 7,
    Key9 = 16,
    KeyStar = 17,
    KeyPound = 18,
    KeyA = 29,
    KeyZ = 54,
    KeyComma = 55,
    KeyPeriod = 56,
    KeyTab = 61,
    KeySpace = 62,
    KeyEnter = 66,
    KeyDel = 67,
    KeyGrave = 68,
    KeyMinus = 69,
    KeyEquals = 70,
    KeyLeftBracket = 71,
    KeyRightBracket = 72,
    KeyBackslash = 73,
    KeySemicolon = 74,
    KeyApostrophe = 75,
    KeySlash = 76,
    KeyAt = 77,
    KeyPlus = 81,
    KeyMenu = 82,
    KeyEscape = 111,
    LinuxMenu = 139,
    LinuxBack = 158,
    LinuxHome = 172,
};

QChar charForKey(int code)
{
    if (code >= KeyA && code <= KeyZ)
        return QChar('a' + (code - KeyA));
    if (code >= Key0 && code <= Key9)
        return QChar('0' + (code - Key0));
    switch (code) {
    case KeyStar: return '*';
    case KeyPound: return '#';
    case KeyComma: return ',';
    case KeyPeriod: return '.';
    case KeyTab: return '\t';
    case KeySpace: return ' ';
    case KeyEnter: return '\n';
    case KeyGrave: return '`';
    case KeyMinus: return '-';
    case KeyEquals: return '=';
    case KeyLeftBracket: return '[';
    case KeyRightBracket: return ']';
    case KeyBackslash: return '\\';
    case KeySemicolon: return ';';
    case KeyApostrophe: return '\'';
    case KeySlash: return '/';
    case KeyAt: return '@';
    case KeyPlus: return '+';
    default: return QChar();
    }
}

void appendBounded(QJsonArray &list, const QJsonObject &entry)
{
    list.append(entry);
    while (list.size() > kMaxRecorded)
        list.removeFirst();
}

QString sizeText(qint64 size)
{
    if (size >= 1024 * 1024)
        return QStringLiteral("%1 MB").arg(double(size) / (1024 * 1024), 0, 'f', 1);
    if (size >= 1024)
        return QStringLiteral("%1 KB").arg(double(size) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 B").arg(size);
}

} // namespace

FarmPhone::FarmPhone(const QString &padCode, const QString &name, QObject *parent)
    : QObject(parent)
    , m_padCode(padCode)
    , m_name(name)
    // Text needs the font database, which only a QGuiApplication has.
    , m_canDrawText(qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr)
{
    m_bootTimer.setInterval(250);
    connect(&m_bootTimer, &QTimer::timeout, this, [this] {
        if (m_bootClock.elapsed() >= m_bootMillis) {
            m_bootTimer.stop();
            m_booting = false;
        }
        markDirty();
    });
    m_feedbackTimer.setSingleShot(true);
    m_feedbackTimer.setInterval(250);
    connect(&m_feedbackTimer, &QTimer::timeout, this, [this] {
        m_showFeedback = false;
        markDirty();
    });
    // The status bar's clock shows minutes: one wake-up a minute is enough.
    m_clockTimer.setSingleShot(true);
    connect(&m_clockTimer, &QTimer::timeout, this, [this] {
        if (QTime::currentTime().toString(QStringLiteral("HH:mm")) != m_clockText)
            markDirty();
        scheduleClock();
    });
    scheduleClock();
}

void FarmPhone::scheduleClock()
{
    const QTime now = QTime::currentTime();
    m_clockTimer.start(60000 - (now.second() * 1000 + now.msec()) + 20);
}

FarmPhone::~FarmPhone() = default;

void FarmPhone::markDirty()
{
    m_dirty = true;
    ++m_generation;
    emit changed();
}

void FarmPhone::applyTouch(int action, int x, int y, float pressure, int pointers)
{
    appendBounded(m_touches, QJsonObject{{QStringLiteral("action"), action},
                                         {QStringLiteral("x"), x},
                                         {QStringLiteral("y"), y},
                                         {QStringLiteral("pressure"), double(pressure)},
                                         {QStringLiteral("pointers"), pointers},
                                         {QStringLiteral("time"), QDateTime::currentMSecsSinceEpoch()}});
    if (m_booting)
        return;
    // 0 down, 2 move, 1 up; an up carries no position, the finger lifts
    // where it last was.
    switch (action) {
    case 0:
        m_touchDown = true;
        m_touchPoint = m_pressPoint = QPoint(x, y);
        m_showFeedback = true;
        m_feedbackTimer.stop();
        break;
    case 2:
        if (!m_touchDown)
            return;
        m_touchPoint = QPoint(x, y);
        break;
    case 1:
        if (!m_touchDown)
            return;
        m_touchDown = false;
        if (x >= 0 && y >= 0)
            m_touchPoint = QPoint(x, y);
        if ((m_touchPoint - m_pressPoint).manhattanLength() < 48)
            tap(m_pressPoint);
        m_feedbackTimer.start();
        break;
    default:
        return;
    }
    markDirty();
}

void FarmPhone::tap(QPoint p)
{
    if (p.y() >= kHeight - kNavBar) {
        const int third = kWidth / 3;
        if (p.x() < third)
            goBack();
        else if (p.x() < 2 * third)
            goHome();
        else
            toggleMenu();
        return;
    }
    if (m_menuOpen) {
        // The menu's first entry clears the notes; any tap closes it.
        const QRect clear(0, kHeight - kNavBar - 240, kWidth, 120);
        if (clear.contains(p) && m_screen == Screen::Notes)
            m_notes.clear();
        m_menuOpen = false;
        return;
    }
    if (m_screen != Screen::Home) {
        if (p.y() >= kStatusBar && p.y() < kHeaderBottom && p.x() < 140)
            goBack();
        return;
    }
    if (p.y() < kGridTop)
        return;
    const int column = p.x() / kCellWidth;
    const int row = (p.y() - kGridTop) / kCellHeight;
    const int index = row * kColumns + column;
    const QVector<App> apps = homeApps();
    if (column >= kColumns || index < 0 || index >= apps.size())
        return;
    const QString package = apps.at(index).packageName;
    if (package == QLatin1String("notes")) {
        m_screen = Screen::Notes;
    } else if (package == QLatin1String("files")) {
        m_screen = Screen::Files;
    } else {
        m_screen = Screen::App;
        m_openApp = apps.at(index).label;
    }
}

void FarmPhone::goHome()
{
    m_screen = Screen::Home;
    m_menuOpen = false;
}

void FarmPhone::goBack()
{
    if (m_menuOpen)
        m_menuOpen = false;
    else
        m_screen = Screen::Home;
}

void FarmPhone::toggleMenu()
{
    m_menuOpen = !m_menuOpen;
}

void FarmPhone::applyKey(int action, int code)
{
    appendBounded(m_keys, QJsonObject{{QStringLiteral("action"), action},
                                      {QStringLiteral("code"), code},
                                      {QStringLiteral("time"), QDateTime::currentMSecsSinceEpoch()}});
    // 0 down, 1 up, 3 a whole press; a key acts when it goes down.
    if (m_booting || (action != 0 && action != 3))
        return;
    switch (code) {
    case KeyHome:
    case LinuxHome:
        goHome();
        break;
    case KeyBack:
    case LinuxBack:
    case KeyEscape:
        goBack();
        break;
    case KeyMenu:
    case LinuxMenu:
        toggleMenu();
        break;
    default:
        typeKey(code);
        break;
    }
    markDirty();
}

void FarmPhone::typeKey(int code)
{
    if (m_screen != Screen::Notes || m_menuOpen)
        return;
    if (code == KeyDel) {
        // One character, not half of one outside the basic plane.
        const int n = m_notes.size();
        m_notes.chop(n >= 2 && m_notes.at(n - 1).isLowSurrogate() && m_notes.at(n - 2).isHighSurrogate() ? 2 : 1);
        return;
    }
    const QChar c = charForKey(code);
    if (!c.isNull())
        appendToNotes(QString(c));
}

void FarmPhone::appendToNotes(const QString &text)
{
    int room = kMaxNotes - m_notes.size();
    if (room <= 0)
        return;
    // Never keep half of a surrogate pair at the cut.
    if (room < text.size() && text.at(room - 1).isHighSurrogate())
        --room;
    m_notes.append(text.left(room));
}

void FarmPhone::applyText(const QString &text)
{
    appendBounded(m_texts, QJsonObject{{QStringLiteral("text"), text},
                                       {QStringLiteral("time"), QDateTime::currentMSecsSinceEpoch()}});
    if (m_booting)
        return;
    // Text goes where typing goes: into the open notes.
    if (m_screen == Screen::Notes && !m_menuOpen)
        appendToNotes(text);
    markDirty();
}

void FarmPhone::applyClipboard(const QString &text)
{
    m_clipboard = text;
    if (m_booting)
        return;
    // Pasting into the open notes is what the client's paste button is for.
    if (m_screen == Screen::Notes && !m_menuOpen)
        appendToNotes(text);
    markDirty();
}

void FarmPhone::reboot(bool wipe, int bootMillis)
{
    if (wipe) {
        m_files.clear();
        m_apps.clear();
        m_notes.clear();
        m_clipboard.clear();
    }
    emit goingDown();
    m_booting = true;
    ++m_bootCount;
    m_screen = Screen::Home;
    m_menuOpen = false;
    m_touchDown = false;
    m_showFeedback = false;
    m_bootMillis = bootMillis;
    m_bootClock.start();
    m_bootTimer.start();
    markDirty();
}

void FarmPhone::pushFile(const QString &path, qint64 size, const QString &md5)
{
    for (File &f : m_files) {
        if (f.path == path) {
            f.size = size;
            f.md5 = md5;
            markDirty();
            return;
        }
    }
    m_files.append(File{path, size, md5});
    markDirty();
}

void FarmPhone::installApp(const QString &packageName, const QString &label)
{
    for (App &a : m_apps) {
        if (a.packageName == packageName) {
            a.label = label;
            markDirty();
            return;
        }
    }
    m_apps.append(App{packageName, label});
    markDirty();
}

QVector<FarmPhone::App> FarmPhone::homeApps() const
{
    QVector<App> apps{{QStringLiteral("notes"), QStringLiteral("Notes")},
                      {QStringLiteral("files"), QStringLiteral("Files")},
                      {QStringLiteral("settings"), QStringLiteral("Settings")},
                      {QStringLiteral("browser"), QStringLiteral("Browser")}};
    apps += m_apps;
    return apps;
}

QJsonObject FarmPhone::state() const
{
    static const char *const screens[] = {"home", "notes", "files", "app"};
    QJsonArray files;
    for (const File &f : m_files)
        files.append(QJsonObject{{QStringLiteral("path"), f.path},
                                 {QStringLiteral("size"), double(f.size)},
                                 {QStringLiteral("md5"), f.md5}});
    QJsonArray apps;
    for (const App &a : m_apps)
        apps.append(QJsonObject{{QStringLiteral("package"), a.packageName}, {QStringLiteral("label"), a.label}});
    QJsonObject last;
    if (!m_touches.isEmpty())
        last = m_touches.last().toObject();
    return QJsonObject{{QStringLiteral("padCode"), m_padCode},
                       {QStringLiteral("name"), m_name},
                       {QStringLiteral("width"), kWidth},
                       {QStringLiteral("height"), kHeight},
                       {QStringLiteral("rotation"), 0},
                       {QStringLiteral("screen"), QString::fromLatin1(screens[int(m_screen)])},
                       {QStringLiteral("app"), m_screen == Screen::App ? m_openApp : QString()},
                       {QStringLiteral("menuOpen"), m_menuOpen},
                       {QStringLiteral("booting"), m_booting},
                       {QStringLiteral("bootCount"), m_bootCount},
                       {QStringLiteral("notes"), m_notes},
                       {QStringLiteral("clipboard"), m_clipboard},
                       {QStringLiteral("lastTouch"), last},
                       {QStringLiteral("touches"), m_touches},
                       {QStringLiteral("keys"), m_keys},
                       {QStringLiteral("texts"), m_texts},
                       {QStringLiteral("files"), files},
                       {QStringLiteral("apps"), apps},
                       {QStringLiteral("renders"), double(m_renders)},
                       {QStringLiteral("encodes"), double(m_encodes)}};
}

const QImage &FarmPhone::screen()
{
    if (m_dirty) {
        // Drawn first when a session asks: a phone nobody watches holds no screen.
        if (m_image.isNull())
            m_image = QImage(kWidth, kHeight, QImage::Format_RGB32);
        render();
        ++m_renders;
        m_dirty = false;
    }
    return m_image;
}

void FarmPhone::render()
{
    m_clockText = QTime::currentTime().toString(QStringLiteral("HH:mm"));
    QPainter p(&m_image);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_booting) {
        drawBoot(p);
        return;
    }
    switch (m_screen) {
    case Screen::Home:
        drawHome(p);
        break;
    case Screen::Notes:
        drawNotes(p);
        break;
    case Screen::Files:
        drawFiles(p);
        break;
    case Screen::App:
        drawApp(p);
        break;
    }
    drawStatusBar(p);
    drawNavBar(p);
    if (m_menuOpen)
        drawMenu(p);
    if (m_showFeedback) {
        p.setPen(QPen(Qt::white, 4));
        p.setBrush(kFeedbackColor);
        p.drawEllipse(m_touchPoint, kFeedbackRadius, kFeedbackRadius);
    }
}

void FarmPhone::drawStatusBar(QPainter &p) const
{
    p.fillRect(0, 0, kWidth, kStatusBar, QColor(0, 0, 0, 120));
    // Signal bars and battery, right-aligned.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 4; ++i)
        p.drawRect(560 + i * 12, 34 - i * 7, 8, 8 + i * 7);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 2));
    p.drawRoundedRect(QRectF(624, 14, 60, 22), 4, 4);
    p.fillRect(QRectF(628, 18, 44, 14), Qt::white);
    p.fillRect(QRectF(685, 20, 4, 10), Qt::white);
    if (!m_canDrawText)
        return;
    QFont font = p.font();
    font.setPixelSize(26);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(24, 0, 200, kStatusBar), Qt::AlignVCenter | Qt::AlignLeft, m_clockText);
    font.setBold(false);
    font.setPixelSize(22);
    p.setFont(font);
    p.drawText(QRect(200, 0, 320, kStatusBar), Qt::AlignCenter, m_name);
}

void FarmPhone::drawNavBar(QPainter &p) const
{
    const int top = kHeight - kNavBar;
    p.fillRect(0, top, kWidth, kNavBar, Qt::black);
    p.setPen(QPen(QColor(220, 220, 220), 4));
    p.setBrush(Qt::NoBrush);
    const int cy = top + kNavBar / 2;
    QPainterPath back;
    back.moveTo(140, cy - 20);
    back.lineTo(100, cy);
    back.lineTo(140, cy + 20);
    back.closeSubpath();
    p.drawPath(back);
    p.drawEllipse(QPoint(kWidth / 2, cy), 22, 22);
    p.drawRect(QRect(580 - 20, cy - 20, 40, 40));
}

void FarmPhone::drawHeader(QPainter &p, const QString &title, const QColor &color) const
{
    p.fillRect(0, 0, kWidth, kHeaderBottom, color);
    p.setPen(QPen(Qt::white, 5));
    p.drawLine(70, 104, 50, 84);
    p.drawLine(50, 84, 70, 64);
    p.drawLine(50, 84, 96, 84);
    if (!m_canDrawText)
        return;
    QFont font = p.font();
    font.setPixelSize(40);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(140, kStatusBar, kWidth - 160, kHeaderBottom - kStatusBar), Qt::AlignVCenter | Qt::AlignLeft, title);
}

void FarmPhone::drawHome(QPainter &p) const
{
    QLinearGradient bg(0, 0, 0, kHeight);
    bg.setColorAt(0, QColor(25, 60, 120));
    bg.setColorAt(1, QColor(90, 40, 110));
    p.fillRect(m_image.rect(), bg);
    if (m_canDrawText) {
        QFont font = p.font();
        font.setPixelSize(96);
        font.setWeight(QFont::Light);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 60, kWidth, 140), Qt::AlignCenter, m_clockText);
    }
    static const QColor colors[] = {QColor(255, 193, 7), QColor(33, 150, 243), QColor(96, 125, 139),
                                    QColor(76, 175, 80), QColor(244, 67, 54), QColor(0, 188, 212),
                                    QColor(156, 39, 176), QColor(255, 87, 34)};
    const QVector<App> apps = homeApps();
    QFont label = p.font();
    label.setPixelSize(24);
    label.setWeight(QFont::Normal);
    for (int i = 0; i < apps.size(); ++i) {
        const int row = i / kColumns;
        const QRect cell(i % kColumns * kCellWidth, kGridTop + row * kCellHeight, kCellWidth, kCellHeight);
        if (cell.bottom() > kHeight - kNavBar)
            break;
        const QRect icon(cell.center().x() - 56, cell.top() + 20, 112, 112);
        p.setPen(Qt::NoPen);
        p.setBrush(colors[i % 8]);
        p.drawRoundedRect(icon, 28, 28);
        if (!m_canDrawText)
            continue;
        p.setPen(Qt::white);
        QFont glyph = label;
        glyph.setPixelSize(56);
        glyph.setBold(true);
        p.setFont(glyph);
        p.drawText(icon, Qt::AlignCenter, apps.at(i).label.left(1).toUpper());
        p.setFont(label);
        p.drawText(QRect(cell.left(), icon.bottom() + 8, cell.width(), 40), Qt::AlignHCenter | Qt::AlignTop,
                   p.fontMetrics().elidedText(apps.at(i).label, Qt::ElideRight, cell.width() - 10));
    }
}

void FarmPhone::drawNotes(QPainter &p) const
{
    p.fillRect(m_image.rect(), QColor(255, 253, 240));
    drawHeader(p, QStringLiteral("Notes"), QColor(230, 160, 0));
    if (!m_canDrawText)
        return;
    QFont font = p.font();
    font.setPixelSize(34);
    font.setBold(false);
    p.setFont(font);
    p.setPen(QColor(40, 40, 40));
    QString text = m_notes;
    text.replace('\t', QStringLiteral("    "));
    text += QChar(0x2502); // the cursor
    p.drawText(QRect(32, kHeaderBottom + 24, kWidth - 64, kHeight - kNavBar - kHeaderBottom - 48),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, text);
}

void FarmPhone::drawFiles(QPainter &p) const
{
    p.fillRect(m_image.rect(), Qt::white);
    drawHeader(p, QStringLiteral("Files"), QColor(33, 150, 243));
    if (!m_canDrawText)
        return;
    QFont font = p.font();
    font.setPixelSize(28);
    font.setBold(false);
    p.setFont(font);
    if (m_files.isEmpty()) {
        p.setPen(QColor(140, 140, 140));
        p.drawText(QRect(0, kHeaderBottom, kWidth, 200), Qt::AlignCenter, QStringLiteral("No files"));
        return;
    }
    int y = kHeaderBottom + 8;
    for (const File &f : m_files) {
        if (y + 88 > kHeight - kNavBar)
            break;
        p.setPen(QColor(40, 40, 40));
        p.drawText(QRect(32, y, kWidth - 220, 80), Qt::AlignVCenter | Qt::AlignLeft,
                   p.fontMetrics().elidedText(f.path, Qt::ElideMiddle, kWidth - 230));
        p.setPen(QColor(120, 120, 120));
        p.drawText(QRect(kWidth - 200, y, 170, 80), Qt::AlignVCenter | Qt::AlignRight, sizeText(f.size));
        p.fillRect(32, y + 84, kWidth - 64, 1, QColor(220, 220, 220));
        y += 88;
    }
}

void FarmPhone::drawApp(QPainter &p) const
{
    p.fillRect(m_image.rect(), QColor(245, 245, 245));
    drawHeader(p, m_openApp, QColor(0, 150, 136));
    if (!m_canDrawText)
        return;
    QFont font = p.font();
    font.setPixelSize(30);
    font.setBold(false);
    p.setFont(font);
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRect(0, kHeaderBottom, kWidth, 400), Qt::AlignCenter, m_openApp);
}

void FarmPhone::drawMenu(QPainter &p) const
{
    const int top = kHeight - kNavBar - 240;
    p.fillRect(0, 0, kWidth, top, QColor(0, 0, 0, 100));
    p.fillRect(0, top, kWidth, 240, Qt::white);
    p.fillRect(0, top + 120, kWidth, 1, QColor(220, 220, 220));
    if (!m_canDrawText)
        return;
    QFont font = p.font();
    font.setPixelSize(32);
    font.setBold(false);
    p.setFont(font);
    p.setPen(QColor(40, 40, 40));
    p.drawText(QRect(40, top, kWidth - 80, 120), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Clear notes"));
    p.drawText(QRect(40, top + 120, kWidth - 80, 120), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Close"));
}

void FarmPhone::drawBoot(QPainter &p) const
{
    p.fillRect(m_image.rect(), Qt::black);
    const double progress = m_bootMillis > 0 ? qBound(0.0, double(m_bootClock.elapsed()) / m_bootMillis, 1.0) : 1.0;
    p.fillRect(QRect(160, 760, 400, 8), QColor(60, 60, 60));
    p.fillRect(QRect(160, 760, int(400 * progress), 8), QColor(120, 200, 120));
    if (!m_canDrawText)
        return;
    QFont font = p.font();
    font.setPixelSize(64);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(120, 200, 120));
    p.drawText(QRect(0, 520, kWidth, 160), Qt::AlignCenter, QStringLiteral("android"));
}
