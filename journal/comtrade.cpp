#include "comtrade.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <cmath>

namespace chronel {

namespace {

constexpr int kRevisionYear = 2013;
constexpr std::size_t kMaxChannels = 999999; // ##D has six digits
// 0xFFFFFFFF stands for a missing time stamp in a binary .dat.
constexpr qint64 kMaxStamp = 0xFFFFFFFE;
// A binary sample number is four bytes, which also keeps it within the
// ten digits of an ASCII one.
constexpr quint64 kMaxSamples = 0xFFFFFFFF;
constexpr qsizetype kTextBytes = 64; // station_name, rec_dev_id, ch_id, ccbm and each C37.232 field
constexpr qsizetype kPhaseBytes = 2;

bool Fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

bool IsState(int value) { return value == 0 || value == 1; }

bool IsLineBreakOrControl(QChar c)
{
    return c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// The longest prefix of valid UTF-8 that fits `limit` bytes without cutting
// a character in two.
QByteArray Utf8Prefix(const QByteArray& utf8, qsizetype limit)
{
    if (utf8.size() <= limit)
        return utf8;
    qsizetype end = limit;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return utf8.left(end);
}

// A cfg text field. The format has no quoting or escape, so a comma would
// split the field and a line break the line: ';' keeps a comma's reading.
QByteArray CfgText(const QString& text, qsizetype limit)
{
    QString clean = text;
    for (QChar& c : clean) {
        if (c == u',')
            c = u';';
        else if (IsLineBreakOrControl(c))
            c = u' ';
    }
    return Utf8Prefix(clean.toUtf8(), limit);
}

// A C37.232 field: commas separate the fields and a dot starts the
// extension; the rest are what common file systems refuse or shells mangle.
QString NameField(const QString& text)
{
    static const QString refused = QStringLiteral(",./\\:*?\"<>|");
    QString clean = text.trimmed();
    for (QChar& c : clean) {
        if (refused.contains(c) || c.isSpace() || IsLineBreakOrControl(c))
            c = u'_';
    }
    return QString::fromUtf8(Utf8Prefix(clean.toUtf8(), kTextBytes));
}

QDateTime Utc(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC); }

// dd/mm/yyyy,hh:mm:ss.ssssss; the journal's times are whole milliseconds.
QByteArray CfgTime(qint64 ms)
{
    const QDateTime t = Utc(ms);
    const QDate d = t.date();
    const QTime c = t.time();
    return QString::asprintf("%02d/%02d/%04d,%02d:%02d:%02d.%03d000", d.day(), d.month(), d.year(), c.hour(),
        c.minute(), c.second(), c.msec())
        .toLatin1();
}

QString Shown(const QDateTime& t) { return t.toUTC().toString(Qt::ISODateWithMs); }

// What makes the recording unwritable, or nothing.
QString Problem(const ComtradeRecording& r)
{
    if (r.station.trimmed().isEmpty())
        return QStringLiteral("the station name is empty");
    if (r.device.trimmed().isEmpty())
        return QStringLiteral("the recording device's name is empty");
    if (r.channels.empty())
        return QStringLiteral("there is no status channel");
    if (r.channels.size() > kMaxChannels)
        return QStringLiteral("%1 status channels are more than the %2 a record holds")
            .arg(r.channels.size())
            .arg(kMaxChannels);
    if (!r.from.isValid() || !r.to.isValid())
        return QStringLiteral("the period's start or end is not a valid time");
    if (r.to < r.from)
        return QStringLiteral("the period ends (%1) before it starts (%2)").arg(Shown(r.to), Shown(r.from));
    if (r.from.toUTC().date().year() < 1 || r.to.toUTC().date().year() > 9999)
        return QStringLiteral("the period %1 to %2 is outside the years 1 to 9999 a record's dates hold")
            .arg(Shown(r.from), Shown(r.to));
    if (!std::isfinite(r.lineFrequency) || r.lineFrequency < 0)
        return QStringLiteral("the line frequency %1 Hz is not a frequency").arg(r.lineFrequency);
    if (r.timeQuality < 0 || r.timeQuality > 15)
        return QStringLiteral("the time quality %1 is not a tmq_code (0 to 15)").arg(r.timeQuality);
    for (std::size_t i = 0; i < r.channels.size(); ++i) {
        if (!IsState(r.channels[i].normalState))
            return QStringLiteral("channel %1 (\"%2\") has the normal state %3, not 0 or 1")
                .arg(i + 1)
                .arg(r.channels[i].name)
                .arg(r.channels[i].normalState);
    }
    if (r.initialStates.size() > r.channels.size())
        return QStringLiteral("%1 initial states are given for %2 channels")
            .arg(r.initialStates.size())
            .arg(r.channels.size());
    for (std::size_t i = 0; i < r.initialStates.size(); ++i) {
        if (!IsState(r.initialStates[i]))
            return QStringLiteral("channel %1 has the initial state %2, not 0 or 1").arg(i + 1).arg(r.initialStates[i]);
    }
    // The first and the last sample come on top of the changes.
    if (r.changes.size() > kMaxSamples - 2)
        return QStringLiteral("%1 changes are more than a record's sample numbers count").arg(r.changes.size());
    const qint64 from = r.from.toMSecsSinceEpoch();
    const qint64 to = r.to.toMSecsSinceEpoch();
    qint64 previous = from;
    for (std::size_t i = 0; i < r.changes.size(); ++i) {
        const ComtradeChange& change = r.changes[i];
        const auto which = QStringLiteral("change %1").arg(i + 1);
        if (change.channel < 0 || static_cast<std::size_t>(change.channel) >= r.channels.size())
            return QStringLiteral("%1 is on channel index %2; there are %3 channels")
                .arg(which)
                .arg(change.channel)
                .arg(r.channels.size());
        if (!IsState(change.state))
            return QStringLiteral("%1 sets the state %2, not 0 or 1").arg(which).arg(change.state);
        if (!change.utc.isValid())
            return QStringLiteral("%1 has no valid time").arg(which);
        const qint64 at = change.utc.toMSecsSinceEpoch();
        if (at < from || at > to)
            return QStringLiteral("%1 at %2 is outside the period %3 to %4")
                .arg(which, Shown(change.utc), Shown(r.from), Shown(r.to));
        if (at < previous)
            return QStringLiteral("%1 at %2 comes before the change ahead of it").arg(which, Shown(change.utc));
        previous = at;
    }
    return {};
}

QByteArray Cfg(const ComtradeRecording& r, ComtradeFormat format, qint64 stampMs)
{
    const QByteArray end = "\r\n";
    const QByteArray channels = QByteArray::number(static_cast<qulonglong>(r.channels.size()));
    QByteArray cfg;
    cfg += CfgText(r.station, kTextBytes) + ',' + CfgText(r.device, kTextBytes) + ',' +
        QByteArray::number(kRevisionYear) + end;
    cfg += channels + ",0A," + channels + 'D' + end;
    for (std::size_t i = 0; i < r.channels.size(); ++i) {
        const ComtradeChannel& c = r.channels[i];
        cfg += QByteArray::number(static_cast<qulonglong>(i + 1)) + ',' + CfgText(c.name, kTextBytes) + ',' +
            CfgText(c.phase, kPhaseBytes) + ',' + CfgText(c.component, kTextBytes) + ',' +
            QByteArray::number(c.normalState) + end;
    }
    cfg += QByteArray::number(r.lineFrequency, 'g', 15) + end;
    // No fixed rate: the time stamps place the samples.
    cfg += "0" + end;
    cfg += "0," + QByteArray::number(static_cast<qulonglong>(r.changes.size() + 2)) + end;
    const qint64 from = r.from.toMSecsSinceEpoch();
    cfg += CfgTime(from) + end;
    // The trigger is the first change; a period without one has its start.
    cfg += CfgTime(r.changes.empty() ? from : r.changes.front().utc.toMSecsSinceEpoch()) + end;
    cfg += (format == ComtradeFormat::Ascii ? "ASCII" : "BINARY") + end;
    // timemult turns a stamp into microseconds.
    cfg += QByteArray::number(stampMs * 1000) + end;
    // Times in UTC, and no local time zone claimed for them either.
    cfg += "0,0" + end;
    cfg += QByteArray::number(r.timeQuality, 16).toUpper() + ',' + (r.leapSecond ? "1" : "0") + end;
    return cfg;
}

class DatWriter {
public:
    DatWriter(ComtradeFormat format, const std::vector<int>& states) : format_(format), states_(states) { }

