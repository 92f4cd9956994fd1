#pragma once
// The journal of a collection, shared by every module: one connection, on a
// thread of its own, that serves the modules' threads one request at a time.
// A database takes only so many connections (PostgreSQL 100 by default) and
// a site may have hundreds of modules, while writes to one journal go one at
// a time anyway (SQLite's file lock, the table lock on PostgreSQL).
//
// A request whose connection fails is tried once more on a connection opened
// again. While the journal stays unreachable, requests within RetryMs of the
// end of the last try fail at once with its reason, so a hung server holds no
// module, and no stop, longer than one try.
//
// Thread safety: any thread but the link's own may call; each call blocks
// until it is served.
#include "journal/journal_location.h"
#include "journal/journal_store.h"

#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

namespace chronelcli {

class JournalLink {
public:
    static constexpr int RetryMs = 2000;

    explicit JournalLink(const chronel::JournalLocation& location);
    ~JournalLink();
    JournalLink(const JournalLink&) = delete;
    JournalLink& operator=(const JournalLink&) = delete;

    const chronel::JournalLocation& location() const { return location_; }

    std::optional<chronel::JournalModuleState> moduleState(const QString& module, QString* error);
    bool appendBlock(const QList<chronel::JournalEvent>& rows, const chronel::JournalModuleState& state, QString* error,
        qint64* number);
    bool confirmBlock(const QString& module, qint64 number, QString* error);
    bool appendClock(const chronel::JournalClockReading& reading, QString* error);

private:
    // Runs `request` on the link's thread with its store, as described above.
    bool serve(const std::function<bool(chronel::JournalStore&, QString*)>& request, QString* error);

    chronel::JournalLocation location_;
    QThread thread_;
    QObject* worker_ = nullptr; // lives on thread_
    // Used on thread_ only.
    std::unique_ptr<chronel::JournalStore> store_;
    bool down_ = false;
    QString downReason_;
    QElapsedTimer lastTry_; // since the last try that found the journal unreachable
};

} // namespace chronelcli
