#include "date_text.h"

namespace chronel {

QString ShortDateText(const QDate& date, const QLocale& locale)
{
    if (locale.language() == QLocale::C)
        return date.toString(QStringLiteral("yyyy-MM-dd"));
    return locale.toString(date, QLocale::ShortFormat);
}

} // namespace chronel
