#include "screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QString>
#include <QWidget>

#ifndef CHRONEL_SCREENSHOT_DIR
#error "CHRONEL_SCREENSHOT_DIR names the folder for the pictures"
#endif

namespace chronel::test {

QString ScreenshotPath(const QString& name)
{
    const QString dir = QStringLiteral(CHRONEL_SCREENSHOT_DIR);
    if (!QDir().mkpath(dir))
        return {};
    return dir + QLatin1Char('/') + name;
}

bool SaveScreenshot(QWidget* widget, const QString& name)
{
    const QString path = ScreenshotPath(name);
    return !path.isEmpty() && widget->grab().save(path);
}

} // namespace chronel::test
