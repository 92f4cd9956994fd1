#include "journal_actions.h"

#include "chronel_main.h"
#include "journal_open_dialog.h"
#include "journal_window.h"

#include "journal/journal_location.h"
#include "journal/journal_store.h"

#include <QFileInfo>

namespace chronel {

namespace {

constexpr int RecentCount = 8;

} // namespace

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
        JournalOpenDialog dialog(recent_, &window_);
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
    if (location->kind == JournalLocation::Kind::Sqlite && !QFileInfo::exists(location->path)) {
        report(QStringLiteral("journal %1: no such file").arg(location->displayName()));
        return nullptr;
    }
    if (QPointer<JournalWindow> open = windows_.value(location->displayName())) {
        open->raise();
        open->activateWindow();
        return open;
    }
    auto store = std::make_unique<JournalStore>();
    if (!store->open(*location, &error)) {
        report(error);
        return nullptr;
    }
    recent_.removeAll(text);
    recent_.prepend(text);
    while (recent_.size() > RecentCount)
        recent_.removeLast();

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
