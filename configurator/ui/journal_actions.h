#pragma once
// Tools > Site Journal of ChronelMain: asks for a journal (JournalOpenDialog),
// opens it read-only and shows it in a JournalWindow of its own, one window
// per journal; a journal already open brings its window forward. Failures
// are message boxes naming the journal and why. The journals opened last are
// kept in the user's settings (without a password a URL may hold) and the
// dialog offers the latest first, in this run and the next.
#include "core/model/user_message.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

namespace chronel {

class ChronelMain;
class JournalWindow;

class JournalActions : public QObject {
    Q_OBJECT
public:
    // Installs the menu handler on `window`, whose child the journal windows
    // are.
    explicit JournalActions(ChronelMain& window, QObject* parent = nullptr);

    // Opens the journal `text` names (a path or a postgresql:// URL) in its
    // window; nullptr, with a message, when it cannot. A SQLite file must
    // exist: a viewer does not create journals.
    JournalWindow* openJournal(const QString& text);

    // Replaces the message boxes (tests) in this and in the journal windows.
    void setMessageSink(MessageSink sink) { sink_ = std::move(sink); }
    // Replaces the Open Journal dialog (tests): returns the text, or nothing.
    void setLocationChooser(std::function<QString()> chooser) { chooser_ = std::move(chooser); }

    // The journals opened last, the latest first, as the dialog offers them.
    static QStringList recentJournals();

private:
    void chooseAndOpen();
    void report(const QString& text);

    ChronelMain& window_;
    MessageSink sink_;
    std::function<QString()> chooser_;
    QHash<QString, QPointer<JournalWindow>> windows_; // by display name
};

} // namespace chronel
