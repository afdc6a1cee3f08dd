#include "stream/phonecontroller.h"

#include "app/logger.h"
#include "app/memoryrelease.h"
#include "stream/inputmapping.h"
#include "stream/streamlook.h"
#include "stream/videorender.h"
#include "widgets/clickablelabel.h"
#include "widgets/titlewidget.h"
#include "widgets/toast.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QSpacerItem>
#include <QTimer>
#include <QVBoxLayout>

namespace {

ClickableLabel *androidKey(QWidget *parent, const char *name, const char *picture, const QString &tip)
{
    auto *key = new ClickableLabel(parent);
    key->setObjectName(QLatin1String(name));
    key->setFixedSize(44, 44);
    key->setCursor(Qt::PointingHandCursor);
    key->setToolTip(tip);
    key->setStyleSheet(QStringLiteral("#%1{\n\tbackground-image: url(:/image/phone/%2.png)\n}")
                           .arg(QLatin1String(name), QLatin1String(picture)));
    return key;
}

} // namespace

PhoneController::PhoneController(QWidget *parent)
    : DraggableWidget(parent)
{
    setupUi();
    setWindowTitle(QStringLiteral("云手机"));
    resize(520, 918);

    // Every key belongs to the phone. A child holding the focus would eat
    // some of them first (a picture button swallows the space bar), so only
    // the window itself takes the keyboard.
    const QList<QWidget *> children = findChildren<QWidget *>();
    for (QWidget *child : children)
        child->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);

    m_titleWidget->setSettingButtonHidden(true);
    m_titleWidget->setMaxButtonHidden(true);
    m_titleWidget->setBrandHidden(true);
    m_titleWidget->setUserInfoHidden(true);
    showControlStatus();

    connect(m_mcl, &ClickableLabel::clicked, this, &PhoneController::queryControlStatus);
    connect(m_icon, &ClickableLabel::clicked, m_videoRender, &VideoRender::togglePanel);
    connect(m_pasteBtn, &ClickableLabel::clicked, this, &PhoneController::paste);
    connect(m_homeControl, &ClickableLabel::clicked, this, [this] { m_videoRender->sendNavigationKey(1); });
    connect(m_backControl, &ClickableLabel::clicked, this, [this] { m_videoRender->sendNavigationKey(2); });
    connect(m_menuControl, &ClickableLabel::clicked, this, [this] { m_videoRender->sendNavigationKey(3); });

    // The record's arrays live only while the view emits: relay it directly.
    connect(m_videoRender, &VideoRender::sendSigleOperateDataVD, this,
            [this](const QString &otype, int oper, int *datax, int *datay, float *dataf) {
                emit sendSigleOperateDataPC(otype, oper, datax, datay, dataf, m_controlStatus, QString());
            },
            Qt::DirectConnection);
    // These two may come from the library's threads; they are handled here.
    connect(m_videoRender, &VideoRender::OnConnectedSignal, this, [this](const QString &res, const QString &id) {
        // A window that already closed (a reboot it asked for drops the
        // stream too) keeps quiet rather than replace its own toast.
        if (m_videoRender->isStopped())
            return;
        Toast::instance()->show(0, StreamLook::disconnectText(id, res), this);
    });
    // "退出云机" stops the view itself and sends both; a disconnect or a
    // reboot or reset from the panel sends closePhoneController alone.
    connect(m_videoRender, &VideoRender::exitVideoRender, this, [this] { finish(false); });
    connect(m_videoRender, &VideoRender::closePhoneController, this, [this] { finish(true); });
    connect(m_videoRender, &VideoRender::sizeChange, this, [this](bool isVertical) {
        if (isVertical)
            resize(918, 520);
        else
            resize(520, 918);
    });

    connect(m_titleWidget, &TitleWidget::windowClosed, this, [this] { finish(false); });
    connect(m_titleWidget, &TitleWidget::windowMin, this, &QWidget::showMinimized);

    QTimer::singleShot(1000, this, [this] {
        if (!m_ended)
            queryControlStatus();
    });
}

void PhoneController::finish(bool phoneLost)
{
    if (m_ended)
        return;
    m_ended = true;
    m_endedByPhone = phoneLost;
    m_videoRender->stopStream();
    hide();
    // An ended window plays no role; the next opening asks again.
    setControlStatus(-1);
    LOG_INFO() << "PhoneController: ended" << m_currentId->text() << (phoneLost ? "(phone lost)" : "");
    emit reloadSDK();
    // The stream's buffers are freed by now or shortly after, on the
    // library's threads.
    QTimer::singleShot(500, this, [] { MemoryRelease::releaseFreed(); });
}

