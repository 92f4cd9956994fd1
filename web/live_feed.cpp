#include "live_feed.h"

#include "journal/journal_incidents.h"
#include "journal/journal_page.h"
#include "journal/journal_store.h"
#include "journal_rows.h"

#include <QSet>

#include <chrono>
#include <cstdio>
#include <future>

namespace chronel {

struct LiveFeed::Subscriber {
    std::shared_ptr<EventStream> stream;
    JournalFilter filter;
    // The last row id it was sent or need not be sent.
    qint64 after = 0;
};

struct LiveFeed::Row {
    JournalEvent event;
    QByteArray json;
};

namespace {

using Clock = std::chrono::steady_clock;

QByteArray RowsEvent(const QByteArray& rows, qint64 lastId)
{
    return QByteArrayLiteral("event: rows\ndata: {\"rows\":[") + rows + QByteArrayLiteral("],\"lastId\":") +
        QByteArray::number(lastId) + QByteArrayLiteral("}\n\n");
}

void Log(const QString& words) { std::fprintf(stderr, "chronel-web: live feed: %s\n", qPrintable(words)); }

} // namespace

LiveFeed::LiveFeed(JournalLocation location, Timing timing)
    : location_(std::move(location)), timing_(timing), watch_(location_)
{
    if (!watch_.watching() && location_.dialect == JournalDialect::Sqlite)
        Log(watch_.whyNot() + QStringLiteral("; the journal is read every %1 ms").arg(timing_.pollMs));
}

LiveFeed::~LiveFeed() { stop(); }

bool LiveFeed::start(QString* error)
{
    if (thread_.joinable()) {
        *error = QStringLiteral("the live feed runs already");
        return false;
    }
    stopping_ = false;
    std::promise<QString> opened;
    std::future<QString> result = opened.get_future();
    thread_ = std::thread([this, &opened] {
        // The store is the thread's own (Qt's SQL connections are).
        JournalStore store;
        QString why;
        std::optional<qint64> last;
        if (store.openReadOnly(location_, &why))
            last = JournalLastId(store, &why);
        if (!last) {
            opened.set_value(why.isEmpty() ? QStringLiteral("the journal cannot be read") : why);
            return;
        }
        position_ = *last;
        opened.set_value({});
        run(&store);
    });
    const QString failed = result.get();
    if (!failed.isEmpty()) {
        thread_.join();
        *error = failed;
        return false;
    }
    return true;
}

void LiveFeed::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    watch_.wake();
    if (thread_.joinable())
        thread_.join();
}

void LiveFeed::subscribe(std::shared_ptr<EventStream> stream, const JournalFilter& filter, qint64 after)
{
    // A first line at once, so that the browser sees the stream open.
    stream->push(QByteArrayLiteral(": live\n\n"));
    auto subscriber = std::make_unique<Subscriber>(Subscriber{std::move(stream), filter, after});
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            subscriber->stream->close();
            return;
        }
        arriving_.push_back(std::move(subscriber));
        ++count_;
    }
    // Its catch-up at once, not at the next poll.
    watch_.wake();
}

int LiveFeed::subscribers() const
{
    std::lock_guard lock(mutex_);
    return count_;
}

void LiveFeed::run(JournalStore* store)
{
    Clock::time_point keepAlive = Clock::now() + std::chrono::milliseconds(timing_.keepAliveMs);
    QString lastError;
    // Reads still to make settleMs apart since the journal was last written.
    int followUps = 0;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        for (auto& s : arriving_)
            subscribers_.push_back(std::move(s));
        arriving_.clear();
        lock.unlock();

        QString error;
        bool more = false;
        bool ready = store->isOpen() || store->openReadOnly(location_, &error);
        // A collector that stopped last may have taken the -wal and -shm
        // files away; the connection would read a journal that no longer grows.
        if (QString why; ready && !store->readsCurrentFiles(&why))
            ready = store->reopen(&error);
        if (ready)
            poll(*store, &more, &error);
        if (!error.isEmpty()) {
            if (error != lastError)
                Log(error);
            store->close();
        }
        lastError = error;

        if (Clock::now() >= keepAlive) {
            for (auto& s : subscribers_)
                s->stream->push(QByteArrayLiteral(": keep-alive\n\n"));
            keepAlive = Clock::now() + std::chrono::milliseconds(timing_.keepAliveMs);
        }
        std::erase_if(subscribers_, [](const std::unique_ptr<Subscriber>& s) { return s->stream->closed(); });

        lock.lock();
        count_ = int(subscribers_.size() + arriving_.size());
        if (more || stopping_)
            continue;
        lock.unlock();
        const JournalChangeWatch::Woken woken = watch_.wait(followUps > 0 ? timing_.settleMs : timing_.pollMs);
        if (woken == JournalChangeWatch::Woken::Changed) {
            // The first write of a commit wakes the feed: the rest of it,
            // and of a burst, comes within the settling time. A commit
            // slower than that is found by the reads that follow.
            std::this_thread::sleep_for(std::chrono::milliseconds(timing_.settleMs));
            followUps = 2;
        } else if (woken == JournalChangeWatch::Woken::TimedOut && followUps > 0) {
            --followUps;
        }
        lock.lock();
    }
    for (auto& s : arriving_)
        subscribers_.push_back(std::move(s));
    arriving_.clear();
    count_ = 0;
    lock.unlock();
    for (auto& s : subscribers_)
        s->stream->close();
    subscribers_.clear();
}

