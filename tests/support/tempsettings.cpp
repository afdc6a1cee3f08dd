#include "tests/support/tempsettings.h"

namespace TestSupport {

TempSettings::TempSettings()
{
    m_hadPrevious = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    m_previous = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", m_dir.path().toUtf8());
}

TempSettings::~TempSettings()
{
    if (m_hadPrevious)
        qputenv("XDG_DATA_HOME", m_previous);
    else
        qunsetenv("XDG_DATA_HOME");
}

QString TempSettings::settingsFile() const
{
    return m_dir.path() + QStringLiteral("/Mervane/Tarvix/Setting.ini");
}

} // namespace TestSupport
