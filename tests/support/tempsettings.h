#pragma once

#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

// Points the generic data location at a fresh temporary folder for the
// lifetime of the object, so the client's settings file lands there and
// never in the developer's home.
class TempSettings final
{
public:
    TempSettings();
    ~TempSettings();

    bool isValid() const { return m_dir.isValid(); }
    QString dataHome() const { return m_dir.path(); }
    // The path the client's settings file takes inside the folder.
    QString settingsFile() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

} // namespace TestSupport
