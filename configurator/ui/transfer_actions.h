#pragma once
// The Transfer and File menus of ChronelMain: Upload and Download, Open and
// Save of settings files, with their file dialogs and message boxes. The
// progress bar and label follow the model's transfer display, which the
// window already shows; the status bar says when a transfer has finished.
//
// Opening a settings file keeps the address the window talks to (the IP
// row): a file saved from another module would otherwise send the polling,
// and the next download's IP setting, to that module. When the file holds
// another address the user is asked whether to take it.
#include "core/transfer/settings_file.h"
#include "core/transfer/transfer.h"

#include <QHash>
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
    // Replaces the Yes / No questions (tests); returns true for Yes. Empty
    // restores the boxes.
    using QuestionAsker = std::function<bool(const UserMessage& question)>;
    void setQuestionAsker(QuestionAsker asker) { asker_ = std::move(asker); }

    // File > Open and File > Save without the dialog; the window then belongs
    // to `path` (a save says so in the status bar). Open keeps the address
    // the window talks to and asks whether to take the file's instead.
    bool openSettings(const QString& path);
    bool saveSettings(const QString& path);

private:
    void open();
    void save();
    // Download replaces the module's whole configuration: asked first,
    // default No.
    bool confirmDownload();
    // After Open: the address before it back in the IP row, unless the user
    // takes the file's.
    void keepAddress(const OctetFields& before, const QString& path);
    void reportEnd(bool upload, TransferOutcome outcome);
    QString chooseFile(bool save);
    bool ask(const UserMessage& question, const QString& objectName);
    void show(const UserMessage& message);

    ChronelMain& window_;
    Transfer transfer_;
    FileChooser chooser_;
    MessageSink sink_;
    QuestionAsker asker_;
    // By address: the name each module gave at its last upload, or took at
    // its last download, for the download question.
    QHash<QString, QString> moduleNames_;
};

} // namespace chronel
