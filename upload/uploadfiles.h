#pragma once

#include "widgets/draggablewidget.h"

#include <QList>
#include <QMap>
#include <QStringList>
#include <QTimer>

class FlowLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;
class SlideNavigation;
class uploadFileBlock;
class uploadingBlock;
class uploadHistory;

// The one window through which files go to phones: pick files, then "上传"
// (to the phone's download folder) or "上传并安装"; every (phone, file) pair
// becomes a row, rows run one at a time, finished or cancelled rows move to
// the history. Closing only hides it.
class UploadFiles final : public DraggableWidget
{
    Q_OBJECT

public:
    static UploadFiles *instance();
    // Shows the window for these phones, centred over the anchor's window:
    // what the control windows and the batch box install as their opener.
    static void open(const QMap<QString, QString> &targets, QWidget *anchor);
    // Shows the window centred over the anchor's window, kept on its screen.
    void showOver(QWidget *anchor);

    // Display name -> server SN of the phones the next start goes to.
    void setTargets(const QMap<QString, QString> &targets);
    QMap<QString, QString> targets() const { return m_targets; }

    // The file cards' paths would be added as by the file dialog.
    void addFiles(const QStringList &paths);
    // Files dropped on a phone's window: queued for that phone at once,
    // installed when they are APKs, pushed otherwise.
    void queueForPhone(const QString &name, const QString &serverSn, const QStringList &paths);

    // For tests and the scheduler's readers.
    QList<uploadFileBlock *> fileCards() const;
    QList<uploadingBlock *> uploadingRows() const { return m_rows; }
    QList<uploadHistory *> historyRows() const; // newest first
    QString summaryText() const;
    int currentPage() const;

    static constexpr int SchedulerIntervalMs = 200;

public slots:
    void startUpload(bool install);
    void showPage(int index);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    UploadFiles();
    ~UploadFiles() override;
    Q_DISABLE_COPY_MOVE(UploadFiles)

    void buildUi();
    QWidget *buildListPage(const char *name, const char *areaName, QVBoxLayout **layout);
    void chooseFiles();
    void removeCard(const QString &name);
    void refreshSummary();
    void fetchUploadParameters();
    uploadingBlock *addRow(const QString &path, const QString &name, const QString &serverSn, bool install);
    void schedule();
    void moveToHistory(uploadingBlock *row, const QString &state);

    SlideNavigation *m_navigation = nullptr;
    QStackedWidget *m_pages = nullptr;
    QWidget *m_addContent = nullptr;
    QLabel *m_prompt = nullptr;
    QLabel *m_filesInfo = nullptr;
    QWidget *m_buttonBar = nullptr;
    QPushButton *m_selectButton = nullptr;
    QPushButton *m_installButton = nullptr;
    QPushButton *m_uploadButton = nullptr;

    FlowLayout *m_fileLayout = nullptr;
    QVBoxLayout *m_uploadingLayout = nullptr;
    QVBoxLayout *m_historyLayout = nullptr;
    QTimer m_scheduler;
    QMap<QString, QString> m_targets;
    qint64 m_totalSize = 0;
    QMap<QString, QString> m_selectedNames;
    QStringList m_badNames;
    QList<uploadingBlock *> m_rows; // creation order
};
