#include "upload/uploadblocks.h"

#include "upload/uploadfileworker.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace UploadText {

QString iconFor(const QString &suffix)
{
    return suffix == QLatin1String("apk") ? QStringLiteral(":/image/login/uploadFilesIcon.png")
                                          : QStringLiteral(":/image/login/uploadFilesIcon2.png");
}

QString sizeText(qint64 bytes)
{
    const float mb = float(bytes) / 1024 / 1024;
    return QString::number(double(mb), 'f', 2) + QStringLiteral("MB");
}

} // namespace UploadText

namespace {

QLabel *label(QWidget *parent, const char *name, const QString &text = QString())
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

QLabel *iconLabel(QWidget *parent, const char *name, const QString &suffix, int side)
{
    QLabel *l = label(parent, name);
    l->setFixedSize(side, side);
    l->setPixmap(QPixmap(UploadText::iconFor(suffix)).scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return l;
}

// Long names keep their start and end visible; the full name is the tooltip.
void setElided(QLabel *l, const QString &text, int width)
{
    l->setText(l->fontMetrics().elidedText(text, Qt::ElideMiddle, width));
    l->setToolTip(text);
}

} // namespace

namespace UploadText {
const int NameColumnWidth = 260;
const int MachineColumnWidth = 120;
const int StateColumnWidth = 110;
} // namespace UploadText

namespace {

// The name column: a fixed width, so rows and the header line up.
QWidget *nameColumnWidget(QWidget *parent, QVBoxLayout *column)
{
    auto *box = new QWidget(parent);
    box->setFixedWidth(UploadText::NameColumnWidth);
    column->setContentsMargins(0, 0, 0, 0);
    box->setLayout(column);
    return box;
}

void fixColumns(QLabel *machine, QLabel *state)
{
    machine->setFixedWidth(UploadText::MachineColumnWidth);
    state->setFixedWidth(UploadText::StateColumnWidth);
}

} // namespace

uploadFileBlock::uploadFileBlock(const QString &path, QWidget *parent)
    : QWidget(parent)
    , m_path(path)
    , m_info(path)
{
    setFixedSize(172, 64);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *frame = new QWidget(this);
    frame->setObjectName(QStringLiteral("widget"));
    frame->setAttribute(Qt::WA_StyledBackground);
    frame->setStyleSheet(QStringLiteral("#widget{\nborder: 1px solid #DFF2FF;\nborder-radius: 8px 8px 8px 8px;\n}"));
    outer->addWidget(frame);
    auto *row = new QHBoxLayout(frame);
    row->setContentsMargins(8, 6, 4, 6);
    row->setSpacing(6);
    row->addWidget(iconLabel(frame, "uploadFileBlockIcon", m_info.suffix(), 36));
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    QLabel *name = label(frame, "uploadFileName");
    setElided(name, m_info.fileName(), 92);
    texts->addWidget(name);
    QLabel *size = label(frame, "uploadFileSize", UploadText::sizeText(m_info.size()));
    size->setStyleSheet(QStringLiteral("color: #8E969C"));
    texts->addWidget(size);
    row->addLayout(texts, 1);
    auto *close = new QPushButton(frame);
    close->setObjectName(QStringLiteral("uploadFileBlockClose"));
    close->setIcon(QIcon(QStringLiteral(":/image/login/uploadFilesClose.png")));
    close->setIconSize(QSize(14, 14));
    close->setFixedSize(18, 18);
    close->setCursor(Qt::PointingHandCursor);
    close->setStyleSheet(QStringLiteral("border:0;"));
    row->addWidget(close, 0, Qt::AlignTop);
    connect(close, &QPushButton::clicked, this, [this] { emit clicked(fileName()); });
}

uploadingBlock::uploadingBlock(const QString &path, QWidget *parent)
    : QWidget(parent)
    , m_path(path)
    , m_info(path)
{
    setFixedHeight(56);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(10, 4, 10, 4);
    row->setSpacing(8);
    row->addWidget(iconLabel(this, "uploadingFileIcon", m_info.suffix(), 32));
    auto *nameColumn = new QVBoxLayout;
    nameColumn->setSpacing(2);
    QLabel *name = label(this, "uploadingFileName");
    setElided(name, m_info.fileName(), 150);
    nameColumn->addWidget(name);
    auto *sizeRow = new QHBoxLayout;
    QLabel *size = label(this, "uploadingFileSize", UploadText::sizeText(m_info.size()));
    size->setStyleSheet(QStringLiteral("color: #8E969C"));
    // One width for every size up to 9999 MB, so the bars line up.
    size->setMinimumWidth(size->fontMetrics().horizontalAdvance(QStringLiteral("0000.00MB")));
    sizeRow->addWidget(size);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("uploadingFileProgressBar"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setOrientation(Qt::Horizontal);
    m_progressBar->setAlignment(Qt::AlignCenter);
    m_progressBar->setValue(0);
    m_progressBar->setFixedSize(90, 14);
    m_progressBar->setStyleSheet(QStringLiteral(
        "QProgressBar {color: #333333; border-radius: 4px; background: #F4F4F4}QProgressBar::chunk:enabled "
        "{background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #0598FE, stop:1 #44D1FD); border-radius: "
        "4px;}QProgressBar::chunk:disabled {background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #D8D8D8, "
        "stop:1 #8E969C); border-radius: 4px;}"));
    sizeRow->addWidget(m_progressBar);
    sizeRow->addStretch();
    nameColumn->addLayout(sizeRow);
    row->addWidget(nameColumnWidget(this, nameColumn));
    m_machineLabel = label(this, "uploadingFileMachine");
    row->addWidget(m_machineLabel);
    m_stateLabel = label(this, "uploadingFileStateLabel", QStringLiteral("待上传"));
    row->addWidget(m_stateLabel);
    fixColumns(m_machineLabel, m_stateLabel);
    row->addStretch();
    auto *cancelButton = new QPushButton(this);
    cancelButton->setObjectName(QStringLiteral("cancelFile"));
    cancelButton->setIcon(QIcon(QStringLiteral(":/image/phone/close_hover.png")));
    cancelButton->setIconSize(QSize(14, 14));
    cancelButton->setFixedSize(20, 20);
    cancelButton->setCursor(Qt::PointingHandCursor);
    cancelButton->setStyleSheet(QStringLiteral("border:0;"));
    row->addWidget(cancelButton);
    connect(cancelButton, &QPushButton::clicked, this, &uploadingBlock::cancel);

    m_thread = new QThread;
    m_worker = new UploadFileWorker;
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    connect(this, &uploadingBlock::StartUploadFile, m_worker, &UploadFileWorker::DoUploadFile);
    connect(m_worker, &UploadFileWorker::processResult, this, &uploadingBlock::onResult);
    connect(m_worker, &UploadFileWorker::uploadProgress, this, &uploadingBlock::setProgress);
    m_thread->start();
}

uploadingBlock::~uploadingBlock()
{
    // The job has ended or been told to stop: let the thread run out; it
    // deletes itself and the worker when it has.
    m_worker->cancel();
    m_thread->quit();
}

void uploadingBlock::setMachineName(const QString &name)
{
    m_machineName = name;
    m_machineLabel->setText(name);
}

int uploadingBlock::progress() const
{
    return m_progressBar->value();
}

void uploadingBlock::setProgress(int percent)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, percent] { setProgress(percent); }, Qt::QueuedConnection);
        return;
    }
    m_progressBar->setValue(qBound(0, percent, 100));
}

