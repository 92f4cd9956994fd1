#include "comtrade_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QtEndian>

#include <cmath>

namespace chronel::test {
namespace {

using Fields = QList<QByteArray>;

bool Fail(QString* error, const QString& why)
{
    *error = why;
    return false;
}

// Readers are to allow one leading space in a field.
QByteArray Bare(const QByteArray& field) { return field.startsWith(' ') ? field.mid(1) : field; }

bool Unsigned(const QByteArray& field, int maxDigits, quint64* value)
{
    const QByteArray digits = Bare(field);
    if (digits.isEmpty() || digits.size() > maxDigits)
        return false;
    quint64 v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + quint64(c - '0');
    }
    *value = v;
    return true;
}

bool Real(const QByteArray& field, double* value)
{
    const QByteArray text = Bare(field);
    if (text.isEmpty() || text.size() > 32)
        return false;
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && std::isfinite(*value);
}

// Text fields: valid UTF-8 within the field's byte limit.
bool Text(const QByteArray& field, qsizetype maxBytes, QString* value)
{
    if (field.size() > maxBytes)
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *value = utf8.decode(field);
    return !utf8.hasError();
}

// Every line ends in CR LF; a CR or LF anywhere else is an error.
bool Lines(const QByteArray& bytes, std::vector<QByteArray>* lines, QString* error)
{
    if (!bytes.endsWith("\r\n"))
        return Fail(error, QStringLiteral("the last line does not end in CR LF"));
    for (qsizetype start = 0; start < bytes.size();) {
        const qsizetype end = bytes.indexOf("\r\n", start);
        const QByteArray line = bytes.mid(start, end - start);
        if (line.contains('\r') || line.contains('\n'))
            return Fail(error, QStringLiteral("line %1 holds a CR or LF of its own").arg(lines->size() + 1));
        lines->push_back(line);
        start = end + 2;
    }
    return true;
}

class CfgLines {
public:
    explicit CfgLines(std::vector<QByteArray> lines) : lines_(std::move(lines)) { }

    // The next line, which must have exactly `count` fields.
    bool next(qsizetype count, Fields* fields, QString* error)
    {
        if (at_ >= lines_.size())
            return Fail(error, QStringLiteral("the cfg ends at line %1, before its last line").arg(at_));
        *fields = lines_[at_++].split(',');
        if (fields->size() != count)
            return Fail(error, QStringLiteral("line %1 has %2 fields, not %3").arg(at_).arg(fields->size()).arg(count));
        return true;
    }

