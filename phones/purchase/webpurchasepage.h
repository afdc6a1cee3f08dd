#pragma once

#include "phones/purchase/jsbridge.h"
#include "phones/purchasepage.h"

#include <QPointer>
#include <QWebEngineView>

// The purchase page in a Qt web-engine view at 90 % zoom, with a web channel
// that publishes a JSBridge as "jsBridgeObj". Each opening builds a new
// view, channel and bridge; those of the opening before are released, so
// reopening the page never piles up browsers.
class WebPurchasePage final : public PurchasePage
{
    Q_OBJECT

public:
    // Bridges are made with `parent` (the main window) as their parent.
    explicit WebPurchasePage(QObject *parent = nullptr);
    ~WebPurchasePage() override;

    void open(QWidget *page, const QUrl &url) override;

    QWebEngineView *view() const { return m_view; }
    JSBridge *bridge() const { return m_bridge; }

private:
    Q_DISABLE_COPY_MOVE(WebPurchasePage)

    QPointer<QWebEngineView> m_view;
    QPointer<JSBridge> m_bridge;
};

// Lets the main window build this page on its first opening.
void installPurchasePage();
