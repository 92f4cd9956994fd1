#include "settings_file.h"

#include "core/fields/conversions.h"
#include "core/fields/number_rule.h"
#include "csv_field_reader.h"
#include "platform/safe_file.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace chronel {

namespace {

const QString True = QStringLiteral("True");
const QString False = QStringLiteral("False");

// ---- writing ---------------------------------------------------------------

class RecordWriter {
public:
    void text(const QString& value)
    {
        QString clean = value;
        for (QChar& c : clean) {
            if (c == u'"') {
                c = u'\'';
                replaced_ = true;
            } else if (c == u'\r' || c == u'\n') {
                c = u' ';
                replaced_ = true;
            }
        }
        separate();
        out_ += '"';
        out_ += clean.toLatin1();
        out_ += '"';
    }
    void flag(bool on) { text(on ? True : False); }
    void number(double value)
    {
        separate();
        // A leading number too large for a double would be written as "inf",
        // which no reader takes for a number.
        if (!std::isfinite(value))
            value = value > 0 ? DBL_MAX : -DBL_MAX;
        if (value == std::trunc(value) && std::fabs(value) < 1e15)
            out_ += QByteArray::number(qint64(value));
        else
            out_ += QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1();
    }
    void leadingNumber(const QString& field) { number(LeadingNumber(field)); }
    void octets(const OctetFields& fields)
    {
        for (const QString& f : fields)
            leadingNumber(f);
    }
    void endRecord()
    {
        out_ += "\r\n";
        first_ = true;
    }
    const QByteArray& bytes() const { return out_; }
    bool replaced() const { return replaced_; }

private:
    void separate()
    {
        if (!first_)
            out_ += ',';
        first_ = false;
    }
    QByteArray out_;
    bool first_ = true;
    bool replaced_ = false;
};

QString PointKey(int pointNumber) { return QStringLiteral("Point ") + NumberText(pointNumber); }

QString SpeedText(TcpipSpeed speed)
{
    switch (speed) {
    case TcpipSpeed::Mbps10: return QStringLiteral("10");
    case TcpipSpeed::Mbps100: return QStringLiteral("100");
    default: return QStringLiteral("Auto");
    }
}

QString ModeText(TcpipMode mode)
{
    switch (mode) {
    case TcpipMode::BootP: return QStringLiteral("Boot P");
    case TcpipMode::Dhcp: return QStringLiteral("DHCP");
    default: return QStringLiteral("Manual");
    }
}

void WriteSerial(RecordWriter& w, const char* key, int baud, int parity, const QString& delay, int protocol)
{
    w.text(QString::fromLatin1(key));
    w.text(BaudIndexToText(baud));
    w.text(ParityIndexToText(parity));
    w.leadingNumber(delay);
    w.text(ProtocolIndexToText(protocol));
    w.endRecord();
}

// ---- reading ---------------------------------------------------------------

struct Field {
    QString text;
    double number = 0;
};

// Field kinds of each record in file order: 'T' text, 'N' number.
const char* RecordLayout(int record)
{
    static const char* const layouts[] = {
        "TT",
        "TN",
        "TN",
        "TT",
        "TT",
        "TTTNT",
        "TTTNT",
        "TN",
        "TT",
        "TNNNN",
        "TNNNN",
        "TNNNN",
        "TTT",
        "TN",
        "TNNN",
        "TNNN",
        "TN",
        "TN",
    };
    constexpr int fixed = int(std::size(layouts));
    if (record < fixed)
        return layouts[record];
    if (record < fixed + PointCount)
        return "TTNNNTTT";
    return "TT";
}

// The key a record begins with.
QString RecordKey(int record)
{
    static const char* const keys[] = {
        "Module Name",
        "PLC ID",
        "Event Delay",
        "Sync Master",
        "Hour Time Update",
        "Modbus RS-232",
        "Modbus RS-485",
        "Event Buffer Type",
        "TCP/IP Address",
        "IP Address",
        "Subnet Address",
        "Gateway Address",
        "TCP/IP Speed",
        "Daylight Saving Time Location",
        "Daylight Saving Time Start",
        "Daylight Saving Time Stop",
        "GPS Offset",
        "IRIG-B Offset",
    };
    constexpr int fixed = int(std::size(keys));
    if (record < fixed)
        return QString::fromLatin1(keys[record]);
    if (record < fixed + PointCount)
        return PointKey(record - fixed + 1);
    return QStringLiteral("IEEE 1344");
}

// A number field as the file writes it: decimal, optional sign, fraction and
// exponent, blanks around it allowed; an empty field is 0.
bool ParseNumber(const QString& text, double& value)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?$"));
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        value = 0;
        return true;
    }
    if (!pattern.match(t).hasMatch())
        return false;
    bool ok = false;
    value = QLocale::c().toDouble(t, &ok);
    return ok && std::isfinite(value);
}

