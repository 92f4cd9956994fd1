#pragma once
// The hint line at the bottom of the adapter editor: moving the mouse over a
// control shows that control's hint; over a control without one, the hint of
// the nearest enclosing control that has one. An area registered as clearing
// (the outer "Settings" frame) empties the line.
#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QLabel;
class QWidget;

namespace drvsetup {

class HintLine : public QObject {
    Q_OBJECT
public:
    // `root` is the window whose children report mouse moves; `line` shows
    // the hints.
    HintLine(QWidget* root, QLabel* line);

    void setHint(QWidget* control, const QString& hint);
    // For hints that depend on the moment they are shown.
    void setHint(QWidget* control, std::function<QString()> hint);
    void setClearingArea(QWidget* area);

    // Starts following the mouse over `root` and every widget inside it
    // (call once all controls exist).
    void track();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showHintAt(const QPoint& globalPos);

    QWidget* root_;
    QLabel* line_;
    QHash<QWidget*, std::function<QString()>> hints_;
    QPointer<QWidget> clearingArea_;
};

} // namespace drvsetup
