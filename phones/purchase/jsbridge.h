#pragma once

#include <QObject>
#include <QString>

// What the purchase page's script sees as "jsBridgeObj": one call that
// tells the client the page is done.
class JSBridge final : public QObject
{
    Q_OBJECT

public:
    explicit JSBridge(QObject *parent = nullptr);
    ~JSBridge() override;

public slots:
    void request(QString strMsg);

signals:
    void sigRecvMsgFromJS(QString strMsg);

private:
    Q_DISABLE_COPY_MOVE(JSBridge)
};
