#pragma once
// A ZIP archive built in memory (PKWARE APPNOTE 6.3: local file headers, the
// central directory, its end record), for the incident package a browser
// downloads. Each member is deflated with zlib, or stored when deflating does
// not make it smaller; names are UTF-8 (general purpose bit 11). No ZIP64:
// an archive stays under 4 GiB and 65535 members, which a package of one
// incident never comes near, and a member beyond that is refused.
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>

namespace chronel {

class ZipWriter {
public:
    enum class Method : std::uint16_t { Stored = 0, Deflated = 8 };

    // Adds `data` as `name` ("events.csv", "comtrade/a.cfg"): relative, with
    // '/' between folders, no "." or ".." part, no control character. False
    // with `*error` naming the member and why; the archive is unchanged then.
    bool add(const QString& name, const QByteArray& data, const QDateTime& modified, QString* error);

    // The archive: every member added, then the central directory. The
    // writer may go on adding after it; each call gives the whole archive.
    QByteArray finish() const;

    int members() const { return count_; }

    // The CRC-32 of ZIP and PNG (zlib's).
    static std::uint32_t crc32(const QByteArray& data);

private:
    QByteArray body_;      // local headers and data, as written
    QByteArray directory_; // central directory entries
    int count_ = 0;
};

} // namespace chronel
