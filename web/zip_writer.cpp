#include "zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <numeric>
#include <optional>

namespace chronel {

namespace {

// The records' fixed parts, field by field (widths in bytes), so that the
// sizes the format fixes are checked against what is written.
constexpr std::array<int, 11> LocalHeaderFields{4, 2, 2, 2, 2, 2, 4, 4, 4, 2, 2};
constexpr std::array<int, 17> CentralEntryFields{4, 2, 2, 2, 2, 2, 2, 4, 4, 4, 2, 2, 2, 2, 2, 4, 4};
constexpr std::array<int, 8> EndRecordFields{4, 2, 2, 2, 2, 4, 4, 2};
constexpr int LocalHeaderSize = 30;
constexpr int CentralEntrySize = 46;
constexpr int EndRecordSize = 22;
static_assert(std::accumulate(LocalHeaderFields.begin(), LocalHeaderFields.end(), 0) == LocalHeaderSize);
static_assert(std::accumulate(CentralEntryFields.begin(), CentralEntryFields.end(), 0) == CentralEntrySize);
static_assert(std::accumulate(EndRecordFields.begin(), EndRecordFields.end(), 0) == EndRecordSize);

constexpr std::uint32_t LocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t CentralEntrySignature = 0x02014b50;
constexpr std::uint32_t EndRecordSignature = 0x06054b50;
// Names and comments in UTF-8.
constexpr std::uint16_t Utf8Flag = 1u << 11;
// 2.0: deflate; 1.0: stored. Made by Unix (3), so the mode below counts.
constexpr std::uint16_t VersionDeflate = 20;
constexpr std::uint16_t VersionStored = 10;
constexpr std::uint16_t MadeByUnix = (3u << 8) | VersionDeflate;
// A regular file, rw-r--r--, in the high half of the external attributes.
constexpr std::uint32_t RegularFileMode = 0100644u << 16;
constexpr qint64 Max32 = std::numeric_limits<std::uint32_t>::max();
constexpr int MaxMembers = std::numeric_limits<std::uint16_t>::max();
constexpr int MaxNameBytes = std::numeric_limits<std::uint16_t>::max();

void Put16(QByteArray& out, std::uint16_t v)
{
    out.append(char(v & 0xff));
    out.append(char(v >> 8));
}

void Put32(QByteArray& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((v >> shift) & 0xff));
}

struct DosTime {
    std::uint16_t time = 0;
    std::uint16_t date = (1u << 5) | 1u; // 1980-01-01
};

// MS-DOS date and time, two-second steps, from 1980 to 2107; outside that
// the nearest end.
DosTime DosTimeOf(const QDateTime& at)
{
    DosTime dos;
    if (!at.isValid())
        return dos;
    const QDate d = at.date();
    const QTime t = at.time();
    if (d.year() < 1980)
        return dos;
    if (d.year() > 2107)
        return {std::uint16_t((23u << 11) | (59u << 5) | 29u), std::uint16_t((127u << 9) | (12u << 5) | 31u)};
    dos.time = std::uint16_t((unsigned(t.hour()) << 11) | (unsigned(t.minute()) << 5) | unsigned(t.second() / 2));
    dos.date = std::uint16_t((unsigned(d.year() - 1980) << 9) | (unsigned(d.month()) << 5) | unsigned(d.day()));
    return dos;
}

// Raw deflate (no zlib header), as ZIP's method 8 holds it; none on failure.
std::optional<QByteArray> Deflate(const QByteArray& data)
{
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int status = deflate(&z, Z_FINISH);
    const qsizetype written = qsizetype(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        return std::nullopt;
    out.truncate(written);
    return out;
}

QString NameFault(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("an empty name");
    if (name.startsWith(u'/') || name.endsWith(u'/'))
        return QStringLiteral("a name must be a relative file path");
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == u'\\')
            return QStringLiteral("a control character or backslash in the name");
    for (const QString& part : name.split(u'/'))
        if (part.isEmpty() || part == u"." || part == u"..")
            return QStringLiteral("an empty, \".\" or \"..\" part in the name");
    return {};
}

} // namespace

