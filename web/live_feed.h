#pragma once
// The journal's new rows, pushed to every browser that follows it
// (GET /api/live). One thread reads the journal for all of them, on a
// read-only store of its own: soon after each write to an SQLite journal's
// files (JournalChangeWatch), and every PollMs whatever happened (a
// PostgreSQL journal, a folder that cannot be watched). Each new row's JSON
// is built once (chatter and comment count included) and each subscriber
// gets the rows its filter selects as one server-sent event:
//   event: rows
//   data: {"rows":[ROW,...],"lastId":N}
// and a comment line every KeepAliveMs, so that proxies and the browser
// keep an idle stream open. A subscriber that asks from an older id (a page
// read a while ago, a reconnect) first gets the rows it missed, a page per
// poll; one more than maxCatchUpRows behind gets instead
//   event: gap
//   data: {"lastId":N}
// (its page reads the table afresh) and goes on from N, as reading on
// through millions of rows for a filter that selects few would hold up every
// other subscriber. A subscriber whose stream closed (the client left, or
// read too slowly: EventStream's backlog limit) is dropped at the next poll.
//
// Thread safety: subscribe() and subscribers() may be called from any
// thread; start() and stop() from the one that owns the feed.
#include "journal/journal_change_watch.h"
#include "journal/journal_location.h"
#include "journal/journal_query.h"
#include "web/web_event_stream.h"

#include <QString>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace chronel {

class JournalStore;

struct LiveFeedTiming {
    int pollMs = 250;
    // After a write to the journal: the wait before reading it, which lets
    // a burst's commits come together, and the reads after at this pace,
    // which find a commit that was still being written at the first.
    int settleMs = 30;
    int keepAliveMs = 15000;
    // How far behind the feed a subscriber's catch-up may start, in rows.
    qint64 maxCatchUpRows = 100000;
};

class LiveFeed {
public:
    using Timing = LiveFeedTiming;
    // Rows read in one poll; a burst beyond it is read by the polls after,
    // at once rather than PollMs apart.
    static constexpr int BatchLimit = 2000;
    // Rows a subscriber's catch-up reads in one poll.
    static constexpr int CatchUpLimit = 500;

    explicit LiveFeed(JournalLocation location, Timing timing = {});
    ~LiveFeed();
    LiveFeed(const LiveFeed&) = delete;
    LiveFeed& operator=(const LiveFeed&) = delete;

    // Starts the thread from the journal's last row as it is now. False
    // with `*error` when the journal cannot be opened for reading.
    bool start(QString* error);
    // Ends every subscriber's stream and joins the thread.
    void stop();

    // `stream` gets the rows after `after` that `filter` selects, from the
    // next poll on.
    void subscribe(std::shared_ptr<EventStream> stream, const JournalFilter& filter, qint64 after);
    int subscribers() const;

private:
    struct Subscriber;
    struct Row;

    void run(JournalStore* store);
    // `*more`: the poll read a whole batch, so more rows may wait.
    bool poll(JournalStore& store, bool* more, QString* error);
    bool catchUp(JournalStore& store, Subscriber& subscriber, QString* error);
    std::optional<std::vector<Row>> rowsOf(JournalStore& store, const QList<JournalEvent>& events, QString* error);
    void send(Subscriber& subscriber, const std::vector<Row>& rows, qint64 lastId);

    JournalLocation location_;
    Timing timing_;
    std::thread thread_;
    JournalChangeWatch watch_;
    mutable std::mutex mutex_;
    bool stopping_ = false;
    // Handed over by subscribe(), taken by the thread at its next poll.
    std::vector<std::unique_ptr<Subscriber>> arriving_;
    int count_ = 0;
    // The thread's own.
    std::vector<std::unique_ptr<Subscriber>> subscribers_;
    qint64 position_ = 0;
};

} // namespace chronel
