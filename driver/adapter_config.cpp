#include "driver/adapter_config.h"

#include "driver/message_factory.h"
#include "platform/message_box.h"
#include "platform/profile.h"

namespace plcdrv {
namespace {

namespace ini = platform::plcdrvini;
namespace key = platform::plcdrvini::key;

QString SectionOf(int n) { return ini::section::Adapter(n); }

QString Format(const char* pattern, int value) { return QString::asprintf(pattern, value); }

} // namespace

ConfigReport MessageBoxReport()
{
    return [](const QString& text) {
        platform::MessageBox(
            QStringLiteral("PLCDRV"), text, platform::MessageIcon::Warning, platform::MessageButtons::Ok);
    };
}

AdapterConfig::AdapterConfig(QString iniPath, ConfigReport report)
    : iniPath_(std::move(iniPath)), report_(std::move(report))
{
}

QString AdapterConfig::defaultIniPath() { return platform::PlcdrvIniReadPath(); }

int AdapterConfig::readInt(const QString& section, const QString& key, int defaultValue) const
{
    return platform::PrivateProfile::getInt(iniPath_, section, key, defaultValue);
}

bool AdapterConfig::enabled(int n) const { return readInt(SectionOf(n), key::Enabled, 0) != 0; }

int AdapterConfig::configure(int n, AdapterLink& link) const
{
    const QString section = SectionOf(n);
    const auto drop = [this](const QString& text) {
        if (report_)
            report_(text);
        return 0;
    };

    link.showStatusWindow = readInt(ini::section::General, key::DialogShow, 1);

    const int type = readInt(section, key::Type, -1);
    if (type < SerialAdapter || type > TcpIpAdapter)
        return drop(Format("Device Type Assigned to Adapter %d is Invalid!", n));
    link.adapterType = type;

    // Compared unsigned on purpose: a negative entry reads as a huge rate.
    const auto pollRate = static_cast<unsigned>(readInt(section, key::AdapterPollRate, 10));
    link.pollRate = pollRate > 1000 ? 1000 : (pollRate < 10 ? 10 : pollRate);
    link.replyTimeoutMs = static_cast<unsigned>(readInt(section, key::LinkTimeOut, 5000));

    switch (type) {
    case SerialAdapter: {
        const long long com = static_cast<long long>(readInt(section, key::ComIndex, -1)) + 1;
        if (com < 1 || com > 24)
            return drop(QString::asprintf("COM:%lld Port Assigned to Adapter %d Invalid!", com, n));
        link.comNumber = static_cast<int>(com);

        const int speed = readInt(section, key::LinkSpeed, -1);
        if (speed < ini::Speed1200 || speed > ini::Speed115200)
            return drop(Format("Link Speed Assigned to Async Adapter %d is Invalid!", n));
        link.baudRateIndex = speed;

        // Out-of-range line settings are refused rather than replaced by
        // guesses: a wrong parity, data bit or stop bit setting garbles every
        // frame on the line.
        const int parity = readInt(section, key::LinkParity, -1);
        if (parity < NoParity || parity > EvenParity)
            return drop(Format("Parity Assigned to Async Adapter %d is Invalid!", n));
        link.parity = parity;

        const int dataBits = readInt(section, key::LinkDataBits, -1);
        if (dataBits != ini::SevenDataBitsSetting && dataBits != ini::EightDataBitsSetting)
            return drop(Format("DataBits Assigned to Async Adapter %d is Invalid!", n));
        link.dataBits = dataBits == ini::SevenDataBitsSetting ? 7 : 8;

        const int stopBits = readInt(section, key::LinkStopBits, -1);
        if (stopBits != ini::OneStopBitSetting && stopBits != ini::TwoStopBitsSetting)
            return drop(Format("StopBits Assigned to Async Adapter %d is Invalid!", n));
        link.stopBits = stopBits == ini::OneStopBitSetting ? OneStopBit : TwoStopBits;

        const int protocol = readInt(section, key::LinkProtocol, -1);
        if (protocol < RtuKind || protocol > ModbusPlusKind)
            return drop(Format("Protocol Assigned to Async Adapter %d is Invalid!", n));
        link.messageKind = protocol;

        link.nodeId = readInt(section, key::NodeId, -1);
        link.assertRts = readInt(section, key::LinkAssertRts, 0);
        link.rtsLeadTime = readInt(section, key::LinkRtsLeadTime, 0);
        link.rtsLagTime = readInt(section, key::LinkRtsLagTime, 0);
        break;
    }
    case ModbusPlusAdapter:
        link.cardNumber = readInt(section, key::MbxDeviceNumber, -1);
        link.messageKind = ModbusPlusKind;
        break;
    default:
        // TCP/IP adapters are served by the control itself.
        return 0;
    }

    link.adapterNumber = n;
    return n;
}

QString AdapterConfig::comPortDevice(int comNumber) const
{
    const QString mapped =
        platform::PrivateProfile::getString(iniPath_, ini::section::Ports, key::Port(comNumber)).trimmed();
    if (!mapped.isEmpty())
        return mapped;
    return QStringLiteral("/dev/ttyS%1").arg(comNumber - 1);
}

} // namespace plcdrv
