#include "stream/streamlook.h"

namespace StreamLook {

std::array<VideoLevel, 4> videoLevels()
{
    return {{{2, 720, 1280, 20, 15, 4096, 45, 1, 1, 0, 0},
             {2, 576, 1024, 20, 15, 2048, 45, 2, 2, 0, 0},
             {2, 432, 768, 20, 15, 1024, 45, 3, 3, 0, 0},
             {2, 288, 512, 20, 15, 512, 45, 4, 4, 0, 0}}};
}

QSize pictureSize(bool portrait)
{
    return portrait ? QSize(500, 790) : QSize(900, 400);
}

StatusLook statusLook(int controlStatus)
{
    static const QString normal = QStringLiteral("#mcl {color:#000000;border-radius: 10px 10px 10px 10px;}");
    static const QString highlighted =
        QStringLiteral("#mcl {border :1px solid #94d3ff;color:#94d3ff;border-radius: 10px 10px 10px 10px;}");
    switch (controlStatus) {
    case 1:
        return {QStringLiteral("被控中"), highlighted, true};
    case 2:
        return {QStringLiteral("主控中"), normal, false};
    default:
        return {QStringLiteral("单机中"), normal, false};
    }
}

QString disconnectText(const QString &phoneId, const QString &code)
{
    return QStringLiteral("云手机 %1 断开连接.(%2)").arg(phoneId, code);
}

} // namespace StreamLook
