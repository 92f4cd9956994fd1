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
        parts << (value == 0.0 ? QStringLiteral("0") : QString::number(value, 'g', QLocale::FloatingPointShortest));
    }
    return parts.join(QLatin1Char('.'));
}

std::optional<OctetFields> ParseIpv4Address(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char('.'));
    if (fields.size() != 4)
        return std::nullopt;
    OctetFields octets;
    for (int i = 0; i < 4; ++i) {
        const QString& f = fields[i];
        if (f.isEmpty() || f.size() > 3)
            return std::nullopt;
        for (const QChar c : f) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        const int value = f.toInt();
        if (value > 255)
            return std::nullopt;
        octets[std::size_t(i)] = QString::number(value);
    }
    return octets;
}

} // namespace chronel