// A number written into a text field by the number rule: a blank before zero
// and positive values.
QString NumberFieldText(double value)
{
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return NumberText(qint64(value));
    const QString digits = QString::number(value, 'g', QLocale::FloatingPointShortest);
    return value >= 0 ? QLatin1Char(' ') + digits : digits;
}

class RecordApplier {
public:
    RecordApplier(ModuleSettings& s, PointTable& p, SettingsReadResult& r, QStringList* controls)
        : s_(s), p_(p), result_(r), controls_(controls)
    {
    }

    // False when the record stops the reading.
    bool apply(int record, const std::vector<Field>& f);

private:
    void message(const QString& text) { result_.messages << text; }
    void applied(std::initializer_list<const char*> names)
    {
        if (controls_) {
            for (const char* n : names)
                *controls_ << QString::fromLatin1(n);
        }
    }
    bool keyIs(const Field& f, const char* key) const { return f.text == QLatin1String(key); }
    void flag(const std::vector<Field>& f, const char* key, const char* messageText, Check& box)
    {
        if (!keyIs(f[0], key)) {
            message(QString::fromLatin1(messageText));
        } else if (f[1].text == True) {
            box = Check::Checked;
        } else if (f[1].text == False) {
            box = Check::Unchecked;
        } else {
            message(QString::fromLatin1(messageText));
        }
    }
    void octets(const std::vector<Field>& f, const char* key, const char* messageText, OctetFields& fields,
        std::initializer_list<const char*> names)
    {
        if (!keyIs(f[0], key)) {
            message(QString::fromLatin1(messageText));
            return;
        }
        for (int i = 0; i < 4; ++i)
            fields[std::size_t(i)] = NumberFieldText(f[std::size_t(i) + 1].number);
        applied(names);
    }
    // False when the baud text names a rate the port's list does not have
    // (the RS-232 list stops at 19.2K): the combo cannot show it and a
    // download would send a position the module does not know.
    bool serial(const std::vector<Field>& f, const char* key, const char* messageText, const QStringList& bauds,
        int& baud, int& parity, QString& delay, int& protocol, const char* control)
    {
        if (!keyIs(f[0], key)) {
            message(QString::fromLatin1(messageText));
            return true;
        }
        const int position = BaudTextToIndex(f[1].text);
        if (position < 0 || position >= bauds.size())
            return false;
        baud = position;
        parity = ParityTextToIndex(f[2].text);
        delay = NumberFieldText(f[3].number);
        protocol = ProtocolTextToIndex(f[4].text);
        applied({control});
        return true;
    }
    void dst(const std::vector<Field>& f, const char* key, const char* messageText, QString& month, QString& day,
        QString& hour, std::initializer_list<const char*> names)
    {
        if (!keyIs(f[0], key)) {
            message(QString::fromLatin1(messageText));
            return;
        }
        month = NumberFieldText(f[1].number);
        day = NumberFieldText(f[2].number);
        hour = NumberFieldText(f[3].number);
        applied(names);
    }
    void numberField(
        const std::vector<Field>& f, const char* key, const char* messageText, QString& field, const char* control)
    {
        if (!keyIs(f[0], key)) {
            message(QString::fromLatin1(messageText));
            return;
        }
        field = NumberFieldText(f[1].number);
        applied({control});
    }
    void point(int index, const std::vector<Field>& f);