std::uint32_t ZipWriter::crc32(const QByteArray& data)
{
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt; feed it in pieces that fit.
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const uInt piece = uInt(std::min<qsizetype>(left, 1 << 30));
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(p), piece);
        p += piece;
        left -= piece;
    }
    return std::uint32_t(crc);
}

bool ZipWriter::add(const QString& name, const QByteArray& data, const QDateTime& modified, QString* error)
{
    if (const QString fault = NameFault(name); !fault.isEmpty()) {
        *error = QStringLiteral("zip member \"%1\": %2").arg(name, fault);
        return false;
    }
    const QByteArray nameBytes = name.toUtf8();
    if (nameBytes.size() > MaxNameBytes || count_ >= MaxMembers) {
        *error = QStringLiteral("zip member \"%1\": too many members or too long a name for a zip").arg(name);
        return false;
    }
    if (data.size() >= Max32) {
        *error = QStringLiteral("zip member \"%1\": larger than a zip without ZIP64 holds").arg(name);
        return false;
    }
    const std::optional<QByteArray> deflated = Deflate(data);
    const bool deflate = deflated && deflated->size() < data.size();
    const QByteArray& stored = deflate ? *deflated : data;
    const qint64 offset = body_.size();
    const qint64 grown = offset + LocalHeaderSize + nameBytes.size() + stored.size() + directory_.size() +
        CentralEntrySize + nameBytes.size() + EndRecordSize;
    if (grown >= Max32) {
        *error = QStringLiteral("zip member \"%1\": the archive would pass 4 GiB, more than a zip without ZIP64 holds")
                     .arg(name);
        return false;
    }
    const Method method = deflate ? Method::Deflated : Method::Stored;
    const std::uint16_t needed = deflate ? VersionDeflate : VersionStored;
    const DosTime dos = DosTimeOf(modified);
    const std::uint32_t crc = crc32(data);

    QByteArray local;
    local.reserve(LocalHeaderSize + nameBytes.size());
    Put32(local, LocalHeaderSignature);
    Put16(local, needed);
    Put16(local, Utf8Flag);
    Put16(local, std::uint16_t(method));
    Put16(local, dos.time);
    Put16(local, dos.date);
    Put32(local, crc);
    Put32(local, std::uint32_t(stored.size()));
    Put32(local, std::uint32_t(data.size()));
    Put16(local, std::uint16_t(nameBytes.size()));
    Put16(local, 0);
    Q_ASSERT(local.size() == LocalHeaderSize);
    local.append(nameBytes);

    QByteArray entry;
    entry.reserve(CentralEntrySize + nameBytes.size());
    Put32(entry, CentralEntrySignature);
    Put16(entry, MadeByUnix);
    Put16(entry, needed);
    Put16(entry, Utf8Flag);
    Put16(entry, std::uint16_t(method));
    Put16(entry, dos.time);
    Put16(entry, dos.date);
    Put32(entry, crc);
    Put32(entry, std::uint32_t(stored.size()));
    Put32(entry, std::uint32_t(data.size()));
    Put16(entry, std::uint16_t(nameBytes.size()));
    Put16(entry, 0); // extra field
    Put16(entry, 0); // comment
    Put16(entry, 0); // disk
    Put16(entry, 0); // internal attributes
    Put32(entry, RegularFileMode);
    Put32(entry, std::uint32_t(offset));
    Q_ASSERT(entry.size() == CentralEntrySize);
    entry.append(nameBytes);

    body_.append(local);
    body_.append(stored);
    directory_.append(entry);
    ++count_;
    return true;
}

QByteArray ZipWriter::finish() const
{
    QByteArray out;
    out.reserve(body_.size() + directory_.size() + EndRecordSize);
    out.append(body_);
    out.append(directory_);
    Put32(out, EndRecordSignature);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, std::uint16_t(count_));
    Put16(out, std::uint16_t(count_));
    Put32(out, std::uint32_t(directory_.size()));
    Put32(out, std::uint32_t(body_.size()));
    Put16(out, 0);
    return out;
}

} // namespace chronel
