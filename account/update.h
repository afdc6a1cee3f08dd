#pragma once

#include "widgets/draggablewidget.h"

#include <QString>

class QLabel;
class QPushButton;
class QTextEdit;

// Announces a newer client version with its release notes and a button that
// opens the download link in the system's browser. Nothing is downloaded here.
class Update final : public DraggableWidget
{
    Q_OBJECT

public:
    explicit Update(QWidget *parent = nullptr);
    ~Update() override;

    // Headline "发现新版本(<version>)可更新!".
    void setVersion(const QString &version);
    // Release notes; the server usually sends HTML.
    void setNotes(const QString &text);
    void setDownloadUrl(const QString &url);
    QString downloadUrl() const { return m_downloadUrl; }

private:
    Q_DISABLE_COPY_MOVE(Update)

    void buildForm();
    void openDownload();

    QLabel *m_icon = nullptr;
    QLabel *m_icon2 = nullptr;
    QPushButton *m_closeButton = nullptr;
    QLabel *m_hint = nullptr;
    QTextEdit *m_notes = nullptr;
    QPushButton *m_updateButton = nullptr;
    QString m_downloadUrl;
};
