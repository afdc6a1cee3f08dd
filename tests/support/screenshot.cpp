#include "tests/support/screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QProcess>
#include <QWidget>

namespace TestSupport {

QString screenshotDir()
{
    QDir().mkpath(QStringLiteral(TARVIX_SCREENSHOT_DIR));
    return QStringLiteral(TARVIX_SCREENSHOT_DIR);
}

QString grabWidget(QWidget *widget, const QString &name)
{
    const QString path = screenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png");
    return widget->grab().save(path) ? path : QString();
}

QString grabScreen(const QString &name)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QString();
    const QString path = screenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png");
    QProcess import;
    import.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    if (!import.waitForFinished(20000) || import.exitCode() != 0)
        return QString();
    return path;
}

} // namespace TestSupport
