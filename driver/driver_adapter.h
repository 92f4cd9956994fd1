#pragma once
// One running adapter: its settings and link (COM port or Modbus Plus card),
// its queue of pending requests and the worker thread that runs them one at
// a time, oldest first.
//
// Thread safety: put() may be called from any thread at any time while the
// adapter exists. It takes only the queue lock, which nobody holds for longer
// than a queue operation, so a put never waits for a running exchange. The
// worker alone performs exchanges and writes into packets, one request at a
// time, so requests of one adapter are exchanged and completed strictly in
// put order. startLink() and startWorker() run once, on the starting thread,
// before the adapter is visible to put(); the destructor runs on the
// unloading thread after the last put.
#include "driver/adapter_config.h"
#include "driver/adapter_link.h"
#include "driver/pending_request.h"
#include "driver/serial_link.h"
#include "driver/startup_display.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace plcdrv {

class DriverAdapter final : public AdapterLink {
public:
    // Silence kept between the end of one exchange and the start of the
    // next on a Modbus Plus card; a serial line keeps its frame silence
    // (FrameSilence), which its slaves rely on to tell frames apart.
    static constexpr std::chrono::milliseconds kCardExchangePause{10};

    DriverAdapter() = default;
    // Stops the worker (an exchange in progress on a serial port is
    // abandoned within a few milliseconds; a Modbus Plus exchange runs to its
    // end), then closes the link and releases the queued requests without
    // completing them.
    ~DriverAdapter() override;
    DriverAdapter(const DriverAdapter&) = delete;
    DriverAdapter& operator=(const DriverAdapter&) = delete;

    // Opens the configured link: the serial port `device`, or the Modbus Plus
    // card through mpbridge. `display`, when given, shows the progress of a
    // serial start. True when the link is up.
    bool startLink(const QString& device, StartupDisplay* display, const ConfigReport& report);
    bool linkStarted() const { return serial_.isOpen() || cardOpen_; }
    // Starts the worker thread; false when the system refuses a thread.
    bool startWorker();

    // Builds the request frame from `packet` and queues it: 1 when queued, 0
    // when no frame can be built for this adapter or it is stopping.
    int put(plcdrv::RequestPacket* packet);

private:
    void run();
    std::unique_ptr<PendingRequest> waitForRequest();
    void process(PendingRequest& request);
    void complete(PendingRequest& request, int status);
    void closeLink();

    SerialLink serial_;
    bool cardOpen_ = false;

    std::mutex queueMutex_;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<PendingRequest>> queue_;
    // Cleared (under the queue lock) when the adapter is destroyed; read
    // without the lock by a waiting serial exchange.
    std::atomic<bool> running_{false};
    // Worker only.
    std::chrono::steady_clock::time_point nextExchange_{};
    std::thread worker_;
};

} // namespace plcdrv
