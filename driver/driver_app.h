#pragma once
// The driver of one loaded library: the adapters started from PLCDRV.INI and
// the dispatch of requests to them. Destroying it is the unload: every
// adapter is stopped and released, queued requests without completion.
//
// Thread safety: start() may be called from any thread; only the first call
// does anything, and until it has finished put() refuses every packet. put()
// may be called from any number of threads at once. The destructor must not
// run concurrently with any other call.
#include "driver/adapter_config.h"
#include "driver/driver_adapter.h"
#include "driver/startup_display.h"

#include <QString>

#include <atomic>
#include <memory>
#include <vector>

namespace plcdrv {

class DriverApp {
public:
    // How the driver reports configuration and port problems at start, and
    // what it shows while an adapter starts.
    struct Environment {
        ConfigReport report = MessageBoxReport();
        StartupDisplayFactory display = StatusWindowFactory();
    };

    DriverApp();
    explicit DriverApp(Environment environment);
    ~DriverApp();
    DriverApp(const DriverApp&) = delete;
    DriverApp& operator=(const DriverApp&) = delete;

    // The first call reads `iniPath` and starts every enabled serial and
    // Modbus Plus adapter, in ascending adapter number. Returns false, at
    // once and without effect, on every later call.
    bool start(const QString& iniPath);

    // Queues a RequestPacket on the running adapter whose number it names.
    // 1 when queued; 0 for a null packet, a declared size below the packet's
    // 280 bytes, before start() has finished, or when no running adapter has
    // that number or can frame the request.
    int put(void* packet, int size);

    // Numbers of the running adapters, in start order.
    std::vector<int> runningAdapters() const;

private:
    bool startAdapter(DriverAdapter& adapter, const AdapterConfig& config);

    Environment environment_;
    std::atomic<bool> started_{false};
    // Set once the adapter list is complete; the list does not change again
    // until destruction, so readers need no lock after seeing it set.
    std::atomic<bool> listReady_{false};
    std::vector<std::unique_ptr<DriverAdapter>> adapters_;
};

} // namespace plcdrv