    void set(int channel, int state) { states_[static_cast<std::size_t>(channel)] = state; }

    void sample(quint32 number, quint32 stamp)
    {
        if (format_ == ComtradeFormat::Ascii) {
            dat_ += QByteArray::number(number) + ',' + QByteArray::number(stamp);
            for (int state : states_)
                dat_ += state ? ",1" : ",0";
            dat_ += "\r\n";
            return;
        }
        // Little-endian four-byte sample number and stamp, then the
        // channels sixteen to a two-byte word, the first in its lowest bit.
        char word[4];
        qToLittleEndian<quint32>(number, word);
        dat_.append(word, 4);
        qToLittleEndian<quint32>(stamp, word);
        dat_.append(word, 4);
        for (std::size_t first = 0; first < states_.size(); first += 16) {
            quint16 bits = 0;
            for (std::size_t bit = 0; bit < 16 && first + bit < states_.size(); ++bit) {
                if (states_[first + bit])
                    bits |= static_cast<quint16>(1u << bit);
            }
            qToLittleEndian<quint16>(bits, word);
            dat_.append(word, 2);
        }
    }

    const QByteArray& bytes() const { return dat_; }

private:
    ComtradeFormat format_;
    std::vector<int> states_;
    QByteArray dat_;
};

QByteArray Dat(const ComtradeRecording& r, ComtradeFormat format, qint64 stampMs)
{
    std::vector<int> states = r.initialStates;
    states.resize(r.channels.size(), 0);
    DatWriter dat(format, states);
    const qint64 from = r.from.toMSecsSinceEpoch();
    const auto stamp = [&](qint64 ms) { return static_cast<quint32>((ms - from) / stampMs); };
    quint32 number = 1;
    dat.sample(number, 0);
    for (const ComtradeChange& change : r.changes) {
        dat.set(change.channel, change.state);
        dat.sample(++number, stamp(change.utc.toMSecsSinceEpoch()));
    }
    dat.sample(++number, stamp(r.to.toMSecsSinceEpoch()));
    return dat.bytes();
}

// Unbuffered and in one piece: a buffered QSaveFile reports a short write
// at commit time (disk full) as success.
bool Save(const QString& path, const QByteArray& content, QString* error)
{
    QSaveFile file(path);
    const auto failed = [&] {
        return Fail(
            error, QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed();
    if (file.write(content) != content.size()) {
        failed();
        file.cancelWriting();
        return false;
    }
    return file.commit() || failed();
}

} // namespace

QString ComtradeFileName(const ComtradeRecording& recording)
{
    if (!recording.from.isValid())
        return {};
    const QDateTime start = recording.from.toUTC();
    const QDate d = start.date();
    const QTime t = start.time();
    QString name = QString::asprintf("%02d%02d%02d,%02d%02d%02d%03d,0", (d.year() % 100 + 100) % 100, d.month(),
        d.day(), t.hour(), t.minute(), t.second(), t.msec());
    name += u',' + NameField(recording.station) + u',' + NameField(recording.device);
    const QString company = NameField(recording.company);
    if (!company.isEmpty())
        name += u',' + company;
    return name;
}

bool WriteComtrade(
    const ComtradeRecording& recording, const QString& dir, ComtradeFormat format, ComtradeFiles* out, QString* error)
{
    if (const QString problem = Problem(recording); !problem.isEmpty())
        return Fail(error, QStringLiteral("cannot write a COMTRADE record: %1").arg(problem));
    const QFileInfo folder(dir);
    const QString shownDir = QDir::toNativeSeparators(dir);
    if (!folder.exists())
        return Fail(error, QStringLiteral("cannot write a COMTRADE record into %1: no such folder").arg(shownDir));
    if (!folder.isDir())
        return Fail(error, QStringLiteral("cannot write a COMTRADE record into %1: not a folder").arg(shownDir));

    // Stamps count milliseconds from the period's start (timemult 1000)
    // while the period fits the largest stamp, some 49.7 days; a longer
    // period counts in the fewest whole milliseconds that make it fit, so
    // no stamp overflows. Sample numbers keep the order either way.
    const qint64 span = recording.to.toMSecsSinceEpoch() - recording.from.toMSecsSinceEpoch();
    const qint64 stampMs = span <= kMaxStamp ? 1 : (span + kMaxStamp - 1) / kMaxStamp;

    const QString base = QDir(dir).filePath(ComtradeFileName(recording));
    const ComtradeFiles files{base + QStringLiteral(".cfg"), base + QStringLiteral(".dat")};
    if (!Save(files.datPath, Dat(recording, format, stampMs), error))
        return false;
    if (!Save(files.cfgPath, Cfg(recording, format, stampMs), error)) {
        QFile::remove(files.datPath);
        return false;
    }
    if (out)
        *out = files;
    return true;
}

} // namespace chronel
