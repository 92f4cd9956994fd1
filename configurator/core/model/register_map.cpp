#include "register_map.h"

#include "core/fields/conversions.h"
#include "core/fields/number_rule.h"
#include "core/fields/text_rule.h"

namespace chronel {

namespace {

constexpr int MacWord = 19;
constexpr int IpWord = 26;
constexpr int SubnetWord = 30;
constexpr int GatewayWord = 34;
constexpr int ModuleNameByte = 38 * 2;
constexpr int ModuleNameChars = 16;
constexpr int DescriptionChars = 32;
constexpr int StateTextChars = 16;

Check CheckFromWord(qint16 word) { return CheckFrom(word != 0); }
qint16 WordFromCheck(Check c) { return IsChecked(c) ? 1 : 0; }

void OctetsFromWords(const ConfigBlock& words, int first, OctetFields& fields)
{
    for (int i = 0; i < 4; ++i)
        fields[std::size_t(i)] = NumberText(ClampToRange(words[std::size_t(first + i)], 0, 255));
}

void OctetsToWords(const OctetFields& fields, ConfigWriteBlock words, int first)
{
    for (int i = 0; i < 4; ++i) {
        const double rounded = RoundHalfEven(LeadingNumber(fields[std::size_t(i)]));
        words[std::size_t(first + i)] = qint16(ClampRounded(rounded, 0, 255));
    }
}

// A numeric setting for one word: clamped into the word's range, with a record
// for the caller when that changed the value.
void NumberToWord(
    const QString& field, const char* control, ConfigWriteBlock words, int index, QList<FieldClamp>& clamps)
{
    const FieldNumber number = ReadFieldNumber(field);
    words[std::size_t(index)] = number.value;
    if (number.clamped)
        clamps.append({QString::fromLatin1(control), -1, field, NumberText(number.value), -32768, 32767});
}

} // namespace

void ConfigBlockToSettings(const ConfigBlock& w, ModuleSettings& s)
{
    s.ConfigSyncMaster = CheckFromWord(w[0]);
    s.TsToGpsOffset = NumberText(w[1]);
    s.TsToIrigOffset = NumberText(w[2]);
    s.ConfigEventBufferType = w[3] >= 0 && w[3] <= 3 ? w[3] : -1;
    s.ConfigEventDelay = NumberText(qint64(w[4]) * 10);
    // A location the list does not hold leaves no entry chosen.
    s.TsDstLocation = w[5] >= -1 && w[5] <= 5 ? w[5] : -1;
    s.TsDstStartMonth = NumberText(w[6]);
    s.TsDstStartDay = NumberText(w[7]);
    s.TsDstStartHour = NumberText(w[8]);
    s.TsDstStopMonth = NumberText(w[9]);
    s.TsDstStopDay = NumberText(w[10]);
    s.TsDstStopHour = NumberText(w[11]);
    s.ConfigHourTimeUpdate = CheckFromWord(w[12]);
    s.ConfigModbus232Baud = int(ClampToRange(w[13], 0, 6));
    s.ConfigModbus232Parity = int(ClampToRange(w[14], 0, 2));
    s.ConfigModbus232Delay = NumberText(w[15]);
    s.ConfigModbus485Baud = int(ClampToRange(w[16], 0, 9));
    s.ConfigModbus485Parity = int(ClampToRange(w[17], 0, 2));
    s.ConfigModbus485Delay = NumberText(w[18]);
    s.ConfigTcpipMac = MacText(std::span<const qint16, 6>(w.data() + MacWord, 6));
    s.ConfigTcpipMode = w[25] == 1 ? TcpipMode::BootP : (w[25] == 2 ? TcpipMode::Dhcp : TcpipMode::Manual);
    OctetsFromWords(w, IpWord, s.ConfigTcpipIp);
    OctetsFromWords(w, SubnetWord, s.ConfigTcpipSubnet);
    OctetsFromWords(w, GatewayWord, s.ConfigTcpipGateway);
    s.ConfigModuleName = ReadRegisterText(w, ModuleNameByte, ModuleNameChars);
    if (w[46] == 0)
        s.chooseTcpipSpeed(TcpipSpeed::AutoNegotiate);
    else if (w[46] == 1)
        s.chooseTcpipSpeed(TcpipSpeed::Mbps10);
    else if (w[46] == 2 || w[46] == Speed100Code)
        s.chooseTcpipSpeed(TcpipSpeed::Mbps100);
    s.ConfigVersion = VersionText(w[48]);
    s.ConfigModbusAddress = NumberText(w[49]);
    s.TsIeee1344 = CheckFromWord(w[50]);
    s.ConfigTcpipEthernetComm = w[51] == 1 ? EthernetComm::Half : EthernetComm::Full;
    s.ConfigModbus232Protocol = int(ClampToRange(w[52], 0, 1));
    s.ConfigModbus485Protocol = int(ClampToRange(w[53], 0, 1));
    s.ConfigLock = CheckFromWord(w[54]);
}

QList<FieldClamp> SettingsToConfigBlock(const ModuleSettings& s, ConfigWriteBlock w)
{
    QList<FieldClamp> clamps;
    w[0] = WordFromCheck(s.ConfigSyncMaster);
    NumberToWord(s.TsToGpsOffset, "txtTsToGpsOffset", w, 1, clamps);
    NumberToWord(s.TsToIrigOffset, "txtTsToIrigOffset", w, 2, clamps);
    if (s.ConfigEventBufferType >= 0 && s.ConfigEventBufferType <= 3)
        w[3] = qint16(s.ConfigEventBufferType);

    // The module counts the event delay in units of 10 ms.
    const FieldNumber delay = ToFieldNumber(RoundHalfEven(LeadingNumber(s.ConfigEventDelay) / 10.0));
    w[4] = delay.value;
    if (delay.clamped)
        clamps.append({QStringLiteral("txtConfigEventDelay"), -1, s.ConfigEventDelay,
            NumberText(qint64(delay.value) * 10), -327680, 327670});

    w[5] = qint16(s.TsDstLocation);
    NumberToWord(s.TsDstStartMonth, "txtTsDstStartMonth", w, 6, clamps);
    NumberToWord(s.TsDstStartDay, "txtTsDstStartDay", w, 7, clamps);
    NumberToWord(s.TsDstStartHour, "txtTsDstStartHour", w, 8, clamps);
    NumberToWord(s.TsDstStopMonth, "txtTsDstStopMonth", w, 9, clamps);
    NumberToWord(s.TsDstStopDay, "txtTsDstStopDay", w, 10, clamps);
    NumberToWord(s.TsDstStopHour, "txtTsDstStopHour", w, 11, clamps);
    w[12] = WordFromCheck(s.ConfigHourTimeUpdate);
    w[13] = qint16(s.ConfigModbus232Baud);
    w[14] = qint16(s.ConfigModbus232Parity);
    NumberToWord(s.ConfigModbus232Delay, "txtConfigModbus232Delay", w, 15, clamps);
    w[16] = qint16(s.ConfigModbus485Baud);
    w[17] = qint16(s.ConfigModbus485Parity);
    NumberToWord(s.ConfigModbus485Delay, "txtConfigModbus485Delay", w, 18, clamps);

    w[25] = s.ConfigTcpipMode == TcpipMode::BootP ? 1 : (s.ConfigTcpipMode == TcpipMode::Dhcp ? 2 : 0);
    OctetsToWords(s.ConfigTcpipIp, w, IpWord);
    OctetsToWords(s.ConfigTcpipSubnet, w, SubnetWord);
    OctetsToWords(s.ConfigTcpipGateway, w, GatewayWord);
    WriteRegisterText(w, ModuleNameByte, ModuleNameChars, s.ConfigModuleName);
    switch (s.ConfigTcpipSpeed) {
    case TcpipSpeed::AutoNegotiate: w[46] = 0; break;
    case TcpipSpeed::Mbps10: w[46] = 1; break;
    case TcpipSpeed::Mbps100: w[46] = Speed100Code; break;
    case TcpipSpeed::None: break;
    }
    w[50] = WordFromCheck(s.TsIeee1344);
    w[51] = s.ConfigTcpipEthernetComm == EthernetComm::Half ? 1 : 0;
    w[52] = qint16(s.ConfigModbus232Protocol);
    w[53] = qint16(s.ConfigModbus485Protocol);
    w[54] = WordFromCheck(s.ConfigLock);
    return clamps;
}

bool DownloadSetsWord(int i) { return (i >= 0 && i <= 18) || (i >= 25 && i <= 46) || (i >= 50 && i <= 54); }

QString ModuleIdFromWord(qint16 word) { return NumberText(word); }

FieldNumber ModuleIdToWord(const QString& field) { return ReadFieldNumber(field); }

int PointBlockIndex(int reg)
{
    const int offset = reg - PointBlockRegister(0);
    if (offset < 0 || offset % PointBlockWords != 0 || offset / PointBlockWords >= PointBlockCount)
        return -1;
    return offset / PointBlockWords;
}

// Blocks 0 and 1 hold two numeric columns of 32 words each; blocks 2 … 9 the
// descriptions of four points each (32 bytes a point); blocks 10 … 13 the off
// texts and 14 … 17 the on texts of eight points each (16 bytes a point).
bool PointBlockToTable(int firstRegister, const PointBlock& w, PointTable& table)
{
    const int b = PointBlockIndex(firstRegister);
    if (b < 0)
        return false;
    if (b == 0) {
        for (int p = 0; p < PointCount; ++p) {
            table[std::size_t(p)].SsPcFilter = quint16(FromRegisterWord(w[std::size_t(p)]));
            table[std::size_t(p)].SsPcDebounce = quint16(FromRegisterWord(w[std::size_t(32 + p)]));
        }
    } else if (b == 1) {
        for (int p = 0; p < PointCount; ++p) {
            table[std::size_t(p)].SsPcChatter = w[std::size_t(p)];
            SetDisabledFromWord(table[std::size_t(p)], w[std::size_t(32 + p)]);
        }
    } else if (b < 10) {
        for (int q = 0; q < 4; ++q)
            table[std::size_t(4 * (b - 2) + q)].SsPcDescription = ReadRegisterText(w, 32 * q, DescriptionChars);
    } else if (b < 14) {
        for (int q = 0; q < 8; ++q)
            table[std::size_t(8 * (b - 10) + q)].SsPcOff = ReadRegisterText(w, 16 * q, StateTextChars);
    } else {
        for (int q = 0; q < 8; ++q)
            table[std::size_t(8 * (b - 14) + q)].SsPcOn = ReadRegisterText(w, 16 * q, StateTextChars);
    }
    return true;
}

bool TableToPointBlock(int firstRegister, const PointTable& table, PointBlock& w)
{
    const int b = PointBlockIndex(firstRegister);
    if (b < 0)
        return false;
    if (b == 0) {
        for (int p = 0; p < PointCount; ++p) {
            w[std::size_t(p)] = ToRegisterWord(table[std::size_t(p)].SsPcFilter);
            w[std::size_t(32 + p)] = ToRegisterWord(table[std::size_t(p)].SsPcDebounce);
        }
    } else if (b == 1) {
        for (int p = 0; p < PointCount; ++p) {
            w[std::size_t(p)] = table[std::size_t(p)].SsPcChatter;
            w[std::size_t(32 + p)] = DisabledWord(table[std::size_t(p)]);
        }
    } else if (b < 10) {
        for (int q = 0; q < 4; ++q)
            WriteRegisterText(w, 32 * q, DescriptionChars, table[std::size_t(4 * (b - 2) + q)].SsPcDescription);
    } else if (b < 14) {
        for (int q = 0; q < 8; ++q)
            WriteRegisterText(w, 16 * q, StateTextChars, table[std::size_t(8 * (b - 10) + q)].SsPcOff);
    } else {
        for (int q = 0; q < 8; ++q)
            WriteRegisterText(w, 16 * q, StateTextChars, table[std::size_t(8 * (b - 14) + q)].SsPcOn);
    }
    return true;
}

QString MacText(std::span<const qint16, 6> words)
{
    QStringList bytes;
    for (qint16 word : words)
        bytes << HexDigits(word, 2);
    return bytes.join(QStringLiteral(" : "));
}

QString VersionText(qint16 word)
{
    const int value = word;
    const int magnitude = value < 0 ? -value : value;
    return QStringLiteral("%1%2.%3")
        .arg(value < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 100)
        .arg(magnitude % 100, 2, 10, QLatin1Char('0'));
}

} // namespace chronel
