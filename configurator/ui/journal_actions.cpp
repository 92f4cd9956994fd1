#include "journal_actions.h"

#include "chronel_main.h"
#include "journal_open_dialog.h"
#include "journal_window.h"

#include "journal/journal_location.h"
#include "journal/journal_store.h"

#include <QFileInfo>
#include <QSettings>

namespace chronel {

namespace {

constexpr int RecentCount = 8;
const QString RecentKey = QStringLiteral("siteJournal/recent");

QSettings UserSettings() { return QSettings(QStringLiteral("Chronel"), QStringLiteral("chronel")); }

} // namespace

QStringList JournalActions::recentJournals() { return UserSettings().value(RecentKey).toStringList(); }

JournalActions::JournalActions(ChronelMain& window, QObject* parent) : QObject(parent), window_(window)
{
    window_.setMenuHandler(QStringLiteral("mnuToolsSiteJournal"), [this] { chooseAndOpen(); });
}

void JournalActions::chooseAndOpen()
{
    QString text;
    if (chooser_) {
        text = chooser_();
    } else {
        JournalOpenDialog dialog(recentJournals(), &window_);
        if (dialog.exec() != QDialog::Accepted)
            return;
        text = dialog.location();
    }
    if (!text.isEmpty())
        openJournal(text);
}

JournalWindow* JournalActions::openJournal(const QString& text)
{
    QString error;
    const auto location = ParseJournalLocation(text, &error);
    if (!location) {
        // The error quotes the text with its password masked.
        report(QStringLiteral("journal %1").arg(error));
        return nullptr;
    }
    if (QPointer<JournalWindow> open = windows_.value(location->displayName())) {
        open->raise();
        open->activateWindow();
        return open;
    }
    // Read-only: a viewer neither creates nor migrates a journal, and a user
    // who may only read the collector's journal can view it.
    auto store = std::make_unique<JournalStore>();
    if (!store->openReadOnly(*location, &error)) {
        report(error);
        return nullptr;
    }
    // The display name: a URL's password stays out of the settings file.
    QStringList recent = recentJournals();
    recent.removeAll(location->displayName());
    recent.prepend(location->displayName());
    UserSettings().setValue(RecentKey, recent.mid(0, RecentCount));

    auto* journal = new JournalWindow(std::move(store), sink_, &window_);
    journal->setAttribute(Qt::WA_DeleteOnClose);
    windows_.insert(location->displayName(), journal);
    journal->show();
    return journal;
}

void JournalActions::report(const QString& text)
{
    OrMessageBox(sink_)(UserMessage{QStringLiteral("Site Journal"), text, platform::MessageIcon::Critical});
}

} // namespace chronel
