#include "upload/uploadfiles.h"

#include "app/logger.h"
#include "api/utils.h"
#include "upload/uploadblocks.h"
#include "widgets/flowlayout.h"
#include "widgets/infodialog.h"
#include "widgets/slidenavigation.h"
#include "widgets/toast.h"

#include <QDateTime>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QMutex>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char *const ScrollStyle =
    "QScrollArea {border: none;}QScrollArea QScrollBar::vertical {width: 5px;background: transparent;border-radius: "
    "2px;}QScrollArea QScrollBar::handle:vertical {background: #94D3FF; transparent;border-radius: 2px;}QScrollArea "
    "QScrollBar::add-line:vertical {background: none;}QScrollArea QScrollBar::sub-line:vertical {background: none;}";

QPushButton *barButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setProperty("class", QStringLiteral("btn"));
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumSize(96, 32);
    return button;
}

bool goodName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-zA-Z0-9.\\-_]+$"));
    return pattern.match(name).hasMatch();
}

QStringList localFiles(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

} // namespace

UploadFiles *UploadFiles::instance()
{
    static QMutex mutex;
    static UploadFiles *window = nullptr;
    QMutexLocker lock(&mutex);
    if (!window)
        window = new UploadFiles;
    return window;
}

void UploadFiles::open(const QMap<QString, QString> &targets, QWidget *anchor)
{
    UploadFiles *window = instance();
    window->setTargets(targets);
    window->showOver(anchor);
}

void UploadFiles::showOver(QWidget *anchor)
{
    show();
    raise();
    activateWindow();
    QWidget *over = anchor ? anchor->window() : nullptr;
    if (!over)
        return;
    centerOver(this, over);
    // A control window is narrower than this one: near the screen's edge,
    // centring alone would push part of the window off the screen.
    QScreen *screen = over->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const int x = qBound(area.left(), frame.left(), qMax(area.left(), area.right() - frame.width() + 1));
    const int y = qBound(area.top(), frame.top(), qMax(area.top(), area.bottom() - frame.height() + 1));
    move(pos() + QPoint(x, y) - frame.topLeft());
}

UploadFiles::UploadFiles()
{
    setWindowTitle(QStringLiteral("文件上传"));
    setFixedSize(600 + 2 * ShadowMargin, 500 + 2 * ShadowMargin);
    setAcceptDrops(true);
    buildUi();
    m_installButton->setEnabled(false);
    m_uploadButton->setEnabled(false);
    connect(&m_scheduler, &QTimer::timeout, this, &UploadFiles::schedule);
    connect(m_navigation, &SlideNavigation::itemClicked, this, [this](int index) { showPage(index); });
    connect(m_selectButton, &QPushButton::clicked, this, &UploadFiles::chooseFiles);
    connect(m_installButton, &QPushButton::clicked, this, [this] { startUpload(true); });
    connect(m_uploadButton, &QPushButton::clicked, this, [this] { startUpload(false); });
    QTimer::singleShot(10, this, [this] { showPage(0); });
    QTimer::singleShot(20, this, &UploadFiles::fetchUploadParameters);
}

UploadFiles::~UploadFiles() = default;

