#include "drvsetup/hint_line.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QWidget>

namespace drvsetup {

HintLine::HintLine(QWidget* root, QLabel* line) : QObject(root), root_(root), line_(line) { }

void HintLine::setHint(QWidget* control, const QString& hint)
{
    hints_.insert(control, [hint] { return hint; });
}

void HintLine::setHint(QWidget* control, std::function<QString()> hint) { hints_.insert(control, std::move(hint)); }

void HintLine::setClearingArea(QWidget* area) { clearingArea_ = area; }

void HintLine::track()
{
    // Moves without a pressed button only reach widgets that track the
    // mouse; every widget does, so the deepest one under the pointer reports.
    root_->setMouseTracking(true);
    root_->installEventFilter(this);
    const QList<QWidget*> children = root_->findChildren<QWidget*>();
    for (QWidget* child : children) {
        child->setMouseTracking(true);
        child->installEventFilter(this);
    }
}

bool HintLine::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        showHintAt(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
    return QObject::eventFilter(watched, event);
}

void HintLine::showHintAt(const QPoint& globalPos)
{
    // Decided by position rather than by the widget that got the event, so a
    // move that Qt also hands on to the parents shows the same hint each time.
    QWidget* widget = root_->childAt(root_->mapFromGlobal(globalPos));
    for (; widget != nullptr && widget != root_; widget = widget->parentWidget()) {
        const auto hint = hints_.constFind(widget);
        if (hint != hints_.constEnd()) {
            line_->setText((*hint)());
            return;
        }
        if (widget == clearingArea_) {
            if (!line_->text().isEmpty())
                line_->clear();
            return;
        }
    }
}

} // namespace drvsetup
