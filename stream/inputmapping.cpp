#include "stream/inputmapping.h"

#include "platform/swplay/keyboard.h"

#include <QtGlobal>

namespace InputMapping {

QPoint toPhone(const QPointF &viewPos, const QSize &viewSize, const QSize &sourceSize, bool portrait)
{
    const float w = float(viewSize.width());
    const float h = float(viewSize.height());
    if (w <= 0.f || h <= 0.f)
        return QPoint(0, 0);
    const float x = float(viewPos.x());
    const float y = float(viewPos.y());
    float fx;
    float fy;
    if (portrait) {
        fx = x / w;
        fy = y / h;
    } else {
        // The picture is turned by 270 degrees: the view's left edge is the
        // phone's top, the view's top is the phone's right edge.
        fx = (h - y) / h;
        fy = x / w;
    }
    return QPoint(int(float(sourceSize.width()) * fx), int(float(sourceSize.height()) * fy));
}

int keyValue(int toolkitKey)
{
    switch (toolkitKey) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Return:
        return 13;
    default:
        return toolkitKey;
    }
}

namespace {

bool isPrintable(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

// Characters a phone key types without Shift.
bool typedByPlainKey(QChar c)
{
    const ushort u = c.unicode();
    if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9'))
        return true;
    return u < 0x80 && QByteArrayLiteral(" ,.-=[]\\;'/`@+*#").contains(char(u));
}

} // namespace

KeyInput keyInput(int toolkitKey, const QString &text, Qt::KeyboardModifiers modifiers)
{
    KeyInput input;
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        // A shortcut, not typing; only keys without characters still count.
        if (toolkitKey < Qt::Key_Escape)
            return input;
    } else if (isPrintable(text)) {
        if (text.size() == 1 && typedByPlainKey(text.at(0))) {
            input.kind = KeyInput::Key;
            input.keyValue = text.at(0).unicode();
        } else {
            input.kind = KeyInput::Text;
            input.text = text;
        }
        return input;
    }
    // Printable keys reach this point only without their character (a
    // shortcut, or a key the layout gives nothing for): they type nothing.
    if (toolkitKey < Qt::Key_Escape)
        return input;
    const int value = keyValue(toolkitKey);
    if (Keyboard::GetInstance()->getKeyCode(value) == 0)
        return input;
    input.kind = KeyInput::Key;
    input.keyValue = value;
    return input;
}

QString committedText(const QString &commit)
{
    QString out;
    out.reserve(commit.size());
    for (const QChar c : commit) {
        if (c.category() != QChar::Other_Control && c.unicode() != 0x7f)
            out.append(c);
    }
    return out;
}

int navigationKeyCode(int which)
{
    switch (which) {
    case 1:
        return 172; // KEY_HOMEPAGE
    case 2:
        return 158; // KEY_BACK
    case 3:
        return 139; // KEY_MENU
    default:
        return 0;
    }
}

bool panelSurvivesPress(const QPoint &viewPos, const QSize &panelSize, bool portrait)
{
    const bool inside = QRect(QPoint(0, 0), panelSize).contains(viewPos);
    return portrait ? inside : !inside;
}

} // namespace InputMapping
