#include "transfer_actions.h"

#include "chronel_main.h"

#include "core/fields/module_address.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>

namespace chronel {

QStringList SettingsDialogFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        names << parts[i];
    return names;
}

TransferActions::TransferActions(ChronelMain& window, QObject* parent)
    : QObject(parent), window_(window), transfer_(window.model(), [this](const UserMessage& m) { show(m); })
{
    window_.setMenuHandler(QStringLiteral("mnuTransferUpload"), [this] { transfer_.startUpload(); });
    window_.setMenuHandler(QStringLiteral("mnuTransferDownload"), [this] {
        if (confirmDownload())
            transfer_.startDownload();
    });
    window_.setMenuHandler(QStringLiteral("mnuFileOpen"), [this] { open(); });
    window_.setMenuHandler(QStringLiteral("mnuFileSave"), [this] { save(); });
    connect(&transfer_.upload(), &TransferSequence::ended, this,
        [this](TransferOutcome outcome) { reportEnd(true, outcome); });
    connect(&transfer_.download(), &TransferSequence::ended, this,
        [this](TransferOutcome outcome) { reportEnd(false, outcome); });
}

void TransferActions::reportEnd(bool upload, TransferOutcome outcome)
{
    // As a save does; a failure has its box, and one stopped or taken over
    // by the other sequence is no news.
    if (outcome != TransferOutcome::Finished && outcome != TransferOutcome::Failed)
        return;
    const ChronelModel& model = window_.model();
    const QString address = model.GetIp();
    QString module = address;
    if (outcome == TransferOutcome::Finished) {
        // The module's name is now the window's, either way.
        const QString name = model.settings().ConfigModuleName.trimmed();
        moduleNames_.insert(address, name);
        if (!name.isEmpty())
            module += QStringLiteral(" (%1)").arg(name);
    }
    const QString what =
        upload ? QStringLiteral("Upload from the module at %1") : QStringLiteral("Download to the module at %1");
    window_.statusBar()->showMessage(what.arg(module) +
        (outcome == TransferOutcome::Finished ? QStringLiteral(" finished") : QStringLiteral(" failed")));
}

bool TransferActions::openSettings(const QString& path)
{
    ChronelModel& model = window_.model();
    const ModuleSettings settingsBefore = model.settings();
    const PointTable pointsBefore = model.points();
    const bool read = OpenSettingsFile(model, path, [this](const UserMessage& m) { show(m); });
    if (read)
        model.setSettingsFile(path);
    else if (!(model.settings() == settingsBefore) || model.points() != pointsBefore)
        model.noteEdited(); // stopped half-way: what was applied is in no file
    keepAddress(settingsBefore.ConfigTcpipIp, path);
    return read;
}

void TransferActions::keepAddress(const OctetFields& before, const QString& path)
{
    ChronelModel& model = window_.model();
    const OctetFields fromFile = model.settings().ConfigTcpipIp;
    const QString kept = GetIp(before);
    const QString offered = GetIp(fromFile);
    if (kept == offered)
        return;
    model.settings().ConfigTcpipIp = before;
    model.notifySettingsEdited();
    const QString question =
        QStringLiteral("%1 holds the settings of the module at %2; the window talks to the module at %3.\n\n"
                       "Talk to %2 instead? No keeps %3, also as the module's address in a download.")
            .arg(QFileInfo(path).fileName(), offered, kept);
    if (ask({TransferMessageTitle(), question, platform::MessageIcon::Question},
            QStringLiteral("addressQuestionBox"))) {
        model.settings().ConfigTcpipIp = fromFile;
        model.notifySettingsEdited();
        return;
    }
    // The window's settings now differ from the file's by the address.
    model.noteEdited();
    window_.statusBar()->showMessage(
        QStringLiteral("Kept the module address %1 (%2 holds %3)").arg(kept, QFileInfo(path).fileName(), offered));
}

bool TransferActions::saveSettings(const QString& path)
{
    const bool saved = SaveSettingsFile(window_.model(), path, [this](const UserMessage& m) { show(m); });
    if (saved) {
        window_.model().setSettingsFile(path);
        window_.statusBar()->showMessage(SavedText(QDir::toNativeSeparators(path)));
    }
    return saved;
}

bool TransferActions::confirmDownload()
{
    const ChronelModel& model = window_.model();
    const QString text = DownloadQuestionText(
        model.GetIp(), moduleNames_.value(model.GetIp()), model.editState().file(), model.editState().edited());
    return ask({TransferMessageTitle(), text, platform::MessageIcon::Question}, QStringLiteral("downloadQuestionBox"));
}

bool TransferActions::ask(const UserMessage& question, const QString& objectName)
{
    if (asker_)
        return asker_(question);
    // Default No: both questions guard against changing a module by mistake.
    QMessageBox box(QMessageBox::Question, question.title, question.text, QMessageBox::Yes | QMessageBox::No, &window_);
    box.setObjectName(objectName);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TransferActions::open()
{
    if (!window_.maybeSaveEdits())
        return;
    const QString path = chooseFile(false);
    if (!path.isEmpty())
        openSettings(path);
}

void TransferActions::save()
{
    const QString path = chooseFile(true);
    if (!path.isEmpty())
        saveSettings(path);
}

QString TransferActions::chooseFile(bool save)
{
    if (chooser_)
        return chooser_(save);
    const QStringList filters = SettingsDialogFilters(SettingsFileFilter());
    QString selected = filters.value(SettingsFileFilterIndex);
    const QString filterText = filters.join(QStringLiteral(";;"));
    if (!save)
        return QFileDialog::getOpenFileName(&window_, QStringLiteral("Open"), QString(), filterText, &selected);

    QFileDialog dialog(&window_, QStringLiteral("Save As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(selected);
    // A name typed without an extension under the CSV filter gets ".csv" from
    // the dialog itself, before it asks whether to replace an existing file:
    // added afterwards, it would replace name.csv without asking.
    const auto suffixFor = [&dialog, csv = selected](const QString& filter) {
        dialog.setDefaultSuffix(filter == csv ? QStringLiteral("csv") : QString());
    };
    suffixFor(selected);
    connect(&dialog, &QFileDialog::filterSelected, &dialog, suffixFor);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

void TransferActions::show(const UserMessage& message)
{
    if (sink_) {
        sink_(message);
        return;
    }
    // Lines of a message are separated by CR alone, which a box does not
    // break on.
    QString text = message.text;
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QMessageBox::Icon icon = message.icon == platform::MessageIcon::Critical ? QMessageBox::Critical
        : message.icon == platform::MessageIcon::Warning                           ? QMessageBox::Warning
                                                                                   : QMessageBox::Information;
    QMessageBox box(icon, message.title, text, QMessageBox::Ok, &window_);
    box.setObjectName(QStringLiteral("transferMessageBox"));
    box.exec();
}

} // namespace chronel
