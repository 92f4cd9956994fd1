#include "driver/driver_app.h"

#include "driver/request_packet.h"
#include "platform/plcdrv_ini.h"
#include "platform/window_messages.h"

#include <new>

namespace plcdrv {

DriverApp::DriverApp() : DriverApp(Environment{}) { }

DriverApp::DriverApp(Environment environment) : environment_(std::move(environment))
{
    // The workers look up windows until the adapters are destroyed. Asking
    // once here makes the platform's window registry older than this object,
    // so that it is also destroyed after it when the process exits.
    platform::isWindow(0);
}

DriverApp::~DriverApp()
{
    listReady_.store(false);
    // In start order, each adapter's worker ended before its link closes.
    for (auto& adapter : adapters_)
        adapter.reset();
    adapters_.clear();
    started_.store(false);
}

bool DriverApp::start(const QString& iniPath)
{
    if (started_.exchange(true))
        return false;
    // Whatever ends the start, the adapters started so far serve requests.
    struct Publish {
        std::atomic<bool>& ready;
        ~Publish() { ready.store(true, std::memory_order_release); }
    } publish{listReady_};
    const AdapterConfig config(iniPath, environment_.report);
    for (int n = 1; n <= platform::plcdrvini::AdapterCount; ++n) {
        if (!config.enabled(n))
            continue;
        std::unique_ptr<DriverAdapter> adapter(new (std::nothrow) DriverAdapter);
        if (!adapter)
            break; // the adapters already running stay
        if (config.configure(n, *adapter) == 0)
            continue;
        if (!startAdapter(*adapter, config) || !adapter->startWorker())
            continue;
        adapters_.push_back(std::move(adapter));
    }
    return true;
}

bool DriverApp::startAdapter(DriverAdapter& adapter, const AdapterConfig& config)
{
    std::unique_ptr<StartupDisplay> display;
    if (adapter.showStatusWindow != 0 && environment_.display)
        display = environment_.display();
    if (display) {
        if (adapter.adapterType == SerialAdapter)
            display->setCaption(
                QString::asprintf("Starting Adapter %d As COM%d", adapter.adapterNumber, adapter.comNumber));
        else
            display->setCaption(QString::asprintf("Starting Adapter %d As MBX Device", adapter.adapterNumber));
    }
    const QString device = adapter.adapterType == SerialAdapter ? config.comPortDevice(adapter.comNumber) : QString();
    // The display stays up behind a failure message and goes with the start.
    return adapter.startLink(device, display.get(), environment_.report);
}

int DriverApp::put(void* packet, int size)
{
    if (packet == nullptr || size < static_cast<int>(plcdrv::RequestPacketSize))
        return 0;
    if (!listReady_.load(std::memory_order_acquire))
        return 0;
    auto* request = static_cast<plcdrv::RequestPacket*>(packet);
    const int number = request->adapter;
    for (const auto& adapter : adapters_) {
        if (adapter->adapterNumber == number)
            return adapter->put(request);
    }
    return 0;
}

std::vector<int> DriverApp::runningAdapters() const
{
    std::vector<int> numbers;
    if (!listReady_.load(std::memory_order_acquire))
        return numbers;
    for (const auto& adapter : adapters_)
        numbers.push_back(adapter->adapterNumber);
    return numbers;
}

} // namespace plcdrv
