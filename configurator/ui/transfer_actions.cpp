#include "transfer_actions.h"

#include "chronel_main.h"

#include <QDir>
#include <QFileDialog>
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
    return read;
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
    QMessageBox box(QMessageBox::Question, TransferMessageTitle(),
        DownloadQuestionText(model.GetIp(), model.editState().file()), QMessageBox::Yes | QMessageBox::No, &window_);
    box.setObjectName(QStringLiteral("downloadQuestionBox"));
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
