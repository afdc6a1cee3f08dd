#pragma once

#include <QString>

class QWidget;

namespace TestSupport {

// Folder in the build tree where suites leave their screenshots.
QString screenshotDir();

// Saves what the widget paints (its own backing store) as <name>.png.
QString grabWidget(QWidget *widget, const QString &name);

// Saves the whole X screen as <name>.png with ImageMagick's import, so
// top-level windows, toasts and dialogs appear as a person sees them.
// Returns an empty string when no X server or no import tool is there.
QString grabScreen(const QString &name);

} // namespace TestSupport
