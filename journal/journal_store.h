#pragma once
// A connection to one journal, SQLite file or PostgreSQL database, that
// stores blocks of events and answers the queries of journal_query.h.
//
// A SQLite journal runs in WAL mode with synchronous=FULL, so readers never
// wait for writers and a committed block survives a power failure; several
// stores, in one process or many, may write one file at once: each waits up
// to the busy timeout for the file's write lock and tries a busy block again
// until WriteTimeoutMs has passed.
//
// Rows get ascending ids in the order their blocks commit, on both kinds (on
// PostgreSQL an append locks the table against other appends, not against
// readers), so that a reader that has seen id N misses nothing by asking for
// the rows after N.
//
// Thread safety: a store belongs to the thread that opened it (Qt's SQL
// connections do); open one store per thread. Stores on different threads
// need no locking of their own.
#include "journal_event.h"
#include "journal_location.h"
#include "journal_schema.h"

#include <QDeadlineTimer>
#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace chronel {

class JournalStore {
public:
    // How long an append or the opening waits for other writers, in all.
    static constexpr int WriteTimeoutMs = 30000;

    JournalStore() = default;
    ~JournalStore();
    JournalStore(const JournalStore&) = delete;
    JournalStore& operator=(const JournalStore&) = delete;

    // Opens `location` on a connection of its own (closing any open one),
    // creating the journal or bringing its schema up to this version. False
    // with `*error` naming the journal and why.
    bool open(const JournalLocation& location, QString* error);
    void close();
    bool isOpen() const { return !connection_.isEmpty(); }

    // Stores one block in one transaction and returns true only once it is
    // committed; rows already stored (same module, module time and raw
    // bytes) are skipped, and `*added` gets how many were new. On any failure
    // nothing of the block is stored and `*error` names the journal and why.
    bool append(const QList<JournalEvent>& events, QString* error, int* added = nullptr);

    const JournalLocation& location() const { return location_; }
    JournalDialect dialect() const;
    // The connection, for the queries; valid while the store is open.
    QSqlDatabase database() const;

private:
    enum class Attempt { Done, Busy, Failed };
    Attempt tryAppend(const QList<JournalEvent>& events, QString* error, int* added);
    // `answer`: the open's time for a PostgreSQL server's answers.
    bool openDatabase(const QDeadlineTimer& answer, QString* error);
    bool migrate(const QDeadlineTimer& answer, QString* error);

    JournalLocation location_;
    QString connection_;
};

} // namespace chronel
