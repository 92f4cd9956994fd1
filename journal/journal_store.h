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
// A store opened read-only never creates, writes or migrates the journal
// (SQLite opens the file read-only, PostgreSQL's session is read-only), so a
// user who may only read the journal can: a journal of an earlier schema is
// read as it is, one newer than this program or a file or database without a
// journal is refused. SQLite still keeps its -wal and -shm files beside the
// journal, as every reader of a journal in WAL mode does.
//
// Thread safety: a store belongs to the thread that opened it (Qt's SQL
// connections do); open one store per thread. Stores on different threads
// need no locking of their own.
#include "journal_event.h"
#include "journal_file_identity.h"
#include "journal_location.h"
#include "journal_schema.h"

#include <QDeadlineTimer>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <optional>

#include <optional>

namespace chronel {

// What the journal keeps of one module between blocks: the last block it
// stored, whether that block's acknowledge is unconfirmed, and what the
// event decoder carried past it.
// A module's clock as one status block read showed it (clock_state.h).
struct JournalClockReading {
    QString module;
    QDateTime at; // the collector's UTC clock
    int source = 0;
    int quality = 0;
    std::optional<int> offsetMs; // none where the module's zone is not declared

    friend bool operator==(const JournalClockReading&, const JournalClockReading&) = default;
};

struct JournalModuleState {
    QString module;
    std::optional<int> moduleId;
    // The number of the last block stored; 0 before the first.
    qint64 block = 0;
    // That block's bytes as long as the module has not confirmed its
    // acknowledge; empty once it has.
    QByteArray unconfirmed;
    // The event decoder's state after that block (its own text form).
    QString decoder;
    // The zone the module's clock runs on as declared; empty when none is.
    QString zone;

    friend bool operator==(const JournalModuleState&, const JournalModuleState&) = default;
};

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
    // Opens `location` for reading only (see above); a SQLite file must
    // exist. False with `*error` naming the journal and why.
    bool openReadOnly(const JournalLocation& location, QString* error);
    // Closes the connection and opens the same location again, the same way.
    bool reopen(QString* error);
    void close();
    bool isOpen() const { return !connection_.isEmpty(); }
    bool readOnly() const { return readOnly_; }
    // The schema version of the journal as open: JournalSchemaVersion, or an
    // earlier one that a read-only store reads as it is.
    int schemaVersion() const { return version_; }

    // Whether a SQLite store still reads the files its connection opened:
    // false, with `*why`, when the journal, its -wal or its -shm file on disk
    // is no longer the one the connection holds open. That happens when this
    // process lost its locks on the journal (any descriptor of the file that
    // the process closes, a file dialog's included, drops them all), so that
    // a writer that stopped took itself for the last one and removed the
    // -wal and -shm files: the connection then reads a log no writer adds to
    // any more and sees the journal as it was. Reopening is the cure.
    // Always true on PostgreSQL.
    bool readsCurrentFiles(QString* why) const;

    // Stores rows in one transaction and returns true only once they are
    // committed; rows whose identity (module, block, record) is stored
    // already are skipped, and `*added` gets how many were new. On any
    // failure nothing is stored and `*error` names the journal and why.
    bool append(const QList<JournalEvent>& events, QString* error, int* added = nullptr);

    // What the journal holds of `module`: a state with block 0 when it holds
    // nothing yet; nothing with `*error` set when it cannot be read.
    std::optional<JournalModuleState> moduleState(const QString& module, QString* error);
    // Stores one block a module handed out, in one transaction with the
    // module's state after it: the block gets the next number of the module
    // (`*number`), each row its identity (that number and the row's record),
    // and `state` (whose block number is ignored) becomes the module's state.
    // Returns true only once committed; on failure nothing is stored.
    bool appendBlock(
        const QList<JournalEvent>& events, const JournalModuleState& state, QString* error, qint64* number = nullptr);
    // The module confirmed the acknowledge of block `number`.
    bool confirmBlock(const QString& module, qint64 number, QString* error);
    // Keeps one reading of a module's clock.
    bool appendClock(const JournalClockReading& reading, QString* error);

    const JournalLocation& location() const { return location_; }
    JournalDialect dialect() const { return location_.dialect; }
    // The connection, for the queries; valid while the store is open.
    QSqlDatabase database() const;

private:
    enum class Attempt { Done, Busy, Failed };
    bool write(
        const QList<JournalEvent>& events, const JournalModuleState* state, QString* error, int* added, qint64* number);
    Attempt tryWrite(
        QList<JournalEvent> events, const JournalModuleState* state, QString* error, int* added, qint64* number);
    // `answer`: the open's time for a PostgreSQL server's answers.
    bool openDatabase(const QDeadlineTimer& answer, QString* error);
    bool migrate(const QDeadlineTimer& answer, QString* error);
    bool checkVersion(QString* error);
    // The journal's file and its -wal and -shm files, as they are now.
    std::array<std::optional<FileIdentity>, 3> currentFiles() const;

    JournalLocation location_;
    QString connection_;
    bool readOnly_ = false;
    int version_ = 0;
    std::array<std::optional<FileIdentity>, 3> files_;
};

} // namespace chronel
