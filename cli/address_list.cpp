#include "address_list.h"

#include "core/fields/module_address.h"

#include <QFile>
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
    if (!chronel::ParseIpv4Address(module.address)) {
        *error = QStringLiteral("%1: not an IPv4 address (A.B.C.D)").arg(module.address);
        return std::nullopt;
    }
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        AddressList list;
        list.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return list;
    }
    return ParseAddressList(QString::fromUtf8(file.readAll()), path);
}

} // namespace chronelcli
