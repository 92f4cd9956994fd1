#include "window_controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

namespace chronel {

namespace {

const QColor Lit(0, 255, 0);

// A field's length limit holds for typing only. Text the program sets (an
// upload's " 192" from the number rule, a file's long description) is shown
// whole: the limit stretches to it until the program sets the next text, so
// nothing is cut, the next edit does not copy a cut text back into the
// settings, and a user who replaces its last digit may type it again.
constexpr char TypingLimit[] = "typingLimit";

void FitTypingLimit(QLineEdit* edit, qsizetype length)
{
    const int limit = edit->property(TypingLimit).toInt();
    if (limit > 0)
        edit->setMaxLength(int(std::max<qsizetype>(limit, length)));
}

} // namespace

Qt::CheckState ToQt(Check c)
{
    switch (c) {
    case Check::Checked: return Qt::Checked;
    case Check::Grey: return Qt::PartiallyChecked;
    case Check::Unchecked: break;
    }
    return Qt::Unchecked;
}

Check FromQt(Qt::CheckState s)
{
    switch (s) {
    case Qt::Checked: return Check::Checked;
    case Qt::PartiallyChecked: return Check::Grey;
    case Qt::Unchecked: break;
    }
    return Check::Unchecked;
}

QGroupBox* Frame(const QString& name, const QString& caption, QWidget* parent)
{
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    return box;
}

void LimitTyping(QLineEdit* edit, int limit)
{
    edit->setProperty(TypingLimit, limit);
    edit->setMaxLength(limit);
}

void SetText(QLineEdit* edit, const QString& text)
{
    if (edit->text() == text)
        return;
    FitTypingLimit(edit, text.size());
    edit->setText(text);
}

void NaturalWidth(QLineEdit* edit, int chars, bool digits)
{
    const QFontMetrics fm = edit->fontMetrics();
    const int perChar = digits ? fm.horizontalAdvance(QLatin1Char('0')) : fm.averageCharWidth();
    edit->setMaximumWidth(perChar * chars + 2 * fm.horizontalAdvance(QLatin1Char(' ')) + 12);
}

void SetIndicator(QLabel* label, bool lit)
{
    QPalette p = label->palette();
    p.setColor(QPalette::Window, lit ? Lit : label->palette().color(QPalette::Button));
    label->setPalette(p);
}

} // namespace chronel
