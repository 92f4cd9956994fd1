#include "driver_harness.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <fstream>

#include <unistd.h>

namespace drivertest {

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    if (done())
        return true;
    // Posted messages wake the blocking wait below at once; the ticks let it
    // also notice what other threads change without posting anything, and
    // the deadline ends it.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(static_cast<int>(std::max<long long>(timeout.count(), 0)));
    QTimer tick;
    tick.start(2);
    QEventLoop loop;
    while (!done() && deadline.isActive())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void RunFor(std::chrono::milliseconds duration)
{
    RunUntil([] { return false; }, duration);
}

TestControl::TestControl(int id, std::vector<int>* sharedLog)
    : id_(id), sharedLog_(sharedLog), packet_(std::make_unique<plcdrv::RequestPacket>())
{
    std::memset(packet_.get(), 0, sizeof(plcdrv::RequestPacket));
    window_ = platform::registerWindow(this, [this](unsigned message, std::uintptr_t, std::intptr_t status) {
        if (message != platform::DRIVER_DONE_MESSAGE)
            return;
        completions_.push_back({static_cast<int>(status), std::chrono::steady_clock::now()});
        if (sharedLog_)
            sharedLog_->push_back(id_);
    });
    packet_->notifyWindow = window_;
}

TestControl::~TestControl() { platform::unregisterWindow(window_); }

void TestControl::closeWindow() { platform::unregisterWindow(window_); }

void TestControl::readHolding(int adapter, int unit, int start, int count)
{
    request(adapter, unit,
        {0x03, static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start),
            static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)});
}

void TestControl::request(int adapter, int unit, const std::vector<std::uint8_t>& pdu)
{
    plcdrv::RequestPacket& p = *packet_;
    p.notifyWindow = window_;
    p.adapter = static_cast<std::int16_t>(adapter);
    p.requestClass = plcdrv::ModbusRequestClass;
    p.pduLength = static_cast<std::int32_t>(pdu.size());
    std::memset(p.route, 0, sizeof p.route);
    p.route[0] = static_cast<std::uint8_t>(unit);
    p.functionCode = pdu.empty() ? 0 : pdu[0];
    for (std::size_t i = 1; i < pdu.size() && i - 1 < sizeof p.data; ++i)
        p.data[i - 1] = pdu[i];
}

bool TestControl::waitForCompletions(std::size_t count, std::chrono::milliseconds timeout)
{
    return RunUntil([&] { return completions_.size() >= count; }, timeout);
}

std::uint16_t TestControl::replyWord(int index) const
{
    const std::uint8_t* data = packet_->data + 1;
    return static_cast<std::uint16_t>((data[2 * index] << 8) | data[2 * index + 1]);
}

IniFile::IniFile()
{
    char name[] = "/tmp/plcdrv-ini-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0)
        ::close(fd);
    path_ = name;
}

IniFile::IniFile(const std::string& text) : IniFile() { write(text); }

IniFile::~IniFile() { std::remove(path_.c_str()); }

void IniFile::write(const std::string& text) { std::ofstream(path_, std::ios::trunc) << text; }

std::string IniFile::serial(int n, int com, int protocol, int timeoutMs, int speed)
{
    return "[Adapter.Object." + std::to_string(n) + "]\nEnabled=1\nType=0\nCOM:=" + std::to_string(com - 1) +
        "\nLinkSpeed=" + std::to_string(speed) +
        "\nLinkParity=0\nLinkDataBits=1\nLinkStopBits=0\nLinkProtocol=" + std::to_string(protocol) +
        "\nLinkTimeOut=" + std::to_string(timeoutMs) + "\n";
}

std::string IniFile::modbusPlus(int n, int card, int timeoutMs)
{
    return "[Adapter.Object." + std::to_string(n) + "]\nEnabled=1\nType=1\nMBXDeviceNumber=" + std::to_string(card) +
        "\nLinkTimeOut=" + std::to_string(timeoutMs) + "\n";
}

std::string IniFile::section(int n, int type, bool enabled)
{
    return "[Adapter.Object." + std::to_string(n) + "]\nEnabled=" + (enabled ? "1" : "0") +
        "\nType=" + std::to_string(type) + "\n";
}

std::string IniFile::ports(const std::vector<std::pair<int, std::string>>& map)
{
    std::string text = "[Ports]\n";
    for (const auto& [com, path] : map)
        text += "COM" + std::to_string(com) + "=" + path + "\n";
    return text;
}

std::string IniFile::general(int dialogShow) { return "[GENERAL]\nDialogShow=" + std::to_string(dialogShow) + "\n"; }

} // namespace drivertest