    ModuleSettings& s_;
    PointTable& p_;
    SettingsReadResult& result_;
    QStringList* controls_;
};

void RecordApplier::point(int index, const std::vector<Field>& f)
{
    const int number = index + 1;
    const QString key = PointKey(number);
    if (f[0].text != key) {
        QStringList actual;
        for (std::size_t i = 0; i < f.size(); ++i)
            actual << ((i >= 2 && i <= 4) ? NumberFieldText(f[i].number) : f[i].text);
        message(key + QStringLiteral(" Invalid\rExpected: ") + key +
            QStringLiteral(", Enable, Filter, Debounce, Chatter, Point Description, Off Description, "
                           "On Description\rActual: ") +
            actual.join(QStringLiteral(", ")));
        return;
    }
    PointSettings& pt = p_[std::size_t(index)];
    if (f[1].text == False || f[1].text == True) {
        // The file holds the flag alone; a word uploaded before is replaced.
        pt.SsPcDisabled = f[1].text == True;
        pt.SsPcDisabledWord = pt.SsPcDisabled ? PointDisabledWord : qint16(0);
    } else {
        message(key + QStringLiteral(" Enable Invalid"));
    }
    // Older files hold filters and debounces of 32768 and more as the signed
    // word they travel in.
    auto unsignedWord = [](double v) {
        double r = RoundHalfEven(v);
        if (r >= -32768 && r <= -1)
            r += 65536;
        return quint16(ClampRounded(r, 0, 65535));
    };
    pt.SsPcFilter = unsignedWord(f[2].number);
    pt.SsPcDebounce = unsignedWord(f[3].number);
    pt.SsPcChatter = qint16(ClampRounded(RoundHalfEven(f[4].number), -32768, 32767));
    pt.SsPcDescription = f[5].text;
    pt.SsPcOff = f[6].text;
    pt.SsPcOn = f[7].text;
}

