#pragma once
// The threads that answer requests, off the server's io thread: each owns a
// read-only store and a writing store of the journal (a store belongs to the
// thread that opened it). Jobs wait in one bounded queue; a server asked
// more than it can answer says so at once rather than let the queue grow.
//
// Thread safety: post() may be called from any thread; start() and stop()
// from the one that owns the pool.
#include "journal/journal_location.h"
#include "web/web_request.h"

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace chronel {

class WorkerPool {
public:
    using Job = std::function<void(WorkerContext&)>;
    static constexpr int QueueLimit = 256;

    WorkerPool(JournalLocation location, int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Starts the threads and waits until each has opened its stores (the
    // writer first: it brings the journal's schema up to date). False with
    // `*error` from the first that could not; no thread is left running.
    bool start(QString* error);
    // Queues a job; false when the queue is full or the pool stopped. A job
    // must not throw.
    bool post(Job job);
    // Runs the jobs begun, drops the rest, joins the threads.
    void stop();

private:
    void run(std::promise<QString>* opened);

    JournalLocation location_;
    int threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> running_;
};

} // namespace chronel