void uploadingBlock::startUpload()
{
    m_state = Running;
    m_stateLabel->setText(QStringLiteral("上传中"));
    emit StartUploadFile(m_info.fileName(), m_path, m_info.size(), m_serverSn, m_batchUid, m_install, this);
}

void uploadingBlock::onResult(const QString &text, int value)
{
    if (m_state == Cancelled)
        return;
    m_resultText = text;
    m_stateLabel->setText(text);
    m_state = value;
}

void uploadingBlock::cancel()
{
    if (m_state == Cancelled)
        return;
    qDebug() << "取消上传" << m_info.fileName();
    m_state = Cancelled;
    m_stateLabel->setText(QStringLiteral("取消上传"));
    m_worker->cancel();
    emit cancelRequested(this);
}

uploadHistory::uploadHistory(QWidget *parent)
    : QWidget(parent)
{
    setFixedHeight(48);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(10, 4, 10, 4);
    row->setSpacing(8);
    m_icon = label(this, "uploadHistoryIcon");
    m_icon->setFixedSize(32, 32);
    row->addWidget(m_icon);
    auto *nameColumn = new QVBoxLayout;
    nameColumn->setSpacing(1);
    m_name = label(this, "uploadHistoryName");
    nameColumn->addWidget(m_name);
    auto *detail = new QHBoxLayout;
    detail->setSpacing(10);
    m_size = label(this, "uploadHistorySize");
    m_date = label(this, "uploadHistoryDate");
    for (QLabel *l : {m_size, m_date}) {
        l->setStyleSheet(QStringLiteral("color: #8E969C"));
        detail->addWidget(l);
    }
    detail->addStretch();
    nameColumn->addLayout(detail);
    row->addWidget(nameColumnWidget(this, nameColumn));
    m_machine = label(this, "uploadHistoryMachine");
    row->addWidget(m_machine);
    m_state = label(this, "uploadHistoryState");
    row->addWidget(m_state);
    fixColumns(m_machine, m_state);
    row->addStretch();
}

void uploadHistory::setIcon(const QString &suffix)
{
    m_icon->setPixmap(QPixmap(UploadText::iconFor(suffix)).scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void uploadHistory::setName(const QString &text)
{
    setElided(m_name, text, 150);
}

void uploadHistory::setSize(const QString &text)
{
    m_size->setText(text);
}

void uploadHistory::setDate(const QString &text)
{
    m_date->setText(text);
}

void uploadHistory::setMachine(const QString &text)
{
    m_machine->setText(text);
}

void uploadHistory::setState(const QString &text)
{
    m_state->setText(text);
}

QString uploadHistory::stateText() const
{
    return m_state->text();
}

QString uploadHistory::nameText() const
{
    return m_name->toolTip();
}

QString uploadHistory::machineText() const
{
    return m_machine->text();
}
