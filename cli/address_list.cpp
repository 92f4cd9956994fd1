#include "address_list.h"

#include "core/fields/module_address.h"

#include "journal/module_zone.h"

#include "platform/safe_file.h"

#include <QHash>
#include <QRegularExpression>

namespace chronelcli {

std::optional<SiteModule> ParseModuleWord(const QString& word, QString* error)
{
    SiteModule module;
    const QStringList parts = word.split(QLatin1Char(','));
    module.address = parts.front();
    bool adapterGiven = false;
    for (const QString& option : parts.mid(1)) {
        static const QRegularExpression adapterOption(QStringLiteral("^adapter=([0-7])$"));
        if (option.startsWith(QLatin1String("adapter="))) {
            const QRegularExpressionMatch match = adapterOption.match(option);
            if (!match.hasMatch()) {
                *error = QStringLiteral("%1: expected adapter=N with N from 0 to %2").arg(option).arg(AdapterCount - 1);
                return std::nullopt;
            }
            if (adapterGiven) {
                *error = QStringLiteral("%1: the adapter is given twice").arg(word);
                return std::nullopt;
            }
            module.adapter = match.captured(1).toInt();
            adapterGiven = true;
        } else if (option.startsWith(QLatin1String("tz="))) {
            if (!module.zone.isEmpty()) {
                *error = QStringLiteral("%1: the zone is given twice").arg(word);
                return std::nullopt;
            }
            const auto zone = chronel::ModuleZone::parse(option.mid(3), error);
            if (!zone)
                return std::nullopt;
            module.zone = zone->text();
        } else {
            *error =
                QStringLiteral("%1: expected adapter=N (N from 0 to %2) or tz=ZONE").arg(option).arg(AdapterCount - 1);
            return std::nullopt;
        }
    }
    const std::optional<chronel::OctetFields> octets = chronel::ParseIpv4Address(module.address);
    if (!octets) {
        *error = QStringLiteral("%1: not an IPv4 address (A.B.C.D)").arg(module.address);
        return std::nullopt;
    }
    // One spelling per module: "127.000.000.001" is 127.0.0.1, so both
    // compare equal (one session per module) and the resolver, which would
    // read a leading zero as octal, never sees one.
    module.address = QStringList(octets->begin(), octets->end()).join(QLatin1Char('.'));
    return module;
}

AddressList ParseAddressList(const QString& text, const QString& fileName)
{
    AddressList list;
    QHash<QString, int> lineOf; // address -> line that listed it first
    QString fileZone;
    int fileZoneLine = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const int lineNumber = n + 1;
        QString line = lines[n];
        if (const qsizetype hash = line.indexOf(QLatin1Char('#')); hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype blank = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString word = blank < 0 ? line : line.left(blank);
        const auto fail = [&](const QString& what) {
            list.modules.clear();
            list.error = QStringLiteral("%1:%2: %3").arg(fileName).arg(lineNumber).arg(what);
            return list;
        };
        QString wrong;
        if (word.startsWith(QLatin1String("tz="))) {
            if (blank >= 0)
                return fail(QStringLiteral("a zone line holds the zone only: tz=ZONE"));
            if (fileZoneLine > 0)
                return fail(QStringLiteral("the file's zone is declared on line %1 already").arg(fileZoneLine));
            const auto zone = chronel::ModuleZone::parse(word.mid(3), &wrong);
            if (!zone)
                return fail(wrong);
            fileZone = zone->text();
            fileZoneLine = lineNumber;
            continue;
        }
        std::optional<SiteModule> module = ParseModuleWord(word, &wrong);
        if (!module)
            return fail(wrong);
        module->name = blank < 0 ? QString() : line.mid(blank).trimmed();
        if (const auto first = lineOf.constFind(module->address); first != lineOf.constEnd())
            return fail(QStringLiteral("%1 is already listed on line %2").arg(module->address).arg(*first));
        lineOf.insert(module->address, lineNumber);
        list.modules.push_back(*module);
    }
    if (list.modules.empty())
        list.error = QStringLiteral("%1: no module addresses").arg(fileName);
    for (SiteModule& module : list.modules)
        if (module.zone.isEmpty())
            module.zone = fileZone;
    return list;
}

AddressList ReadAddressList(const QString& path)
{
    const platform::SmallFile file = platform::ReadSmallFile(path);
    if (file.status != platform::SmallFile::Status::Read) {
        AddressList list;
        list.error = QStringLiteral("%1: %2").arg(path, file.reason);
        return list;
    }
    return ParseAddressList(QString::fromUtf8(file.bytes), path);
}

} // namespace chronelcli
