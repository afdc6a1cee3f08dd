#pragma once

#include <QDialog>

class QLabel;

// Announces a newer client version with its notes and download link.
class Update final : public QDialog
{
    Q_OBJECT

public:
    explicit Update(QWidget *parent = nullptr);

    void setVersionInfo(const QString &version, const QString &notesHtml, const QString &downloadUrl);

private:
    QLabel *m_version = nullptr;
    QLabel *m_notes = nullptr;
    QString m_downloadUrl;
};
