#pragma once
// The Transfer and File menus of ChronelMain: Upload and Download, Open and
// Save of settings files, with their file dialogs and message boxes. The
// progress bar and label follow the model's transfer display, which the
// window already shows.
#include "core/transfer/settings_file.h"
#include "core/transfer/transfer.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace chronel {

class ChronelMain;

// Qt name filters for a dialog filter written as "description|pattern"
// pairs: "All Files (*.*)|*.*|Comma Delimited Files (*.csv)|*.csv" gives
// {"All Files (*.*)", "Comma Delimited Files (*.csv)"}.
QStringList SettingsDialogFilters(const QString& filter);

class TransferActions : public QObject {
    Q_OBJECT
public:
    // Chooses the file for Open (save false) or Save (save true); empty when
    // the user cancelled.
    using FileChooser = std::function<QString(bool save)>;

    // Installs the menu handlers on `window`.
    explicit TransferActions(ChronelMain& window, QObject* parent = nullptr);

    Transfer& transfer() { return transfer_; }

    // Replaces the file dialogs (tests, scripted use).
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // Replaces the message boxes (tests); empty restores them.
    void setMessageSink(MessageSink sink) { sink_ = std::move(sink); }

    // File > Open and File > Save without the dialog; the window then belongs
    // to `path` (a save says so in the status bar).
    bool openSettings(const QString& path);
    bool saveSettings(const QString& path);

private:
    void open();
    void save();
    // Download replaces the module's whole configuration: asked first,
    // default No.
    bool confirmDownload();
    QString chooseFile(bool save);
    void show(const UserMessage& message);

    ChronelMain& window_;
    Transfer transfer_;
    FileChooser chooser_;
    MessageSink sink_;
};

} // namespace chronel