bool RecordApplier::apply(int record, const std::vector<Field>& f)
{
    switch (record) {
    case 0:
        if (!keyIs(f[0], "Module Name"))
            message(QStringLiteral("Module Name Invalid"));
        else
            s_.ConfigModuleName = f[1].text;
        return true;
    case 1: numberField(f, "PLC ID", "PLC ID Invalid", s_.ConfigPlcId, "txtConfigPlcId"); return true;
    case 2:
        numberField(f, "Event Delay", "Event Delay Invalid", s_.ConfigEventDelay, "txtConfigEventDelay");
        return true;
    case 3: flag(f, "Sync Master", "Sync Master Invalid", s_.ConfigSyncMaster); return true;
    case 4: flag(f, "Hour Time Update", "Hourly Time Update Invalid", s_.ConfigHourTimeUpdate); return true;
    case 5:
        return serial(f, "Modbus RS-232", "Modbus 232 Baud Settings Invalid", Baud232Items(), s_.ConfigModbus232Baud,
            s_.ConfigModbus232Parity, s_.ConfigModbus232Delay, s_.ConfigModbus232Protocol, "txtConfigModbus232Delay");
    case 6:
        return serial(f, "Modbus RS-485", "Modbus 485 Baud Settings Invalid", BaudItems(), s_.ConfigModbus485Baud,
            s_.ConfigModbus485Parity, s_.ConfigModbus485Delay, s_.ConfigModbus485Protocol, "txtConfigModbus485Delay");
    case 7:
        if (!keyIs(f[0], "Event Buffer Type")) {
            message(QStringLiteral("Event Buffer Type Invalid"));
        } else {
            const double type = RoundHalfEven(f[1].number);
            s_.ConfigEventBufferType = (type >= 0 && type <= 3) ? int(type) : 2;
        }
        return true;
    case 8:
        if (!keyIs(f[0], "TCP/IP Address")) {
            message(QStringLiteral("TPC/IP Address Setting Invalid"));
        } else if (f[1].text == QLatin1String("Boot P")) {
            s_.ConfigTcpipMode = TcpipMode::BootP;
        } else if (f[1].text == QLatin1String("DHCP")) {
            s_.ConfigTcpipMode = TcpipMode::Dhcp;
        } else {
            s_.ConfigTcpipMode = TcpipMode::Manual;
        }
        return true;
    case 9:
        octets(f, "IP Address", "IP Address Invalid", s_.ConfigTcpipIp,
            {"txtConfigTcpipIp1", "txtConfigTcpipIp2", "txtConfigTcpipIp3", "txtConfigTcpipIp4"});
        return true;
    case 10:
        octets(f, "Subnet Address", "Subnet Address Invalid", s_.ConfigTcpipSubnet,
            {"txtConfigTcpipSubnet1", "txtConfigTcpipSubnet2", "txtConfigTcpipSubnet3", "txtConfigTcpipSubnet4"});
        return true;
    case 11:
        octets(f, "Gateway Address", "Gateway Address Invalid", s_.ConfigTcpipGateway,
            {"txtConfigTcpipGateway1", "txtConfigTcpipGateway2", "txtConfigTcpipGateway3", "txtConfigTcpipGateway4"});
        return true;
    case 12:
        if (!keyIs(f[0], "TCP/IP Speed")) {
            message(QStringLiteral("TPC/IP Speed Setting Invalid\rExpected: TCP/IP Speed, Auto / 10 / 100, "
                                   "Full / Half\rActual: ") +
                f[0].text + QStringLiteral(", ") + f[1].text);
        } else {
            TcpipSpeed speed = TcpipSpeed::AutoNegotiate;
            if (f[1].text == QLatin1String("10"))
                speed = TcpipSpeed::Mbps10;
            else if (f[1].text == QLatin1String("100"))
                speed = TcpipSpeed::Mbps100;
            s_.chooseTcpipSpeed(speed);
            s_.ConfigTcpipEthernetComm = f[2].text == QLatin1String("Half") ? EthernetComm::Half : EthernetComm::Full;
        }
        return true;
    case 13: {
        // The key of this record is not compared. A position outside the list
        // cannot be chosen and stops the reading.
        const double position = RoundHalfEven(f[1].number);
        if (position < -1 || position >= double(DstLocationItems().size()))
            return false;
        s_.TsDstLocation = int(position);
        return true;
    }
    case 14:
        dst(f, "Daylight Saving Time Start", "Daylight Saving Time Start Invalid", s_.TsDstStartMonth, s_.TsDstStartDay,
            s_.TsDstStartHour, {"txtTsDstStartMonth", "txtTsDstStartDay", "txtTsDstStartHour"});
        return true;
    case 15:
        dst(f, "Daylight Saving Time Stop", "Daylight Saving Time Stop Invalid", s_.TsDstStopMonth, s_.TsDstStopDay,
            s_.TsDstStopHour, {"txtTsDstStopMonth", "txtTsDstStopDay", "txtTsDstStopHour"});
        return true;
    case 16: numberField(f, "GPS Offset", "GPS Offset Invalid", s_.TsToGpsOffset, "txtTsToGpsOffset"); return true;
    case 17:
        numberField(f, "IRIG-B Offset", "IRIG-B Offset Invalid", s_.TsToIrigOffset, "txtTsToIrigOffset");
        return true;
    default: break;
    }
    if (record < 18 + PointCount) {
        point(record - 18, f);
        return true;
    }
    flag(f, "IEEE 1344", "IEEE 1344 Invalid", s_.TsIeee1344);
    return true;
}

} // namespace

