#pragma once
// Pictures of widgets for a person to look at, saved into the build tree's
// screenshots/ folder; the tests only check that they could be written.
class QString;
class QWidget;

namespace chronel::test {

// Where a picture called `name` goes; the folder is made if missing. Empty
// if it cannot be.
QString ScreenshotPath(const QString& name);

// Saves a picture of `widget` as `name`; false if it could not be written.
bool SaveScreenshot(QWidget* widget, const QString& name);

} // namespace chronel::test
