#include "stream/inputmapping.h"

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
