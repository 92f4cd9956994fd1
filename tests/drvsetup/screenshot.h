#pragma once
// Saves a picture of a widget into the build tree (screenshots/), for a
// person to look at; the tests only check that it could be written.
#include <QDir>
#include <QPixmap>
#include <QString>
#include <QWidget>

inline bool saveScreenshot(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(SCREENSHOT_DIR);
    if (!QDir().mkpath(dir))
        return false;
    return widget->grab().save(dir + QLatin1Char('/') + name);
}
