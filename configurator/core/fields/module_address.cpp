#include "module_address.h"

#include "number_rule.h"

#include <QLocale>
#include <QStringList>

namespace chronel {

QString GetIp(const OctetFields& ip)
{
    QStringList parts;
    for (const QString& field : ip) {
        const double value = LeadingNumber(field);
        parts << (value == 0.0 ? QStringLiteral("0")
                               : QString::number(value, 'g', QLocale::FloatingPointShortest));
    }
    return parts.join(QLatin1Char('.'));
}

} // namespace chronel
