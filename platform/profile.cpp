#include "platform/profile.h"

#include "platform/safe_file.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStringList>

#include <climits>
#include <optional>

namespace platform {

namespace {

// One physical line of the file, kept as raw bytes (ending included) so that
// a write reproduces every untouched line exactly, whatever its encoding.
struct Line {
    QByteArray raw;
};

enum class LineKind { Blank, Comment, Section, Entry, Other };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QString name;  // section name or key
    QString value; // entry value
};

QByteArray WithoutEnding(const QByteArray& raw)
{
    QByteArray body = raw;
    if (body.endsWith('\n'))
        body.chop(1);
    if (body.endsWith('\r'))
        body.chop(1);
    return body;
}

ParsedLine Parse(const QByteArray& raw)
{
    ParsedLine p;
    const QString text = QString::fromUtf8(WithoutEnding(raw)).trimmed();
    if (text.isEmpty()) {
        p.kind = LineKind::Blank;
        return p;
    }
    if (text.startsWith(u';') || text.startsWith(u'#')) {
        p.kind = LineKind::Comment;
        return p;
    }
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close > 0) {
            p.kind = LineKind::Section;
            p.name = text.mid(1, close - 1).trimmed();
        }
        return p;
    }
    const qsizetype eq = text.indexOf(u'=');
    if (eq <= 0)
        return p;
    p.kind = LineKind::Entry;
    p.name = text.left(eq).trimmed();
    QString value = text.mid(eq + 1).trimmed();
    // A value may be quoted to keep blanks at its ends; the quotes are not part of it.
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    p.value = value;
    return p;
}

thread_local ProfileReadFailure lastFailure;

// The file's lines, or nothing when it is missing or cannot be read (then
// `*readable` is false); this thread's lastReadFailure() tells which.
QList<Line> ReadLines(const QString& file, bool* readable = nullptr)
{
    QList<Line> lines;
    // Bounded: the file is read again for every key, as Windows does, and a
    // huge file (or a device) would cost its size in memory each time.
    const SmallFile read = ReadSmallFile(file);
    lastFailure = {};
    if (read.status == SmallFile::Status::Refused)
        lastFailure = {file, read.reason, read.systemError};
    if (readable)
        *readable = read.status == SmallFile::Status::Read;
    const QByteArray& all = read.bytes;
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype nl = all.indexOf('\n', start);
        const qsizetype end = nl < 0 ? all.size() : nl + 1;
        lines.append(Line{all.mid(start, end - start)});
        start = end;
    }
    return lines;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Position of the first section named `section` (its header line), or -1.
qsizetype FindSection(const QList<Line>& lines, const QString& section)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ParsedLine p = Parse(lines[i].raw);
        if (p.kind == LineKind::Section && SameName(p.name, section))
            return i;
    }
    return -1;
}

std::optional<QString> Lookup(const QString& file, const QString& section, const QString& key)
{
    const QList<Line> lines = ReadLines(file);
    const qsizetype header = FindSection(lines, section);
    if (header < 0)
        return std::nullopt;
    for (qsizetype i = header + 1; i < lines.size(); ++i) {
        const ParsedLine p = Parse(lines[i].raw);
        if (p.kind == LineKind::Section)
            break;
        if (p.kind == LineKind::Entry && SameName(p.name, key))
            return p.value;
    }
    return std::nullopt;
}

// Leading optionally signed decimal number; nullopt when the text does not
// start with one. Values beyond int saturate rather than wrap.
std::optional<int> LeadingNumber(const QString& text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i >= text.size() || text[i] < u'0' || text[i] > u'9')
        return std::nullopt;
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

bool HasLineBreak(const QString& s) { return s.contains(u'\n') || s.contains(u'\r'); }