bool LiveFeed::poll(JournalStore& store, bool* more, QString* error)
{
    // Those behind first, up to where the feed is, so that each gets its
    // rows in id order before it joins the batches after it.
    for (auto& s : subscribers_)
        if (s->after < position_ && !s->stream->closed() && !catchUp(store, *s, error))
            return false;

    const std::optional<QList<JournalEvent>> events = JournalRowsAfter(store, position_, {}, BatchLimit, error);
    if (!events)
        return false;
    if (events->isEmpty())
        return true;
    const std::optional<std::vector<Row>> rows = rowsOf(store, *events, error);
    if (!rows)
        return false;
    *more = events->size() == BatchLimit;
    const qint64 lastId = events->back().id;
    for (auto& s : subscribers_)
        if (s->after >= position_)
            send(*s, *rows, lastId);
    position_ = lastId;
    return true;
}

bool LiveFeed::catchUp(JournalStore& store, Subscriber& subscriber, QString* error)
{
    if (position_ - subscriber.after > timing_.maxCatchUpRows) {
        subscriber.stream->push(QByteArrayLiteral("event: gap\ndata: {\"lastId\":") + QByteArray::number(position_) +
            QByteArrayLiteral("}\n\n"));
        subscriber.after = position_;
        return true;
    }
    std::optional<QList<JournalEvent>> events =
        JournalRowsAfter(store, subscriber.after, subscriber.filter, CatchUpLimit, error);
    if (!events)
        return false;
    // Read to the end, or past the feed's position: caught up. Rows past
    // the position come with the batch that reads them.
    bool caughtUp = events->size() < CatchUpLimit;
    while (!events->isEmpty() && events->back().id > position_) {
        events->removeLast();
        caughtUp = true;
    }
    const qint64 reached = caughtUp ? position_ : events->back().id;
    const std::optional<std::vector<Row>> rows = rowsOf(store, *events, error);
    if (!rows)
        return false;
    send(subscriber, *rows, reached);
    return true;
}

std::optional<std::vector<LiveFeed::Row>> LiveFeed::rowsOf(
    JournalStore& store, const QList<JournalEvent>& events, QString* error)
{
    std::vector<Row> rows;
    if (events.isEmpty())
        return rows;
    const std::optional<QSet<qint64>> chattering = ChatteringRowsAmong(store, events, error);
    if (!chattering)
        return std::nullopt;
    QList<qint64> ids;
    ids.reserve(events.size());
    for (const JournalEvent& e : events)
        ids.push_back(e.id);
    const std::optional<QHash<qint64, int>> comments = CommentCounts(store, ids, error);
    if (!comments)
        return std::nullopt;
    rows.reserve(events.size());
    for (const JournalEvent& e : events)
        rows.push_back({e, RowJsonText(e, chattering->contains(e.id), comments->value(e.id))});
    return rows;
}

void LiveFeed::send(Subscriber& subscriber, const std::vector<Row>& rows, qint64 lastId)
{
    QByteArray selected;
    for (const Row& row : rows) {
        if (row.event.id <= subscriber.after || !JournalFilterMatches(subscriber.filter, row.event))
            continue;
        if (!selected.isEmpty())
            selected += ',';
        selected += row.json;
    }
    subscriber.after = std::max(subscriber.after, lastId);
    if (!selected.isEmpty())
        subscriber.stream->push(RowsEvent(selected, lastId));
}

} // namespace chronel
