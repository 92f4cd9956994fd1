#include "driver/driver_adapter.h"

#include "driver/mbx_message.h"
#include "driver/message_factory.h"
#include "driver/reply_completion.h"
#include "mpbridge/mpbridge.h"

#include <system_error>

namespace plcdrv {

DriverAdapter::~DriverAdapter()
{
    {
        std::lock_guard lock(queueMutex_);
        running_.store(false);
    }
    wake_.notify_all();
    // The worker must be gone before the link closes under it.
    if (worker_.joinable())
        worker_.join();
    closeLink();
    std::lock_guard lock(queueMutex_);
    queue_.clear();
}

bool DriverAdapter::startLink(const QString& device, StartupDisplay* display, const ConfigReport& report)
{
    if (linkStarted())
        return true;
    switch (adapterType) {
    case SerialAdapter:
        if (display)
            display->setStatusText(QString::asprintf("Initializing COM%d:", comNumber));
        if (!serial_.open(*this, device, report))
            return false;
        if (display)
            display->setStatusText(QString::asprintf("Starting COM%d: Asynchronous I/O", comNumber));
        return true;
    case ModbusPlusAdapter: cardOpen_ = MBXInitCard(cardNumber) == 1; return cardOpen_;
    default: return false;
    }
}

void DriverAdapter::closeLink()
{
    serial_.close();
    if (cardOpen_) {
        cardOpen_ = false;
        MBXStopCard(cardNumber);
    }
}

bool DriverAdapter::startWorker()
{
    if (worker_.joinable())
        return true;
    running_.store(true);
    try {
        worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        running_.store(false);
        return false;
    }
    return true;
}

int DriverAdapter::put(plcdrv::RequestPacket* packet)
{
    // A serial line carries RTU or ASCII frames only; a Modbus Plus frame has
    // neither address nor check and no reply rule to end it.
    if (adapterType == SerialAdapter && messageKind != RtuKind && messageKind != AsciiKind)
        return 0;
    auto request = std::make_unique<PendingRequest>();
    request->message = BuildMessage(messageKind, *packet);
    if (!request->message)
        return 0;
    request->packet = packet;
    request->window = packet->notifyWindow;
    request->messageKind = messageKind;
    request->dataCount = RequestDataCount(*packet);
    {
        std::lock_guard lock(queueMutex_);
        if (!running_.load())
            return 0;
        queue_.push_back(std::move(request));
    }
    wake_.notify_one();
    return 1;
}

std::unique_ptr<PendingRequest> DriverAdapter::waitForRequest()
{
    std::unique_lock lock(queueMutex_);
    wake_.wait(lock, [this] { return !running_.load() || !queue_.empty(); });
    // An idle adapter starts at once; a busy one keeps the pause after its
    // previous exchange.
    wake_.wait_until(lock, nextExchange_, [this] { return !running_.load(); });
    if (!running_.load() || queue_.empty())
        return nullptr;
    auto request = std::move(queue_.front());
    queue_.pop_front();
    return request;
}

void DriverAdapter::run()
{
    const std::chrono::microseconds pause = adapterType == SerialAdapter
        ? FrameSilence(BaudRateForIndex(baudRateIndex))
        : std::chrono::microseconds(kCardExchangePause);
    while (auto request = waitForRequest()) {
        process(*request);
        nextExchange_ = std::chrono::steady_clock::now() + pause;
    }
}

void DriverAdapter::process(PendingRequest& request)
{
    int status = kNoReplyStatus;
    if (adapterType == SerialAdapter) {
        const ExchangeOutcome outcome = serial_.exchange(*request.message, replyTimeoutMs, running_);
        if (outcome == ExchangeOutcome::Stopped)
            return;
        status = outcome == ExchangeOutcome::Complete ? 0 : kNoReplyStatus;
    } else if (auto* mbx = dynamic_cast<MbxMessage*>(request.message.get())) {
        status = mbx->exchange(cardNumber, replyTimeoutMs);
    }
    // Unloading: nobody is left to receive a completion.
    if (!running_.load())
        return;
    complete(request, status);
}

void DriverAdapter::complete(PendingRequest& request, int status)
{
    // The packet lives inside the caller's control, which may be gone with
    // its window; then the packet is not touched at all.
    if (!platform::isWindow(request.window))
        return;
    status = StoreReply(*request.message, status, adapterType == SerialAdapter, *request.packet);
    platform::postMessage(request.window, platform::DRIVER_DONE_MESSAGE, 0, status);
}

} // namespace plcdrv
