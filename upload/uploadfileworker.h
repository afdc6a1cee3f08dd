#pragma once

#include <QObject>
#include <QString>

#include <atomic>

// Carries one file to one phone on its own thread: looks the name up in the
// console, uploads and registers the file when it is new, then commits the
// task that pushes it to the phone's download folder or installs it.
class UploadFileWorker final : public QObject
{
    Q_OBJECT

public:
    UploadFileWorker() = default;

    // Any thread. The transfer stops at its next chunk and no later step
    // runs: nothing is registered and no task is committed. No result
    // follows a cancel.
    void cancel() { m_cancelled = true; }
    bool isCancelled() const { return m_cancelled; }

signals:
    // value 0 while running, 1 once the job has ended.
    void processResult(const QString &text, int value);
    // Percent of the file sent; queued to whoever shows it.
    void uploadProgress(int percent);

public slots:
    // userdata is the row that asked; progress reaches it through
    // uploadProgress, so a row removed meanwhile is never touched.
    void DoUploadFile(const QString &fileName, const QString &filePath, qlonglong fileSize, const QString &serverSN,
                      const QString &batchUid, bool isAutoInstallAPP, void *userdata);

private:
    Q_DISABLE_COPY_MOVE(UploadFileWorker)

    void finish(const QString &text);

    std::atomic<bool> m_cancelled{false};
};
