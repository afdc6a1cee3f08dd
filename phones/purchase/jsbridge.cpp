#include "phones/purchase/jsbridge.h"

JSBridge::JSBridge(QObject *parent)
    : QObject(parent)
{
}

JSBridge::~JSBridge() = default;

void JSBridge::request(QString strMsg)
{
    emit sigRecvMsgFromJS(strMsg);
}
