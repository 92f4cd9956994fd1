#pragma once
// Dates throughout the configurator: the short date of the user's locale, and
// the ISO form yyyy-MM-dd in the C/POSIX locale, whose own short date
// (d MMM yy style) is easy to misread in logs.
#include <QDate>
#include <QLocale>
#include <QString>

namespace chronel {

QString ShortDateText(const QDate& date, const QLocale& locale = QLocale::system());

} // namespace chronel