void PhoneController::closeEvent(QCloseEvent *event)
{
    event->ignore();
    finish(false);
}

void PhoneController::showRelayReach(int phones)
{
    const QString tip = QStringLiteral("已同步到 %1 台云机").arg(phones);
    // Every finger move comes through here: only a change is worth a call.
    if (m_mcl->toolTip() != tip)
        m_mcl->setToolTip(tip);
}

PhoneController::~PhoneController()
{
    // An answer still on its way finds the view stopped (or gone) and
    // starts nothing.
    m_videoRender->stopStream();
}

void PhoneController::setupUi()
{
    setObjectName(QStringLiteral("PhoneController"));

    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(0);
    verticalLayout->setContentsMargins(ShadowMargin, ShadowMargin, ShadowMargin, ShadowMargin);

    auto *horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(0);

    m_header = new QWidget(this);
    m_header->setObjectName(QStringLiteral("widget"));
    // The header keeps room for its texts; the title bar takes what is left.
    m_header->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    auto *horizontalLayout_2 = new QHBoxLayout(m_header);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));

    m_icon = new ClickableLabel(m_header);
    m_icon->setObjectName(QStringLiteral("icon"));
    m_icon->setMaximumSize(32, 32);
    m_icon->setPixmap(QPixmap(QStringLiteral(":/image/phone/icon.png")));
    m_icon->setCursor(Qt::PointingHandCursor);
    horizontalLayout_2->addWidget(m_icon);

    auto *verticalLayout_2 = new QVBoxLayout();
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    m_currentId = new QLabel(m_header);
    m_currentId->setObjectName(QStringLiteral("currentID"));
    verticalLayout_2->addWidget(m_currentId);
    m_currentTime = new QLabel(m_header);
    m_currentTime->setObjectName(QStringLiteral("currentTime"));
    verticalLayout_2->addWidget(m_currentTime);
    horizontalLayout_2->addLayout(verticalLayout_2);

    horizontalLayout_2->addItem(new QSpacerItem(10, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    m_mcl = new ClickableLabel(m_header);
    m_mcl->setObjectName(QStringLiteral("mcl"));
    horizontalLayout_2->addWidget(m_mcl);
    horizontalLayout_2->addItem(new QSpacerItem(10, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    m_pasteBtn = new ClickableLabel(m_header);
    m_pasteBtn->setObjectName(QStringLiteral("pasteBtn"));
    m_pasteBtn->setText(QStringLiteral("粘贴文本"));
    m_pasteBtn->setStyleSheet(
        QStringLiteral("#pasteBtn {\nborder :1px solid #94d3ff;\ncolor:#94d3ff;\nborder-radius: 10px 10px 10px 10px;\n}"));
    horizontalLayout_2->addWidget(m_pasteBtn, 0, Qt::AlignVCenter);
    horizontalLayout->addWidget(m_header);

    m_titleWidget = new TitleWidget(this);
    m_titleWidget->setObjectName(QStringLiteral("titleWidget"));
    m_titleWidget->setMinimumHeight(50);
    horizontalLayout->addWidget(m_titleWidget, 1);
    verticalLayout->addLayout(horizontalLayout);

    m_videoRender = new VideoRender(this);
    m_videoRender->setObjectName(QStringLiteral("videoRender"));
    verticalLayout->addWidget(m_videoRender, 1);

    m_sysMenu = new QWidget(this);
    m_sysMenu->setObjectName(QStringLiteral("sysMenu"));
    m_sysMenu->setFixedHeight(50);
    auto *horizontalLayout_3 = new QHBoxLayout(m_sysMenu);
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    horizontalLayout_3->setContentsMargins(0, 0, 9, 0);
    horizontalLayout_3->addItem(new QSpacerItem(66, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_backControl = androidKey(m_sysMenu, "backControl", "Android-back", QStringLiteral("返回"));
    horizontalLayout_3->addWidget(m_backControl);
    horizontalLayout_3->addItem(new QSpacerItem(65, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_homeControl = androidKey(m_sysMenu, "homeControl", "Android-home", QStringLiteral("首页"));
    horizontalLayout_3->addWidget(m_homeControl);
    horizontalLayout_3->addItem(new QSpacerItem(66, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_menuControl = androidKey(m_sysMenu, "menuControl", "Android-menu", QStringLiteral("菜单"));
    horizontalLayout_3->addWidget(m_menuControl);
    horizontalLayout_3->addItem(new QSpacerItem(65, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    verticalLayout->addWidget(m_sysMenu);
}

void PhoneController::setCurrentId(const QString &id)
{
    m_currentId->setText(id);
    m_videoRender->setPhoneId(id);
}

void PhoneController::setCurrentTime(const QString &text)
{
    m_currentTime->setText(text);
}

void PhoneController::startStream(const QString &sn)
{
    // A window opened again asks for its role as a new one does.
    const bool reopening = m_ended;
    m_ended = false;
    m_endedByPhone = false;
    m_videoRender->resetView();
    m_videoRender->show();
    m_videoRender->openServerSN(sn);
    if (reopening) {
        QTimer::singleShot(1000, this, [this] {
            if (!m_ended)
                queryControlStatus();
        });
    }
}

void PhoneController::setControlStatus(int status)
{
    m_controlStatus = status;
    showControlStatus();
}

void PhoneController::showControlStatus()
{
    const StreamLook::StatusLook look = StreamLook::statusLook(m_controlStatus);
    m_mcl->setText(look.text);
    m_mcl->setStyleSheet(look.styleSheet);
    if (m_controlStatus != 2)
        m_mcl->setToolTip(QString());
}

void PhoneController::queryControlStatus()
{
    const int status = getMachineControlStatusPC(m_controlStatus);
    m_controlStatus = status;
    LOG_INFO() << "mscpc" << status;
    showControlStatus();
}

void PhoneController::bringToFront()
{
    // Raised first, so the toast lands on top of it.
    raise();
    activateWindow();
    Toast::instance()->show(1, QStringLiteral("该云机已经打开"), this);
}

bool PhoneController::isShown() const
{
    return isVisible();
}

void PhoneController::applyOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                                     const QString &copycontent)
{
    m_videoRender->applyOperation(otype, oper, datax, datay, dataf, copycontent);
}

void PhoneController::paste()
{
    const QString text = QGuiApplication::clipboard()->text();
    qDebug() << "复制内容:" << text;
    m_videoRender->pasteText(text);
    int x = -1;
    int y = -1;
    float f = -1.0f;
    emit sendSigleOperateDataPC(QStringLiteral("copyContent"), -1, &x, &y, &f, m_controlStatus, text);
}

void PhoneController::keyPressEvent(QKeyEvent *event)
{
    // Every key belongs to the phone, Escape included (it is the phone's
    // Back), so the dialog base never sees it.
    const InputMapping::KeyInput input = InputMapping::keyInput(event->key(), event->text(), event->modifiers());
    switch (input.kind) {
    case InputMapping::KeyInput::Key:
        if (input.keyValue == 8)
            qDebug() << "key delete";
        else if (input.keyValue == 13)
            qDebug() << "key enter";
        m_videoRender->sendKey(input.keyValue);
        break;
    case InputMapping::KeyInput::Text:
        typeText(input.text);
        break;
    case InputMapping::KeyInput::Nothing:
        break;
    }
    event->accept();
}

void PhoneController::typeText(const QString &text)
{
    if (text.isEmpty() || !m_videoRender->sendText(text))
        return;
    // Recorded like a paste: the text travels in copycontent.
    int x = -1;
    int y = -1;
    float f = -1.0f;
    emit sendSigleOperateDataPC(QStringLiteral("sendText"), -1, &x, &y, &f, m_controlStatus, text);
}

void PhoneController::inputMethodEvent(QInputMethodEvent *event)
{
    // Only the commit counts: the phone has no field here to show the
    // composition in, the input method shows it in its own window.
    typeText(InputMapping::committedText(event->commitString()));
    event->accept();
}

QVariant PhoneController::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImHints:
        return int(Qt::ImhNoPredictiveText);
    case Qt::ImCursorRectangle: {
        // The candidate window opens under the phone's upper half, where a
        // phone's text field usually sits.
        const QPoint origin = m_videoRender->mapTo(this, QPoint(0, 0));
        return QRect(origin.x() + m_videoRender->width() / 2, origin.y() + m_videoRender->height() / 3, 1, 20);
    }
    case Qt::ImSurroundingText:
    case Qt::ImCurrentSelection:
        return QString();
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
        return 0;
    default:
        return DraggableWidget::inputMethodQuery(query);
    }
}
