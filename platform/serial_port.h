#pragma once
// A serial port for the driver's serial link: exclusive open of a device by
// path, line settings, raw binary transfer without flow control, one-byte
// reads with a time-out and the count of waiting bytes. Failures return
// false (or an error value) and leave the errno in lastError().
//
// Thread safety: one SerialPort is used by one thread at a time (the driver
// opens it on the starting thread and then hands it to its worker).
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class SerialParity { None, Odd, Even };

struct SerialSettings {
    int baudRate = 9600; // bits per second, one of the standard rates
    int dataBits = 8;    // 7 or 8
    SerialParity parity = SerialParity::None;
    int stopBits = 1; // 1 or 2
};

class SerialPort {
public:
    enum class Wait { Ready, TimedOut, Failed };
    enum class Read { Byte, TimedOut, Failed };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `devicePath` for reading and writing, as this process's own: a
    // second open of the same device, by this or another process, is refused
    // with EBUSY. Fails on an already open SerialPort.
    bool open(const std::string& devicePath);
    // Applies the settings: raw binary mode, no flow control, receiver on,
    // modem lines ignored for reception, DTR and RTS raised where the device
    // has them. Refused (EINVAL) when a value is not supported or the device
    // does not keep it.
    bool configure(const SerialSettings& settings);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int nativeHandle() const { return fd_; }

    // Writes all `size` bytes, waiting at most `timeoutMs` in total for the
    // device to take them (negative: no limit). False on failure or when not
    // everything was taken in time (ETIMEDOUT).
    bool writeAll(const std::uint8_t* data, std::size_t size, int timeoutMs);
    // Waits until at least one byte can be read, at most `timeoutMs`
    // (0: just look). Counts real elapsed time on the monotonic clock.
    Wait waitForInput(int timeoutMs);
    // Reads one byte, waiting at most `timeoutMs` for it.
    Read readByte(std::uint8_t& byte, int timeoutMs);
    // Reads the bytes that have arrived, at most `size`, waiting at most
    // `timeoutMs` for the first; Byte with their number in `count` (at
    // least 1). One call instead of one per byte for a long reply.
    Read readAvailable(std::uint8_t* data, std::size_t size, std::size_t& count, int timeoutMs);
    // Number of bytes received and not yet read, -1 on failure.
    int bytesWaiting();
    // Drops received bytes not yet read (stale replies) and, with
    // `output`, bytes written but not yet sent.
    bool discard(bool input = true, bool output = false);
    // Waits until everything written has been sent.
    bool drain();

    // errno of the last failure, 0 when none has happened yet.
    int lastError() const { return lastError_; }

private:
    bool fail(int err);

    int fd_ = -1;
    int lastError_ = 0;
};

} // namespace platform