QByteArray SettingsFileText(const ModuleSettings& s, const PointTable& points, bool* charactersReplaced)
{
    RecordWriter w;
    w.text(QStringLiteral("Module Name"));
    w.text(s.ConfigModuleName);
    w.endRecord();
    w.text(QStringLiteral("PLC ID"));
    w.leadingNumber(s.ConfigPlcId);
    w.endRecord();
    w.text(QStringLiteral("Event Delay"));
    w.leadingNumber(s.ConfigEventDelay);
    w.endRecord();
    w.text(QStringLiteral("Sync Master"));
    w.flag(IsChecked(s.ConfigSyncMaster));
    w.endRecord();
    w.text(QStringLiteral("Hour Time Update"));
    w.flag(IsChecked(s.ConfigHourTimeUpdate));
    w.endRecord();
    WriteSerial(w, "Modbus RS-232", s.ConfigModbus232Baud, s.ConfigModbus232Parity, s.ConfigModbus232Delay,
        s.ConfigModbus232Protocol);
    WriteSerial(w, "Modbus RS-485", s.ConfigModbus485Baud, s.ConfigModbus485Parity, s.ConfigModbus485Delay,
        s.ConfigModbus485Protocol);
    w.text(QStringLiteral("Event Buffer Type"));
    w.number(s.ConfigEventBufferType >= 0 && s.ConfigEventBufferType <= 3 ? s.ConfigEventBufferType : 2);
    w.endRecord();
    w.text(QStringLiteral("TCP/IP Address"));
    w.text(ModeText(s.ConfigTcpipMode));
    w.endRecord();
    w.text(QStringLiteral("IP Address"));
    w.octets(s.ConfigTcpipIp);
    w.endRecord();
    w.text(QStringLiteral("Subnet Address"));
    w.octets(s.ConfigTcpipSubnet);
    w.endRecord();
    w.text(QStringLiteral("Gateway Address"));
    w.octets(s.ConfigTcpipGateway);
    w.endRecord();
    w.text(QStringLiteral("TCP/IP Speed"));
    w.text(SpeedText(s.ConfigTcpipSpeed));
    w.text(s.ConfigTcpipEthernetComm == EthernetComm::Full ? QStringLiteral("Full") : QStringLiteral("Half"));
    w.endRecord();
    w.text(QStringLiteral("Daylight Saving Time Location"));
    w.number(s.TsDstLocation);
    w.endRecord();
    w.text(QStringLiteral("Daylight Saving Time Start"));
    w.leadingNumber(s.TsDstStartMonth);
    w.leadingNumber(s.TsDstStartDay);
    w.leadingNumber(s.TsDstStartHour);
    w.endRecord();
    w.text(QStringLiteral("Daylight Saving Time Stop"));
    w.leadingNumber(s.TsDstStopMonth);
    w.leadingNumber(s.TsDstStopDay);
    w.leadingNumber(s.TsDstStopHour);
    w.endRecord();
    w.text(QStringLiteral("GPS Offset"));
    w.leadingNumber(s.TsToGpsOffset);
    w.endRecord();
    w.text(QStringLiteral("IRIG-B Offset"));
    w.leadingNumber(s.TsToIrigOffset);
    w.endRecord();
    for (int p = 0; p < PointCount; ++p) {
        const PointSettings& pt = points[std::size_t(p)];
        w.text(PointKey(p + 1));
        w.flag(pt.SsPcDisabled);
        w.number(pt.SsPcFilter);
        w.number(pt.SsPcDebounce);
        w.number(pt.SsPcChatter);
        w.text(pt.SsPcDescription);
        w.text(pt.SsPcOff);
        w.text(pt.SsPcOn);
        w.endRecord();
    }
    w.text(QStringLiteral("IEEE 1344"));
    w.flag(IsChecked(s.TsIeee1344));
    w.endRecord();
    if (charactersReplaced)
        *charactersReplaced = w.replaced();
    return w.bytes();
}