    bool atEnd() const { return at_ == lines_.size(); }
    std::size_t line() const { return at_; }

private:
    std::vector<QByteArray> lines_;
    std::size_t at_ = 0;
};

bool Time(const Fields& fields, CfgTime* time)
{
    static const QRegularExpression date(QStringLiteral("^(\\d\\d)/(\\d\\d)/(\\d\\d\\d\\d)$"));
    static const QRegularExpression clock(QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d{6})$"));
    const auto d = date.match(QString::fromLatin1(fields[0]));
    const auto c = clock.match(QString::fromLatin1(fields[1]));
    if (!d.hasMatch() || !c.hasMatch())
        return false;
    const QDate day(d.captured(3).toInt(), d.captured(2).toInt(), d.captured(1).toInt());
    time->microseconds = c.captured(4).toInt();
    const QTime of(c.captured(1).toInt(), c.captured(2).toInt(), c.captured(3).toInt(), time->microseconds / 1000);
    time->utc = QDateTime(day, of, Qt::UTC);
    return day.isValid() && of.isValid();
}

bool ReadCfg(const QByteArray& bytes, ComtradeRead* r, QString* error)
{
    std::vector<QByteArray> lines;
    if (!Lines(bytes, &lines, error))
        return false;
    CfgLines cfg(std::move(lines));
    Fields f;
    quint64 n = 0;
    const auto bad = [&](const QString& what) {
        return Fail(error, QStringLiteral("line %1: %2").arg(cfg.line()).arg(what));
    };

    if (!cfg.next(3, &f, error))
        return false;
    if (!Text(f[0], 64, &r->station) || r->station.isEmpty())
        return bad(QStringLiteral("station_name is not 1 to 64 bytes of UTF-8"));
    if (!Text(f[1], 64, &r->device) || r->device.isEmpty())
        return bad(QStringLiteral("rec_dev_id is not 1 to 64 bytes of UTF-8"));
    if (!Unsigned(f[2], 4, &n) || Bare(f[2]).size() != 4)
        return bad(QStringLiteral("rev_year is not a year"));
    r->revYear = int(n);

    if (!cfg.next(3, &f, error))
        return false;
    quint64 total = 0, analog = 0, status = 0;
    if (!Unsigned(f[0], 6, &total) || total < 1)
        return bad(QStringLiteral("TT is not 1 to 999999"));
    if (!Bare(f[1]).endsWith('A') || !Unsigned(Bare(f[1]).chopped(1), 6, &analog))
        return bad(QStringLiteral("##A is not a count followed by A"));
    if (!Bare(f[2]).endsWith('D') || !Unsigned(Bare(f[2]).chopped(1), 6, &status))
        return bad(QStringLiteral("##D is not a count followed by D"));
    if (analog + status != total)
        return bad(QStringLiteral("TT is not ##A + ##D"));
    if (analog != 0)
        return bad(QStringLiteral("analog channels are not read here"));

    for (quint64 i = 1; i <= status; ++i) {
        if (!cfg.next(5, &f, error))
            return false;
        CfgStatusChannel c;
        if (!Unsigned(f[0], 6, &n) || n != i)
            return bad(QStringLiteral("Dn is not %1").arg(i));
        if (!Text(f[1], 64, &c.id))
            return bad(QStringLiteral("ch_id is not at most 64 bytes of UTF-8"));
        if (!Text(f[2], 2, &c.phase))
            return bad(QStringLiteral("ph is not at most 2 bytes"));
        if (!Text(f[3], 64, &c.component))
            return bad(QStringLiteral("ccbm is not at most 64 bytes of UTF-8"));
        if (!Unsigned(f[4], 1, &n) || n > 1)
            return bad(QStringLiteral("y is not 0 or 1"));
        c.normalState = int(n);
        r->channels.push_back(c);
    }

    if (!cfg.next(1, &f, error))
        return false;
    if (!Real(f[0], &r->lineFrequency))
        return bad(QStringLiteral("lf is not a number"));

    if (!cfg.next(1, &f, error))
        return false;
    if (!Unsigned(f[0], 3, &n))
        return bad(QStringLiteral("nrates is not 0 to 999"));
    r->nrates = int(n);
    // Without fixed rates the time stamps are critical and one line gives
    // samp 0 and the last sample's number.
    for (int i = 0; i < std::max(1, r->nrates); ++i) {
        if (!cfg.next(2, &f, error))
            return false;
        double samp = 0;
        quint64 endsamp = 0;
        if (!Real(f[0], &samp) || !Unsigned(f[1], 10, &endsamp))
            return bad(QStringLiteral("samp,endsamp are not numbers"));
        if (r->nrates == 0 && samp != 0)
            return bad(QStringLiteral("samp is not 0 though nrates is"));
        r->rates.emplace_back(samp, endsamp);
    }

    if (!cfg.next(2, &f, error))
        return false;
    if (!Time(f, &r->first))
        return bad(QStringLiteral("the first data point is not dd/mm/yyyy,hh:mm:ss.ssssss"));
    if (!cfg.next(2, &f, error))
        return false;
    if (!Time(f, &r->trigger))
        return bad(QStringLiteral("the trigger point is not dd/mm/yyyy,hh:mm:ss.ssssss"));

    if (!cfg.next(1, &f, error))
        return false;
    r->fileType = QString::fromLatin1(Bare(f[0])).toUpper();
    if (r->fileType != QLatin1String("ASCII") && r->fileType != QLatin1String("BINARY"))
        return bad(QStringLiteral("ft \"%1\" is not ASCII or BINARY").arg(r->fileType));

    if (!cfg.next(1, &f, error))
        return false;
    if (!Real(f[0], &r->timeMultiplier) || r->timeMultiplier <= 0)
        return bad(QStringLiteral("timemult is not a positive number"));

    if (!cfg.next(2, &f, error))
        return false;
    r->timeCode = QString::fromLatin1(Bare(f[0]));
    r->localCode = QString::fromLatin1(Bare(f[1]));
    static const QRegularExpression code(QStringLiteral("^[+-]?\\d{1,2}(h\\d\\d)?$"));
    if (!code.match(r->timeCode).hasMatch() || r->timeCode.size() > 6)
        return bad(QStringLiteral("time_code \"%1\" is not an offset from UTC").arg(r->timeCode));
    if (r->localCode != QLatin1String("x") && (!code.match(r->localCode).hasMatch() || r->localCode.size() > 6))
        return bad(QStringLiteral("local_code \"%1\" is not an offset from UTC or x").arg(r->localCode));

    if (!cfg.next(2, &f, error))
        return false;
    bool hex = false;
    r->timeQuality = Bare(f[0]).toInt(&hex, 16);
    if (!hex || Bare(f[0]).size() != 1)
        return bad(QStringLiteral("tmq_code is not one hexadecimal digit"));
    if (!Unsigned(f[1], 1, &n) || n > 3)
        return bad(QStringLiteral("leapsec is not 0 to 3"));
    r->leapSecond = int(n);

    if (!cfg.atEnd())
        return Fail(error, QStringLiteral("the cfg goes on after the leapsec line"));
    return true;
}

bool State(const QByteArray& field, int* state)
{
    quint64 v = 0;
    if (!Unsigned(field, 1, &v) || v > 1)
        return false;
    *state = int(v);
    return true;
}

bool ReadAsciiDat(const QByteArray& bytes, ComtradeRead* r, QString* error)
{
    std::vector<QByteArray> lines;
    if (!bytes.isEmpty() && !Lines(bytes, &lines, error))
        return false;
    const qsizetype count = 2 + qsizetype(r->channels.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Fields f = lines[i].split(',');
        const auto bad = [&](const QString& what) {
            return Fail(error, QStringLiteral("dat line %1: %2").arg(i + 1).arg(what));
        };
        if (f.size() != count)
            return bad(QStringLiteral("%1 fields, not %2").arg(f.size()).arg(count));
        DatSample s;
        if (!Unsigned(f[0], 10, &s.number) || s.number < 1)
            return bad(QStringLiteral("the sample number is not 1 to 9999999999"));
        // nrates 0 makes the time stamp critical: it may not be missing.
        if (!Unsigned(f[1], 10, &s.stamp))
            return bad(QStringLiteral("the time stamp is missing or not a number"));
        for (qsizetype c = 2; c < count; ++c) {
            int state = 0;
            if (!State(f[c], &state))
                return bad(QStringLiteral("status %1 is not 0 or 1").arg(c - 1));
            s.states.push_back(state);
        }
        r->samples.push_back(std::move(s));
    }
    return true;
}

bool ReadBinaryDat(const QByteArray& bytes, ComtradeRead* r, QString* error)
{
    // Sample number and stamp as four-byte unsigned, then the status
    // channels sixteen to a two-byte word, all little-endian; the first
    // channel of a word is its least significant bit.
    const std::size_t words = (r->channels.size() + 15) / 16;
    const qsizetype record = 8 + 2 * qsizetype(words);
    if (bytes.size() % record != 0)
        return Fail(
            error, QStringLiteral("the dat's %1 bytes are not whole %2-byte samples").arg(bytes.size()).arg(record));
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    for (qsizetype at = 0; at < bytes.size(); at += record) {
        DatSample s;
        s.number = qFromLittleEndian<quint32>(data + at);
        s.stamp = qFromLittleEndian<quint32>(data + at + 4);
        if (s.stamp == 0xFFFFFFFF)
            return Fail(error, QStringLiteral("sample %1 has no time stamp").arg(s.number));
        for (std::size_t c = 0; c < r->channels.size(); ++c) {
            const quint16 word = qFromLittleEndian<quint16>(data + at + 8 + 2 * qsizetype(c / 16));
            s.states.push_back((word >> (c % 16)) & 1);
        }
        r->samples.push_back(std::move(s));
    }
    return true;
}

std::optional<QByteArray> Contents(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

std::optional<ComtradeRead> ReadComtrade(const QString& cfgPath, QString* error)
{
    const auto cfg = Contents(cfgPath, error);
    if (!cfg)
        return std::nullopt;
    ComtradeRead r;
    if (!ReadCfg(*cfg, &r, error)) {
        *error = QStringLiteral("%1: %2").arg(cfgPath, *error);
        return std::nullopt;
    }
    // The data file shares the cfg's name.
    const QFileInfo info(cfgPath);
    const QString datPath = info.path() + u'/' + info.completeBaseName() + QStringLiteral(".dat");
    const auto dat = Contents(datPath, error);
    if (!dat)
        return std::nullopt;
    const bool read =
        r.fileType == QLatin1String("ASCII") ? ReadAsciiDat(*dat, &r, error) : ReadBinaryDat(*dat, &r, error);
    if (!read) {
        *error = QStringLiteral("%1: %2").arg(datPath, *error);
        return std::nullopt;
    }
    if (r.samples.size() != r.rates.back().second) {
        *error = QStringLiteral("%1 holds %2 samples; endsamp says %3")
                     .arg(datPath)
                     .arg(r.samples.size())
                     .arg(r.rates.back().second);
        return std::nullopt;
    }
    return r;
}

} // namespace chronel::test
