#include "web/worker_pool.h"

#include "journal/journal_store.h"

#include <QFileInfo>

#include <utility>

namespace chronel {

WorkerPool::WorkerPool(JournalLocation location, int threads) : location_(std::move(location)), threads_(threads) { }

WorkerPool::~WorkerPool() { stop(); }

bool WorkerPool::start(QString* error)
{
    // The collector makes the journal; a web view of a mistyped path must
    // not leave an empty one behind.
    if (location_.dialect == JournalDialect::Sqlite && !QFileInfo::exists(location_.path)) {
        *error = QStringLiteral("the journal %1 does not exist").arg(location_.path);
        return false;
    }
    for (int i = 0; i < threads_; ++i) {
        std::promise<QString> opened;
        std::future<QString> result = opened.get_future();
        running_.emplace_back([this, opened = std::move(opened)]() mutable { run(&opened); });
        // One at a time: the first writer's migration is not raced by the others.
        const QString failure = result.get();
        if (!failure.isEmpty()) {
            *error = failure;
            stop();
            return false;
        }
    }
    return true;
}

bool WorkerPool::post(Job job)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || running_.empty() || jobs_.size() >= std::size_t(QueueLimit))
            return false;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

void WorkerPool::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : running_) {
        if (thread.joinable())
            thread.join();
    }
    running_.clear();
}

void WorkerPool::run(std::promise<QString>* opened)
{
    JournalStore writer;
    JournalStore reader;
    QString error;
    if (!writer.open(location_, &error) || !reader.openReadOnly(location_, &error)) {
        opened->set_value(error.isEmpty() ? QStringLiteral("cannot open the journal") : error);
        return;
    }
    opened->set_value(QString());
    WorkerContext context{reader, writer};
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job(context);
    }
}

} // namespace chronel
