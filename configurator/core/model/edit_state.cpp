#include "edit_state.h"

#include "program_revision.h"

#include <QFileInfo>
#include <utility>

namespace chronel {

namespace {

QString WindowCaption() { return QStringLiteral("Chronel Version ") + ProgramRevision(); }

QString FileName(const QString& path) { return QFileInfo(path).fileName(); }

} // namespace

bool EditState::noteEdited() { return !std::exchange(edited_, true); }

bool EditState::settingsFileIs(const QString& path)
{
    const bool changed = edited_ || file_ != path;
    edited_ = false;
    file_ = path;
    return changed;
}

bool EditState::settingsFromModule() { return settingsFileIs(QString()); }

QString WindowTitleText(const QString& file)
{
    if (file.isEmpty())
        return WindowCaption() + QStringLiteral("[*]");
    return FileName(file) + QStringLiteral("[*] - ") + WindowCaption();
}

QString UnsavedEditsText(const QString& file)
{
    if (file.isEmpty())
        return QStringLiteral("The window's settings have not been saved to a file. Save them?");
    return QStringLiteral("The window's settings have changed since %1 was opened or saved. Save them?")
        .arg(FileName(file));
}

QString DownloadQuestionText(const QString& moduleAddress, const QString& moduleName, const QString& file, bool edited)
{
    QString what = QStringLiteral("the window's settings");
    if (!file.isEmpty())
        what = edited ? what + QStringLiteral(" (changed since %1 was opened or saved)").arg(FileName(file))
                      : FileName(file);
    const QString name = moduleName.trimmed();
    const QString module = name.isEmpty() ? moduleAddress : QStringLiteral("%1 (%2)").arg(moduleAddress, name);
    return QStringLiteral("Download %1 to the module at %2?\n\nThis replaces the module's whole configuration.")
        .arg(what, module);
}

QString SavedText(const QString& file) { return QStringLiteral("Saved %1").arg(file); }

} // namespace chronel