void UploadFiles::buildUi()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(ShadowMargin, ShadowMargin, ShadowMargin, ShadowMargin);
    outer->setSpacing(0);

    auto *title = new QWidget(this);
    title->setObjectName(QStringLiteral("uploadFilesTitle"));
    title->setAttribute(Qt::WA_StyledBackground);
    title->setFixedHeight(44);
    title->setStyleSheet(QStringLiteral("#uploadFilesTitle{\n\nbackground-color: #0598FE;\nborder-radius: 6px 6px 6px 6px;\n}"));
    auto *titleRow = new QHBoxLayout(title);
    titleRow->setContentsMargins(16, 0, 12, 0);
    auto *titleIcon = new QLabel(title);
    titleIcon->setPixmap(QPixmap(QStringLiteral(":/image/phone/icon_upload_title.png")).scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    titleRow->addWidget(titleIcon);
    auto *titleText = new QLabel(QStringLiteral("文件上传"), title);
    titleText->setObjectName(QStringLiteral("uploadFilesTitleText"));
    titleText->setStyleSheet(QStringLiteral("color:#fff;\nfont-size: 16px;"));
    titleRow->addWidget(titleText);
    titleRow->addStretch();
    auto *close = new QPushButton(title);
    close->setObjectName(QStringLiteral("uploadFilesClose"));
    close->setIcon(QIcon(QStringLiteral(":/image/phone/icon_upload_title_close.png")));
    close->setIconSize(QSize(16, 16));
    close->setFixedSize(24, 24);
    close->setCursor(Qt::PointingHandCursor);
    close->setStyleSheet(QStringLiteral("border:0;"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    titleRow->addWidget(close);
    outer->addWidget(title);

    m_navigation = new SlideNavigation(this);
    m_navigation->setObjectName(QStringLiteral("uploadNavigation"));
    m_navigation->setOrientation(SlideNavigation::Horizontal);
    m_navigation->setFixedHeight(40);
    for (const QString &item : {QStringLiteral("添加文件"), QStringLiteral("传输中"), QStringLiteral("传输历史")})
        m_navigation->addItem(item);
    outer->addWidget(m_navigation);

    m_pages = new QStackedWidget(this);
    // "添加文件": cards in a flow layout above the prompt.
    auto *addPage = new QWidget;
    addPage->setObjectName(QStringLiteral("pageAdd1"));
    auto *addLayout = new QVBoxLayout(addPage);
    addLayout->setContentsMargins(0, 0, 0, 0);
    auto *addArea = new QScrollArea(addPage);
    addArea->setObjectName(QStringLiteral("pageAddScrollArea"));
    addArea->setWidgetResizable(true);
    addArea->setStyleSheet(QLatin1String(ScrollStyle));
    auto *addInner = new QWidget;
    auto *addInnerLayout = new QVBoxLayout(addInner);
    m_addContent = new QWidget(addInner);
    m_addContent->setObjectName(QStringLiteral("uploadFilesContent"));
    addInnerLayout->addWidget(m_addContent);
    m_prompt = new QLabel(QStringLiteral("<html><head/><body><p>上传文件名称不支持中文称且单次上传文件大小不得超过4G，总限制"
                                         "上传文件大小为8G。仅apk文件支持自动安装。</p></body></html>"),
                          addInner);
    m_prompt->setObjectName(QStringLiteral("uploadFilesPrompt"));
    m_prompt->setStyleSheet(QStringLiteral("#uploadFilesPrompt {\ncolor:#8E969C;\n}"));
    m_prompt->setWordWrap(true);
    m_prompt->setAlignment(Qt::AlignCenter);
    addInnerLayout->addWidget(m_prompt);
    addInnerLayout->addStretch();
    addInner->setStyleSheet(QStringLiteral("background-color: #FFFFFF"));
    addArea->setWidget(addInner);
    addLayout->addWidget(addArea);
    m_pages->addWidget(addPage);
    m_pages->addWidget(buildListPage("pageUpload", "pageUploadScrollArea", &m_uploadingLayout));
    m_pages->addWidget(buildListPage("pageHistory", "pageHistoryScrollArea", &m_historyLayout));
    m_historyLayout->setDirection(QBoxLayout::BottomToTop);
    outer->addWidget(m_pages, 1);

    m_buttonBar = new QWidget(this);
    m_buttonBar->setObjectName(QStringLiteral("uploadFilesButtonDev"));
    auto *bar = new QHBoxLayout(m_buttonBar);
    bar->setContentsMargins(16, 8, 16, 12);
    m_filesInfo = new QLabel(QStringLiteral("总0项,共计0MB"), m_buttonBar);
    m_filesInfo->setObjectName(QStringLiteral("filesInfo"));
    m_filesInfo->setStyleSheet(QStringLiteral("color: #333333"));
    bar->addWidget(m_filesInfo);
    bar->addStretch();
    m_selectButton = barButton(m_buttonBar, "selectFilesButton", QStringLiteral("添加文件"));
    m_installButton = barButton(m_buttonBar, "uploadInstallButton", QStringLiteral("上传并安装"));
    m_uploadButton = barButton(m_buttonBar, "uploadButton", QStringLiteral("上传"));
    for (QPushButton *button : {m_selectButton, m_installButton, m_uploadButton})
        bar->addWidget(button);
    outer->addWidget(m_buttonBar);
}

QWidget *UploadFiles::buildListPage(const char *name, const char *areaName, QVBoxLayout **layout)
{
    auto *page = new QWidget;
    page->setObjectName(QLatin1String(name));
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);
    auto *header = new QWidget(page);
    auto *headerRow = new QHBoxLayout(header);
    // Row margin 10 + icon 32 + spacing 8 puts the first column over the names.
    headerRow->setContentsMargins(50, 6, 10, 6);
    headerRow->setSpacing(8);
    const QList<QPair<QString, int>> columns{{QStringLiteral("文件名"), UploadText::NameColumnWidth},
                                             {QStringLiteral("上传云机"), UploadText::MachineColumnWidth},
                                             {QStringLiteral("状态"), UploadText::StateColumnWidth}};
    for (const auto &column : columns) {
        auto *l = new QLabel(column.first, header);
        l->setStyleSheet(QStringLiteral("color:#8E969C"));
        l->setFixedWidth(column.second);
        headerRow->addWidget(l);
    }
    headerRow->addStretch();
    pageLayout->addWidget(header);
    auto *area = new QScrollArea(page);
    area->setObjectName(QLatin1String(areaName));
    area->setWidgetResizable(true);
    area->setStyleSheet(QLatin1String(ScrollStyle));
    auto *content = new QWidget;
    content->setStyleSheet(QStringLiteral("background-color: #FFFFFF"));
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    contentLayout->addStretch();
    area->setWidget(content);
    pageLayout->addWidget(area, 1);
    *layout = contentLayout;
    return page;
}

void UploadFiles::setTargets(const QMap<QString, QString> &targets)
{
    m_targets = targets;
}

void UploadFiles::showPage(int index)
{
    if (index < 0 || index > 2)
        return;
    m_pages->setCurrentIndex(index);
    m_buttonBar->setVisible(index == 0);
    if (m_navigation->currentIndex() != index) {
        // The bar reports the move as a click, which would land here again.
        const QSignalBlocker blocker(m_navigation);
        m_navigation->moveTo(index);
    }
}

int UploadFiles::currentPage() const
{
    return m_pages->currentIndex();
}

void UploadFiles::fetchUploadParameters()
{
    Utils *utils = Utils::instance();
    if (!utils->fetchToken() || !utils->fetchStsCredentials()) {
        LOG_INFO() << "Failed to get upload file parameters";
    }
}

void UploadFiles::chooseFiles()
{
    const QStringList paths = QFileDialog::getOpenFileNames(this, QStringLiteral("请选择文件"));
    addFiles(paths);
}

void UploadFiles::addFiles(const QStringList &paths)
{
    m_badNames.clear();
    if (!m_fileLayout)
        m_fileLayout = new FlowLayout(m_addContent);
    for (const QString &path : paths) {
        const QFileInfo info(path);
        const QString name = info.fileName();
        if (!goodName(name))
            m_badNames.append(name);
        if (m_selectedNames.contains(name))
            continue;
        m_totalSize += info.size();
        auto *card = new uploadFileBlock(path, m_addContent);
        m_selectedNames.insert(name, name);
        connect(card, &uploadFileBlock::clicked, this, &UploadFiles::removeCard);
        m_fileLayout->addWidget(card);
    }
    if (!m_badNames.isEmpty())
        Toast::instance()->show(1, QStringLiteral("存在上传文件名不符合要求，会造成上传失败，请修改相关文件名"), this);
    refreshSummary();
}

void UploadFiles::removeCard(const QString &name)
{
    qDebug() << "删除文件-" + name;
    for (uploadFileBlock *card : fileCards()) {
        if (card->fileName() == name) {
            m_totalSize -= card->fileSize();
            m_selectedNames.remove(name);
            delete card;
        }
    }
    refreshSummary();
}

QList<uploadFileBlock *> UploadFiles::fileCards() const
{
    QList<uploadFileBlock *> cards;
    if (!m_fileLayout)
        return cards;
    for (int i = 0; i < m_fileLayout->count(); ++i) {
        if (auto *card = qobject_cast<uploadFileBlock *>(m_fileLayout->itemAt(i)->widget()))
            cards.append(card);
    }
    return cards;
}

QList<uploadHistory *> UploadFiles::historyRows() const
{
    QList<uploadHistory *> rows;
    // Bottom-to-top layout: the last item is drawn on top, the newest.
    for (int i = m_historyLayout->count() - 1; i >= 0; --i) {
        if (auto *row = qobject_cast<uploadHistory *>(m_historyLayout->itemAt(i)->widget()))
            rows.append(row);
    }
    return rows;
}

QString UploadFiles::summaryText() const
{
    return m_filesInfo->text();
}

void UploadFiles::refreshSummary()
{
    const int n = fileCards().size();
    const float mb = float(m_totalSize) / 1024 / 1024;
    m_filesInfo->setText(QStringLiteral("总%1项,共计%2MB").arg(n).arg(QString::number(double(mb), 'f', 2)));
    m_installButton->setEnabled(n > 0);
    m_uploadButton->setEnabled(n > 0);
    m_prompt->setVisible(n == 0);
}

uploadingBlock *UploadFiles::addRow(const QString &path, const QString &name, const QString &serverSn, bool install)
{
    auto *row = new uploadingBlock(path);
    row->setMachineName(name);
    row->setServerSn(serverSn);
    row->setInstall(install);
    connect(row, &uploadingBlock::cancelRequested, this, [this](uploadingBlock *r) {
        moveToHistory(r, QStringLiteral("取消上传"));
    });
    // Rows sit above the layout's closing stretch.
    m_uploadingLayout->insertWidget(m_uploadingLayout->count() - 1, row);
    m_rows.append(row);
    return row;
}

void UploadFiles::startUpload(bool install)
{
    qDebug() << (install ? "上传并安装" : "上传");
    if (!Utils::instance()->hasStsCredentials()) {
        QTimer::singleShot(20, this, &UploadFiles::fetchUploadParameters);
        Toast::instance()->show(2, QStringLiteral("参数获取失败，请重试"), this);
        return;
    }
    showPage(1);
    const QList<uploadFileBlock *> cards = fileCards();
    for (auto it = m_targets.cbegin(); it != m_targets.cend(); ++it) {
        for (uploadFileBlock *card : cards)
            addRow(card->filePath(), it.key(), it.value(), install);
    }
    qDeleteAll(cards);
    m_selectedNames.clear();
    m_totalSize = 0;
    refreshSummary();
    m_scheduler.start(SchedulerIntervalMs);
}

void UploadFiles::queueForPhone(const QString &name, const QString &serverSn, const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    if (!Utils::instance()->hasStsCredentials())
        fetchUploadParameters();
    for (const QString &path : paths)
        addRow(path, name, serverSn, QFileInfo(path).suffix().compare(QLatin1String("apk"), Qt::CaseInsensitive) == 0);
    m_scheduler.start(SchedulerIntervalMs);
}

void UploadFiles::schedule()
{
    const QList<uploadingBlock *> rows = m_rows;
    for (uploadingBlock *row : rows) {
        switch (row->state()) {
        case uploadingBlock::Waiting:
            row->startUpload();
            return;
        case uploadingBlock::Running:
            return;
        case uploadingBlock::Finished:
            moveToHistory(row, row->resultText());
            break;
        default:
            moveToHistory(row, QStringLiteral("取消上传"));
            break;
        }
    }
}

void UploadFiles::moveToHistory(uploadingBlock *row, const QString &state)
{
    if (!m_rows.removeOne(row))
        return;
    auto *history = new uploadHistory;
    history->setIcon(row->fileInfo().suffix());
    history->setName(row->fileInfo().fileName());
    history->setSize(UploadText::sizeText(row->fileInfo().size()));
    history->setDate(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    history->setMachine(row->machineName());
    history->setState(state);
    // Direction bottom-to-top: index 1 is just above the stretch, i.e. the
    // last in the direction, which is the top.
    m_historyLayout->addWidget(history);
    delete row;
}

void UploadFiles::dragEnterEvent(QDragEnterEvent *event)
{
    if (m_pages->currentIndex() == 0 && !localFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void UploadFiles::dropEvent(QDropEvent *event)
{
    const QStringList paths = localFiles(event->mimeData());
    if (m_pages->currentIndex() != 0 || paths.isEmpty())
        return;
    event->acceptProposedAction();
    addFiles(paths);
}
