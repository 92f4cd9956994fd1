#include "journal_link.h"

#include "terminal.h"

#include <QMetaObject>

namespace chronelcli {

JournalLink::JournalLink(const chronel::JournalLocation& location) : location_(location)
{
    thread_.setObjectName(QStringLiteral("journal"));
    worker_ = new QObject;
    worker_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

JournalLink::~JournalLink()
{
    // The connection belongs to the link's thread: closed there.
    QMetaObject::invokeMethod(
        worker_, [this] { store_.reset(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

bool JournalLink::serve(const std::function<bool(chronel::JournalStore&, QString*)>& request, QString* error)
{
    bool done = false;
    QMetaObject::invokeMethod(
        worker_,
        [&] {
            if (down_ && lastTry_.isValid() && lastTry_.elapsed() < RetryMs) {
                *error = downReason_;
                return;
            }
            if (!store_)
                store_ = std::make_unique<chronel::JournalStore>();
            if (store_->isOpen() && request(*store_, error)) {
                done = true;
                down_ = false;
                return;
            }
            // Once more on a new connection: a server that restarted, a
            // connection a deadline cut. Not while the run is ending.
            if (InterruptRequested() && store_->isOpen())
                return;
            QString why;
            if (!store_->open(location_, &why)) {
                *error = why;
                down_ = true;
                downReason_ = why;
                // From the end of the try: a try on a hung server is long.
                lastTry_.start();
                return;
            }
            down_ = false;
            done = request(*store_, error);
        },
        Qt::BlockingQueuedConnection);
    return done;
}

std::optional<chronel::JournalModuleState> JournalLink::moduleState(const QString& module, QString* error)
{
    std::optional<chronel::JournalModuleState> state;
    serve(
        [&](chronel::JournalStore& store, QString* why) {
            state = store.moduleState(module, why);
            return state.has_value();
        },
        error);
    return state;
}

bool JournalLink::appendBlock(
    const QList<chronel::JournalEvent>& rows, const chronel::JournalModuleState& state, QString* error, qint64* number)
{
    return serve(
        [&](chronel::JournalStore& store, QString* why) { return store.appendBlock(rows, state, why, number); }, error);
}

bool JournalLink::confirmBlock(const QString& module, qint64 number, QString* error)
{
    return serve(
        [&](chronel::JournalStore& store, QString* why) { return store.confirmBlock(module, number, why); }, error);
}

bool JournalLink::appendClock(const chronel::JournalClockReading& reading, QString* error)
{
    return serve([&](chronel::JournalStore& store, QString* why) { return store.appendClock(reading, why); }, error);
}

} // namespace chronelcli
