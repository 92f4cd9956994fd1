#pragma once
// Whether the window holds edits that no settings file has, and which file
// its settings came from or went to, with the texts the window shows for
// them: the caption, the questions before edits are dropped or a module's
// configuration is replaced, and the note after a save.
#include <QString>

namespace chronel {

class EditState {
public:
    // The settings file's path; empty when the settings came from no file
    // (start-up, an upload).
    const QString& file() const { return file_; }
    bool edited() const { return edited_; }

    // Each returns true when the state changed.
    // An edit by the user, defaults restored, a file that stopped half-way.
    bool noteEdited();
    // The settings were read whole from `path` or written whole to it.
    bool settingsFileIs(const QString& path);
    // The settings are now the module's own (an upload): nothing unsaved and
    // no file they belong to.
    bool settingsFromModule();

private:
    QString file_;
    bool edited_ = false;
};

// "pump.csv[*] - Chronel Version 1.60", or "Chronel Version 1.60[*]" without
// a file; Qt shows "[*]" as the modified mark while the window is modified.
QString WindowTitleText(const QString& file);
// Save / Discard / Cancel question before the window's edits are dropped.
QString UnsavedEditsText(const QString& file);
// Yes / No question before a download, naming the module (its address, and
// its name when the window knows it) and what is sent: the settings file, or
// the window's settings, changed since the file when `edited`.
QString DownloadQuestionText(const QString& moduleAddress, const QString& moduleName, const QString& file, bool edited);
// Status-bar note after File > Save.
QString SavedText(const QString& file);

} // namespace chronel
