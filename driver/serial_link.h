#pragma once
// The serial half of a serial adapter: its COM port, opened exclusively with
// the adapter's line settings for as long as the adapter lives, and the
// byte-level half of each exchange (write the request frame, collect the
// reply byte by byte until the frame rules say it is whole, or give up when
// no further byte comes within the reply time-out).
//
// Thread safety: open() and close() run on the thread that starts or destroys
// the adapter, while no worker uses the link; exchange() runs on the
// adapter's worker only. The run flag handed to exchange() may be cleared
// from any thread.
#include "driver/adapter_config.h"
#include "driver/adapter_link.h"
#include "driver/modbus_message.h"
#include "platform/serial_port.h"

#include <QString>

#include <atomic>
#include <chrono>

namespace plcdrv {

// Bits per second for a LinkSpeed code (platform::plcdrvini::LinkSpeedSetting);
// 9600 for any other value.
int BaudRateForIndex(int index);

// The silence that ends a frame on a line of `baudRate` bits per second:
// three and a half characters of 11 bits, and 1.75 ms above 19200 baud,
// where Modbus RTU fixes it. A master keeps it after each reply before its
// next request.
std::chrono::microseconds FrameSilence(int baudRate);

// The line settings of a configured serial adapter.
platform::SerialSettings LineSettingsFor(const AdapterLink& link);

enum class ExchangeOutcome {
    Complete, // a whole reply frame is in the message
    NoReply,  // not written whole, port failed, or the reply time-out ran out
    Stopped,  // the adapter is being destroyed; the exchange was abandoned
};

class SerialLink {
public:
    // Longest single wait for input, so that a cleared run flag is noticed
    // quickly even while a slave stays silent for a long reply time-out.
    static constexpr int kWaitStepMs = 5;

    SerialLink() = default;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Opens `device` as COM link.comNumber with the adapter's line settings.
    // A device that cannot be opened (missing, held by another program) is
    // reported through `report` as "Error Opening COM%d: - Error Code %08x"
    // with the errno; line settings the device refuses close it again
    // without a message. True when the port is open and configured.
    bool open(const AdapterLink& link, const QString& device, const ConfigReport& report);
    void close();
    bool isOpen() const { return port_.isOpen(); }

    // One exchange: `message` holds the complete request frame and, when the
    // result is Complete, afterwards the complete reply frame (its complete
    // flag set). Each reply byte must arrive within `replyTimeoutMs` of the
    // previous one (of the write, for the first). Input left over from
    // earlier exchanges is discarded before the request is written. The
    // exchange is abandoned (Stopped) soon after `running` is cleared.
    ExchangeOutcome exchange(ModbusMessage& message, unsigned replyTimeoutMs, const std::atomic<bool>& running);

private:
    enum class ReadResult { Bytes, TimedOut, Failed, Stopped };
    // Waits for the next reply bytes and takes all that have arrived.
    ReadResult readReplyBytes(
        std::uint8_t* data, std::size_t size, std::size_t& count, unsigned timeoutMs, const std::atomic<bool>& running);

    platform::SerialPort port_;
};

} // namespace plcdrv
