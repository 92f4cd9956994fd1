#pragma once
// A zip opened by Python's zipfile (zip_extract.py), an implementation apart
// from the one under test: the members' CRCs checked, their names, methods
// and sizes, and the members extracted into a folder.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <optional>

namespace chronel::test {

struct ZipMember {
    QString name;
    int method = -1;
    qint64 size = -1;
};

struct ZipContents {
    QString bad; // the first member whose CRC failed; empty when none did
    QList<ZipMember> members;
    QString dir; // where they were extracted

    QByteArray read(const QString& name) const
    {
        QFile file(QDir(dir).filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList names() const
    {
        QStringList out;
        for (const ZipMember& m : members)
            out << m.name;
        return out;
    }
};

// `*why` says what failed when Python could not open or extract it.
inline std::optional<ZipContents> ExtractZip(const QByteArray& zip, const QTemporaryDir& tmp, QString* why)
{
    const QString archive = tmp.filePath(QStringLiteral("archive.zip"));
    const QString out = tmp.filePath(QStringLiteral("extracted"));
    QFile file(archive);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(zip) != zip.size()) {
        *why = file.errorString();
        return std::nullopt;
    }
    file.close();
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(CHRONEL_ZIP_EXTRACT), archive, out});
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
        *why = QString::fromUtf8(python.readAllStandardError());
        return std::nullopt;
    }
    const QJsonObject answer = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    ZipContents contents;
    contents.bad = answer.value(QStringLiteral("bad")).toString();
    contents.dir = out;
    for (const QJsonValue& v : answer.value(QStringLiteral("members")).toArray()) {
        const QJsonObject m = v.toObject();
        contents.members.push_back({m.value(QStringLiteral("name")).toString(),
            m.value(QStringLiteral("method")).toInt(), qint64(m.value(QStringLiteral("size")).toDouble())});
    }
    return contents;
}

} // namespace chronel::test
