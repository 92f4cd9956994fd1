#include "address_list.h"

#include "core/fields/module_address.h"

#include "platform/safe_file.h"

#include <QHash>
#include <QRegularExpression>

namespace chronelcli {

std::optional<SiteModule> ParseModuleWord(const QString& word, QString* error)
{
    SiteModule module;
    module.address = word;
    if (const qsizetype comma = word.indexOf(QLatin1Char(',')); comma >= 0) {
        module.address = word.left(comma);
        const QString option = word.mid(comma + 1);
        static const QRegularExpression adapterOption(QStringLiteral("^adapter=([0-7])$"));
        const QRegularExpressionMatch match = adapterOption.match(option);
        if (!match.hasMatch()) {
            *error = QStringLiteral("%1: expected adapter=N with N from 0 to %2").arg(option).arg(AdapterCount - 1);
            return std::nullopt;
        }
        module.adapter = match.captured(1).toInt();
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