// The value as it goes into the file: a value that reading would change
// (blanks at its ends, or itself wrapped in matching quotes) is written in
// double quotes, which reading takes off again.
QString StoredValue(const QString& value)
{
    const bool blankEnds = !value.isEmpty() && (value.front().isSpace() || value.back().isSpace());
    const bool quoted =
        value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front();
    return blankEnds || quoted ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

QString EnvPath(const char* name) { return QString::fromLocal8Bit(qgetenv(name)); }

// The base directories only count when absolute; a relative entry is invalid
// and ignored, as the freedesktop base-directory rules say.
QString ConfigHome()
{
    const QString home = EnvPath("XDG_CONFIG_HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home))
        return home;
    return QDir::homePath() + QStringLiteral("/.config");
}

QStringList ConfigDirs()
{
    QStringList dirs;
    const QStringList entries = EnvPath("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        if (QDir::isAbsolutePath(entry))
            dirs.append(entry);
    }
    if (dirs.isEmpty())
        dirs.append(QStringLiteral("/etc/xdg"));
    return dirs;
}

const QString kIniName = QStringLiteral("PLCDRV.INI");

} // namespace

int PrivateProfile::getInt(const QString& file, const QString& section, const QString& key, int defaultValue)
{
    const std::optional<QString> value = Lookup(file, section, key);
    if (!value || value->isEmpty())
        return defaultValue;
    return LeadingNumber(*value).value_or(0);
}

QString PrivateProfile::getString(
    const QString& file, const QString& section, const QString& key, const QString& defaultValue)
{
    return Lookup(file, section, key).value_or(defaultValue);
}

bool PrivateProfile::writeString(const QString& file, const QString& section, const QString& key, const QString& value)
{
    // Names that would not read back as the same section and key, and any
    // line break (which would smuggle extra lines into the file), are refused.
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || section.contains(u']') || key.contains(u'=') || key.trimmed() != key ||
        section.trimmed() != section)
        return false;
    if (key.startsWith(u';') || key.startsWith(u'#') || key.startsWith(u'['))
        return false;

    bool readable = false;
    QList<Line> lines = ReadLines(file, &readable);
    if (!readable && lastFailure.file == file)
        return false; // present but unreadable or refused: never replace what we could not read

    // New lines follow the file's own line ending.
    QByteArray eol = "\n";
    if (!lines.isEmpty() && lines.front().raw.endsWith("\r\n"))
        eol = "\r\n";
    auto makeLine = [&eol](const QString& text) { return Line{text.toUtf8() + eol}; };

    const QString stored = StoredValue(value);
    const qsizetype header = FindSection(lines, section);
    if (header < 0) {
        if (!lines.isEmpty()) {
            Line& last = lines.back();
            if (!last.raw.endsWith('\n'))
                last.raw += eol;
            if (Parse(last.raw).kind != LineKind::Blank)
                lines.append(Line{eol});
        }
        lines.append(makeLine(QLatin1Char('[') + section + QLatin1Char(']')));
        lines.append(makeLine(key + QLatin1Char('=') + stored));
    } else {
        qsizetype insertAt = header + 1;
        bool replaced = false;
        for (qsizetype i = header + 1; i < lines.size(); ++i) {
            const ParsedLine p = Parse(lines[i].raw);
            if (p.kind == LineKind::Section)
                break;
            if (p.kind != LineKind::Entry)
                continue;
            if (SameName(p.name, key)) {
                // Keep the key as the file spells it.
                const bool hadEnding = lines[i].raw.endsWith('\n');
                lines[i] = makeLine(p.name + QLatin1Char('=') + stored);
                if (!hadEnding && i == lines.size() - 1)
                    lines[i].raw.chop(eol.size());
                replaced = true;
                break;
            }
            insertAt = i + 1;
        }
        if (!replaced) {
            if (insertAt > 0 && !lines[insertAt - 1].raw.endsWith('\n'))
                lines[insertAt - 1].raw += eol;
            lines.insert(insertAt, makeLine(key + QLatin1Char('=') + stored));
        }
    }

    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    // Written beside the old file and renamed over it, so a failure at any
    // point leaves the old file as it was.
    QByteArray content;
    for (const Line& line : lines)
        content += line.raw;
    // Unbuffered and in one piece: a buffered QSaveFile reports a short
    // write at commit time as success (disk full, size limit) and would
    // rename a truncated file over the good one.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (out.write(content) != content.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

ProfileReadFailure PrivateProfile::lastReadFailure() { return lastFailure; }

QString PlcdrvIniReadPath()
{
    const QString explicitPath = EnvPath("PLCDRV_INI");
    if (!explicitPath.isEmpty())
        return explicitPath;
    const QString user = ConfigHome() + QLatin1Char('/') + kIniName;
    if (QFileInfo(user).isFile())
        return user;
    for (const QString& dir : ConfigDirs()) {
        const QString candidate = dir + QLatin1Char('/') + kIniName;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return user;
}

QString PlcdrvIniWritePath()
{
    const QString explicitPath = EnvPath("PLCDRV_INI");
    if (!explicitPath.isEmpty())
        return explicitPath;
    return ConfigHome() + QLatin1Char('/') + kIniName;
}

} // namespace platform
