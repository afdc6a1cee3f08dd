#pragma once

#include <QFileInfo>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
class UploadFileWorker;

namespace UploadText {
// ":/image/login/uploadFilesIcon.png" for "apk", the other picture otherwise.
QString iconFor(const QString &suffix);
// Bytes as MB with two decimals, e.g. "1.50MB".
QString sizeText(qint64 bytes);
// Widths of the columns "文件名", "上传云机", "状态" shared by rows and headers.
extern const int NameColumnWidth;
extern const int MachineColumnWidth;
extern const int StateColumnWidth;
} // namespace UploadText

// A chosen file on the "添加文件" page.
class uploadFileBlock final : public QWidget
{
    Q_OBJECT

public:
    explicit uploadFileBlock(const QString &path, QWidget *parent = nullptr);

    QString filePath() const { return m_path; }
    QString fileName() const { return m_info.fileName(); }
    qint64 fileSize() const { return m_info.size(); }

signals:
    void clicked(const QString &name);

private:
    Q_DISABLE_COPY_MOVE(uploadFileBlock)

    QString m_path;
    QFileInfo m_info;
};

// One (phone, file) job on the "传输中" page. Owns a worker on a thread of
// its own; the thread outlives the row only as long as the worker needs to
// notice a cancel, then both are deleted.
class uploadingBlock final : public QWidget
{
    Q_OBJECT

public:
    enum State { Waiting = -1, Running = 0, Finished = 1, Cancelled = 2 };

    explicit uploadingBlock(const QString &path, QWidget *parent = nullptr);
    ~uploadingBlock() override;

    void setMachineName(const QString &name);
    void setServerSn(const QString &serverSn) { m_serverSn = serverSn; }
    void setInstall(bool install) { m_install = install; }

    QString machineName() const { return m_machineName; }
    QString serverSn() const { return m_serverSn; }
    bool install() const { return m_install; }
    QString filePath() const { return m_path; }
    const QFileInfo &fileInfo() const { return m_info; }
    int state() const { return m_state; }
    QString resultText() const { return m_resultText; }
    int progress() const;

    void startUpload();

public slots:
    // The progress target: any thread; applied on the GUI thread.
    void setProgress(int percent);

signals:
    void StartUploadFile(const QString &fileName, const QString &filePath, qlonglong fileSize,
                         const QString &serverSN, const QString &batchUid, bool isAutoInstallAPP, void *userdata);
    // The cancel button was pressed; the row is already in state 2.
    void cancelRequested(uploadingBlock *row);

private:
    Q_DISABLE_COPY_MOVE(uploadingBlock)

    void onResult(const QString &text, int value);
    void cancel();

    QLabel *m_stateLabel = nullptr;
    QLabel *m_machineLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QString m_machineName;
    QString m_path;
    QFileInfo m_info;
    QString m_serverSn;
    QString m_batchUid;
    UploadFileWorker *m_worker = nullptr; // lives on m_thread
    QThread *m_thread = nullptr;
    int m_state = Waiting;
    QString m_resultText;
    bool m_install = false;
};

// A finished or cancelled job on the "传输历史" page.
class uploadHistory final : public QWidget
{
    Q_OBJECT

public:
    explicit uploadHistory(QWidget *parent = nullptr);

    void setIcon(const QString &suffix);
    void setName(const QString &text);
    void setSize(const QString &text);
    void setDate(const QString &text);
    void setMachine(const QString &text);
    void setState(const QString &text);
    QString stateText() const;
    QString nameText() const;
    QString machineText() const;

private:
    Q_DISABLE_COPY_MOVE(uploadHistory)

    QLabel *m_icon = nullptr;
    QLabel *m_name = nullptr;
    QLabel *m_size = nullptr;
    QLabel *m_date = nullptr;
    QLabel *m_machine = nullptr;
    QLabel *m_state = nullptr;
};
