#pragma once

#include "platform/swplay/videolevel.h"

#include <QSize>
#include <QString>

#include <array>

// How a stream is asked for and how its window looks: encoding levels,
// picture sizes, the status label, the disconnect toast. No widgets.
namespace StreamLook {

// The four encoding levels handed to every stream, level 1 first.
std::array<VideoLevel, 4> videoLevels();

// The picture size a control window shows a frame at.
QSize pictureSize(bool portrait);

// What the status label of a control window shows for a control status.
struct StatusLook
{
    QString text;
    QString styleSheet;
    bool highlighted = false;
};
StatusLook statusLook(int controlStatus);

// The toast a control window shows when its stream ends.
QString disconnectText(const QString &phoneId, const QString &code);

} // namespace StreamLook
