#pragma once
// A SQLite journal in a temporary folder, written as the collector writes
// it (JournalStore::appendBlock, a block per call), and the rows the tests
// put in it.
#include "journal/journal_event.h"
#include "journal/journal_location.h"
#include "journal/journal_store.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

namespace chronel::test {

// A change of an input point: "<time>  Input Point  N  On" as the window
// shows it. `utc` ("…Z") and `zone` only where the module's zone is
// declared; the clock GPS, good, 0.4 s ahead.
JournalEvent PointChange(const QString& module, const QString& moduleTime, int point, bool on, const QString& utc = {},
    const QString& zone = {});

class WebJournal {
public:
    // Creates the journal (schema as this program writes it); false with
    // `*error` when it cannot.
    bool create(QString* error);
    // One block of `rows`, all of one module.
    bool add(QList<JournalEvent> rows, QString* error);

    const JournalLocation& location() const { return location_; }
    JournalStore& writer() { return writer_; }
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    JournalLocation location_;
    JournalStore writer_;
};

} // namespace chronel::test
