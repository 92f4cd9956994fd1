#include "driver/serial_link.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <climits>

namespace plcdrv {
namespace {

using Clock = std::chrono::steady_clock;

// The kernel takes a whole request frame into its buffer at once; a write
// only waits when the line is stuck, and then it must not wait for ever.
constexpr int kWriteGraceMs = 1000;

int WriteTimeoutMs(unsigned replyTimeoutMs)
{
    const unsigned long long total = static_cast<unsigned long long>(replyTimeoutMs) + kWriteGraceMs;
    return static_cast<int>(std::min<unsigned long long>(total, INT_MAX));
}

} // namespace

int BaudRateForIndex(int index)
{
    namespace ini = platform::plcdrvini;
    if (index < ini::Speed1200 || index > ini::Speed115200)
        return ini::LinkSpeedBaudRates[ini::Speed9600];
    return ini::LinkSpeedBaudRates[index];
}

std::chrono::microseconds FrameSilence(int baudRate)
{
    constexpr std::chrono::microseconds Fixed{1750};
    if (baudRate > 19200 || baudRate <= 0)
        return Fixed;
    // 3.5 x 11 bits, rounded up to the next microsecond.
    return std::chrono::microseconds((38500000LL + baudRate - 1) / baudRate);
}

platform::SerialSettings LineSettingsFor(const AdapterLink& link)
{
    platform::SerialSettings settings;
    settings.baudRate = BaudRateForIndex(link.baudRateIndex);
    settings.dataBits = link.dataBits == 7 ? 7 : 8;
    switch (link.parity) {
    case OddParity: settings.parity = platform::SerialParity::Odd; break;
    case EvenParity: settings.parity = platform::SerialParity::Even; break;
    default: settings.parity = platform::SerialParity::None; break;
    }
    settings.stopBits = link.stopBits == TwoStopBits ? 2 : 1;
    return settings;
}

bool SerialLink::open(const AdapterLink& link, const QString& device, const ConfigReport& report)
{
    if (port_.isOpen())
        return true;
    if (link.comNumber == AdapterLink::kUnset || link.baudRateIndex == AdapterLink::kUnset)
        return false;
    if (!port_.open(QFile::encodeName(device).toStdString())) {
        if (report)
            report(QString::asprintf(
                "Error Opening COM%d: - Error Code %08x", link.comNumber, static_cast<unsigned>(port_.lastError())));
        return false;
    }
    if (!port_.configure(LineSettingsFor(link))) {
        port_.close();
        return false;
    }
    return true;
}

void SerialLink::close() { port_.close(); }

SerialLink::ReadResult SerialLink::readReplyBytes(
    std::uint8_t* data, std::size_t size, std::size_t& count, unsigned timeoutMs, const std::atomic<bool>& running)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int step = static_cast<int>(std::clamp<long long>(left, 0, kWaitStepMs));
        switch (port_.readAvailable(data, size, count, step)) {
        case platform::SerialPort::Read::Byte: return ReadResult::Bytes;
        case platform::SerialPort::Read::Failed: return ReadResult::Failed;
        case platform::SerialPort::Read::TimedOut: break;
        }
        if (!running.load(std::memory_order_relaxed))
            return ReadResult::Stopped;
        if (Clock::now() >= deadline)
            return ReadResult::TimedOut;
    }
}

ExchangeOutcome SerialLink::exchange(ModbusMessage& message, unsigned replyTimeoutMs, const std::atomic<bool>& running)
{
    message.setComplete(false);
    if (!port_.isOpen())
        return ExchangeOutcome::NoReply;

    // Bytes still waiting belong to an earlier exchange that gave up (a late
    // reply, the tail of a garbled frame); read now, they would pass for the
    // start of this request's reply.
    port_.discard(true, false);

    if (!port_.writeAll(message.frame(), message.frameLength(), WriteTimeoutMs(replyTimeoutMs))) {
        message.reset();
        return ExchangeOutcome::NoReply;
    }

    // The same buffer now receives the reply. Bytes are taken from the port
    // as they have arrived and handed to the message one at a time, so that
    // the frame rules see every length; whatever follows a complete frame
    // is stale by the next exchange and discarded there.
    message.reset();
    std::uint8_t received[256];
    while (!message.replyComplete()) {
        std::size_t count = 0;
        switch (readReplyBytes(received, sizeof received, count, replyTimeoutMs, running)) {
        case ReadResult::Bytes: break;
        case ReadResult::Stopped: return ExchangeOutcome::Stopped;
        case ReadResult::TimedOut: return ExchangeOutcome::NoReply;
        case ReadResult::Failed: message.reset(); return ExchangeOutcome::NoReply;
        }
        for (std::size_t i = 0; i < count && !message.replyComplete(); ++i) {
            // A peer that keeps talking without ever completing a frame fills
            // the buffer; that ends the reply as incomplete.
            if (!message.receiveByte(received[i])) {
                message.reset();
                return ExchangeOutcome::NoReply;
            }
        }
    }
    message.setComplete(true);
    return ExchangeOutcome::Complete;
}

} // namespace plcdrv
