#pragma once
// The caller's side of the driver in tests: controls that own a packet and a
// window like PLCTAG does, PLCDRV.INI files, and an event loop to wait in.
#include "driver/request_packet.h"
#include "platform/window_messages.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace drivertest {

// Runs the thread's Qt event loop until `done` holds or `timeout` passes;
// returns `done()`.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Runs the event loop for `duration`, to let stray messages arrive.
void RunFor(std::chrono::milliseconds duration);

// One caller: a window that receives DRIVER_DONE_MESSAGE and the packet it
// hands to the driver. Completions are recorded in arrival order; an
// optional shared log records this control's id on every completion, so
// that several controls can check their relative order.
class TestControl : public QObject {
public:
    struct Completion {
        int status;
        std::chrono::steady_clock::time_point at;
    };

    explicit TestControl(int id = 0, std::vector<int>* sharedLog = nullptr);
    ~TestControl() override;

    plcdrv::RequestPacket& packet() { return *packet_; }
    platform::WindowHandle window() const { return window_; }
    // Drops the window (as a destroyed control would) but keeps the packet
    // readable so that a test can check it was left alone.
    void closeWindow();

    // Fills the packet: read `count` holding registers from `start`
    // (protocol address) of `unit` on `adapter`.
    void readHolding(int adapter, int unit, int start, int count);
    // Any PDU: function code then data.
    void request(int adapter, int unit, const std::vector<std::uint8_t>& pdu);

    const std::vector<Completion>& completions() const { return completions_; }
    bool waitForCompletions(std::size_t count, std::chrono::milliseconds timeout);
    // The register at `index` of the reply data, big-endian as on the wire.
    std::uint16_t replyWord(int index) const;

private:
    int id_;
    std::vector<int>* sharedLog_;
    std::unique_ptr<plcdrv::RequestPacket> packet_;
    platform::WindowHandle window_ = 0;
    std::vector<Completion> completions_;
};

// A PLCDRV.INI in a temporary file, removed with the object.
class IniFile {
public:
    IniFile();
    explicit IniFile(const std::string& text);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    void write(const std::string& text);
    QString path() const { return QString::fromStdString(path_); }
    const std::string& pathString() const { return path_; }

    // An enabled serial section for adapter n on COM `com` (1-based).
    static std::string serial(int n, int com, int protocol = 0, int timeoutMs = 1000, int speed = 4);
    // An enabled Modbus Plus section for adapter n on card `card`.
    static std::string modbusPlus(int n, int card, int timeoutMs = 1000);
    // A section of any type, enabled or not.
    static std::string section(int n, int type, bool enabled);
    // The "Ports" section mapping COM numbers to device paths.
    static std::string ports(const std::vector<std::pair<int, std::string>>& map);
    static std::string general(int dialogShow);

private:
    std::string path_;
};

} // namespace drivertest
