#include "account/update.h"

#include <QLabel>
#include <QVBoxLayout>

Update::Update(QWidget *parent)
    : QDialog(parent)
{
    auto *layout = new QVBoxLayout(this);
    m_version = new QLabel(this);
    m_notes = new QLabel(this);
    layout->addWidget(m_version);
    layout->addWidget(m_notes);
}

void Update::setVersionInfo(const QString &version, const QString &notesHtml, const QString &downloadUrl)
{
    m_version->setText(version);
    m_notes->setText(notesHtml);
    m_downloadUrl = downloadUrl;
}
