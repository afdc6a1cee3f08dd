#include "stream/operationrelay.h"

#include "app/logger.h"
#include "platform/swplay/swplay.h"

void applyRelayedOperation(SWDataSource &source, const QString &otype, int oper, int *datax, int *datay,
                           float *dataf, const QString &copycontent)
{
    if (otype == QLatin1String("OnTouchEvent") && datax && datay && dataf)
        source.sendTouchEvent(oper, 1, datax, datay, dataf);
    if (otype == QLatin1String("sendKeyEvent") && datax && datax[0] != 0)
        source.sendKeyEvent(oper, datax[0]);
    if (otype == QLatin1String("copyContent"))
        copyTextToRemote(source, copycontent);
    if (otype == QLatin1String("sendText") && !copycontent.isEmpty())
        sendTextToRemote(source, copycontent);
}

void copyTextToRemote(SWDataSource &source, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (source.copyToRemote(bytes.constData(), bytes.size()) != 0)
        LOG_WARN() << "粘贴内容失败!!!";
}

void sendTextToRemote(SWDataSource &source, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const int res = source.sendText(bytes.constData(), bytes.size());
    if (res != 0)
        LOG_WARN() << "text input failed:" << res << "characters:" << text.size();
}
