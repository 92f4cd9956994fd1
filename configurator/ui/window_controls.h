#pragma once
// How the main window's tabs make and fill their controls: named frames,
// typing limits that a text the program sets may exceed, widths that fit
// what a field holds, lit indicators, and check states between the model
// and Qt.
#include "core/model/module_settings.h"

#include <QString>
#include <Qt>

class QGroupBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace chronel {

Qt::CheckState ToQt(Check c);
Check FromQt(Qt::CheckState s);

QGroupBox* Frame(const QString& name, const QString& caption, QWidget* parent);

// A field's length limit holds for typing only: setText() stretches it to
// the text it sets.
void LimitTyping(QLineEdit* edit, int limit);
void SetText(QLineEdit* edit, const QString& text);

// As wide as `chars` characters of its font and its frame: a maximised window
// does not stretch a short field across the screen.
void NaturalWidth(QLineEdit* edit, int chars, bool digits);

void SetIndicator(QLabel* label, bool lit);

} // namespace chronel
