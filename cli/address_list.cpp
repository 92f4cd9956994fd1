#include "address_list.h"

#include "core/fields/module_address.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

namespace chronelcli {

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
        const QString address = blank < 0 ? line : line.left(blank);
        const QString name = blank < 0 ? QString() : line.mid(blank).trimmed();
        const auto fail = [&](const QString& what) {
            list.modules.clear();
            list.error = QStringLiteral("%1:%2: %3").arg(fileName).arg(lineNumber).arg(what);
            return list;
        };
        if (!chronel::ParseIpv4Address(address))
            return fail(QStringLiteral("%1: not an IPv4 address (A.B.C.D)").arg(address));
        if (const auto first = lineOf.constFind(address); first != lineOf.constEnd())
            return fail(QStringLiteral("%1 is already listed on line %2").arg(address).arg(*first));
        lineOf.insert(address, lineNumber);
        list.modules.push_back({address, name});
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
