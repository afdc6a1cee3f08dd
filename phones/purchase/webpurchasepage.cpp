#include "phones/purchase/webpurchasepage.h"

#include "phones/mainwindow.h"
#include "phones/purchase/jsbridge.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

WebPurchasePage::WebPurchasePage(QObject *parent)
    : PurchasePage(parent)
{
    // The web engine's profile goes away with the application: a view
    // still alive then (the main window never closes) must go first.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        delete m_view;
        delete m_bridge;
    });
}

WebPurchasePage::~WebPurchasePage() = default;

void WebPurchasePage::open(QWidget *page, const QUrl &url)
{
    // The earlier opening goes first: its bridge can no longer send the
    // client back, its view (and with it its page, channel and renderer)
    // is deleted once control is back in the event loop, since its script
    // may be what got us here.
    if (m_bridge) {
        m_bridge->disconnect(this);
        m_bridge->deleteLater();
    }
    if (m_view) {
        m_view->hide();
        m_view->deleteLater();
    }

    auto *view = new QWebEngineView;
    view->load(url);
    view->setZoomFactor(view->zoomFactor() - 0.1);

    auto *channel = new QWebChannel(view->page());
    auto *bridge = new JSBridge(parent() ? parent() : this);
    channel->registerObject(QStringLiteral("jsBridgeObj"), bridge);
    view->page()->setWebChannel(channel);
    connect(bridge, &JSBridge::sigRecvMsgFromJS, this, &PurchasePage::finished);

    auto *layout = new QHBoxLayout;
    layout->addWidget(view);
    // Only the layout goes; the widgets it held stay children of the page.
    delete page->layout();
    page->setLayout(layout);

    m_view = view;
    m_bridge = bridge;
}

void installPurchasePage()
{
    MainWindow::setPurchasePageFactory([](QObject *parent) -> PurchasePage * { return new WebPurchasePage(parent); });
}