QString CharactersReplacedText()
{
    return QStringLiteral("A text held characters a settings file cannot hold: each double quote was saved "
                          "as an apostrophe (') and each line break as a blank.");
}

SettingsReadResult ReadSettingsFile(
    QIODevice& device, ModuleSettings& settings, PointTable& points, QStringList* appliedControls)
{
    SettingsReadResult result;
    CsvFieldReader reader(device);
    RecordApplier applier(settings, points, result, appliedControls);
    std::vector<Field> fields;
    const auto stop = [&](int record, const QString& reason) {
        result.runTimeError = true;
        result.stopLine = reader.fieldLine();
        result.stopRecord = record + 1;
        result.stopReason = reason;
        return result;
    };
    for (int record = 0; record < SettingsRecordCount; ++record) {
        const char* layout = RecordLayout(record);
        fields.clear();
        for (const char* kind = layout; *kind; ++kind) {
            CsvField raw;
            switch (reader.next(raw)) {
            case CsvFieldReader::Status::Ok: break;
            case CsvFieldReader::Status::EndOfFile:
                return stop(record, QStringLiteral("the file ends before the record is complete"));
            case CsvFieldReader::Status::LineTooLong:
                return stop(
                    record, QStringLiteral("the line is longer than %1 characters").arg(CsvFieldReader::MaxLineLength));
            case CsvFieldReader::Status::ReadError: return stop(record, device.errorString());
            }
            Field field{raw.text, 0};
            if (*kind == 'N' && !ParseNumber(raw.text, field.number))
                return stop(record, QStringLiteral("\"%1\" is not a number").arg(raw.text));
            fields.push_back(field);
        }
        ++result.recordsRead;
        // Only list choices stop a whole record, and each is its second field.
        if (!applier.apply(record, fields))
            return stop(record, QStringLiteral("\"%1\" is not in the list").arg(fields[1].text));
    }
    return result;
}

QString SettingsReadStopText(const SettingsReadResult& result)
{
    return QStringLiteral("line %1, record %2 \"%3\": %4")
        .arg(result.stopLine)
        .arg(result.stopRecord)
        .arg(RecordKey(result.stopRecord - 1), result.stopReason);
}

bool SaveSettingsFile(ChronelModel& model, const QString& path, const MessageSink& sink, QString* failure)
{
    model.storePointPage();
    bool replaced = false;
    const QByteArray bytes = SettingsFileText(model.settings(), model.points(), &replaced);
    // A link planted at the name is replaced, not written through.
    QString error;
    if (!platform::ReplaceFile(path, bytes, &error)) {
        if (failure)
            *failure = path + QStringLiteral(": ") + error;
        sink({FileSaveTitle(), FileSaveErrorText(), platform::MessageIcon::Critical});
        return false;
    }
    if (replaced)
        sink({FileSaveTitle(), CharactersReplacedText(), platform::MessageIcon::Warning});
    return true;
}

bool OpenSettingsFile(ChronelModel& model, const QString& path, const MessageSink& sink, QString* failure)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (failure)
            *failure = path + QStringLiteral(": ") + file.errorString();
        sink({FileOpenTitle(), FileOpenErrorText(), platform::MessageIcon::Critical});
        return false;
    }
    model.storePointPage();
    QStringList controls;
    const SettingsReadResult result = ReadSettingsFile(file, model.settings(), model.points(), &controls);
    file.close();
    for (const QString& control : controls)
        model.clearFieldNote(control);
    model.loadPointPage();
    model.notifySettingsEdited();
    for (const QString& text : result.messages)
        sink({FileOpenTitle(), text, platform::MessageIcon::Critical});
    if (result.runTimeError) {
        if (failure)
            *failure = path + QStringLiteral(": ") + SettingsReadStopText(result);
        sink({FileOpenTitle(), FileOpenErrorText(), platform::MessageIcon::Critical});
    }
    return !result.runTimeError;
}

} // namespace chronel
