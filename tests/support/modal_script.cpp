#include "support/modal_script.h"

#include <QAbstractButton>
#include <QDialog>
#include <QEvent>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace chronel::test {

namespace {

// The live scripts, newest last; only the newest plays.
std::vector<ModalScript*>& Scripts()
{
    static std::vector<ModalScript*> alive;
    return alive;
}

} // namespace

ModalScript::ModalScript()
{
    Scripts().push_back(this);
    qApp->installEventFilter(this);
}

ModalScript::~ModalScript()
{
    qApp->removeEventFilter(this);
    std::erase(Scripts(), this);
}

ModalScript& ModalScript::then(Step step, const QString& what)
{
    steps_.push_back({std::move(step), what});
    return *this;
}

ModalScript& ModalScript::answer(QMessageBox::StandardButton button)
{
    return on<QMessageBox>([this, button](QMessageBox& box) {
        QAbstractButton* preset = box.defaultButton();
        boxes_.append({box.windowTitle(), box.text(), box.icon(),
            preset != nullptr ? box.standardButton(preset) : QMessageBox::NoButton});
        if (QAbstractButton* b = box.button(button))
            b->click();
        else
            fail(QStringLiteral("no button 0x%1 on %2").arg(uint(button), 0, 16).arg(describe(box)));
    });
}

bool ModalScript::wait(int timeoutMs)
{
    if (QTest::qWaitFor([this] { return finished(); }, timeoutMs))
        return true;
    if (steps_.empty())
        fail(QStringLiteral("a step was still running after %1 ms").arg(timeoutMs));
    else
        fail(QStringLiteral("no modal window showed for step %1 (%2) within %3 ms")
                 .arg(played_ + 1)
                 .arg(steps_.front().what)
                 .arg(timeoutMs));
    return false;
}

QStringList ModalScript::messages() const
{
    QStringList out;
    for (const Box& b : boxes_)
        out << b.text;
    return out;
}

QStringList ModalScript::titles() const
{
    QStringList out;
    for (const Box& b : boxes_)
        out << b.title;
    return out;
}

QList<QMessageBox::Icon> ModalScript::icons() const
{
    QList<QMessageBox::Icon> out;
    for (const Box& b : boxes_)
        out << b.icon;
    return out;
}

QList<QMessageBox::StandardButton> ModalScript::defaults() const
{
    QList<QMessageBox::StandardButton> out;
    for (const Box& b : boxes_)
        out << b.defaultButton;
    return out;
}

QString ModalScript::describe(const QWidget& w)
{
    const auto* box = qobject_cast<const QMessageBox*>(&w);
    return w.windowTitle() + QStringLiteral(": ") +
        (box ? box->text() : QString::fromLatin1(w.metaObject()->className()));
}

bool ModalScript::eventFilter(QObject* watched, QEvent* event)
{
    // The Show event comes before the window's own showEvent() and, under
    // exec(), before its loop runs. Queued, the step runs from that loop on
    // the window as shown, as a user's click would.
    if (event->type() != QEvent::Show || event->spontaneous() || !watched->isWidgetType())
        return false;
    auto* w = static_cast<QWidget*>(watched);
    if (!w->isWindow() || !w->isModal() || Scripts().back() != this)
        return false;
    QMetaObject::invokeMethod(
        this, [this, window = QPointer<QWidget>(w)] { play(window); }, Qt::QueuedConnection);
    return false;
}

void ModalScript::play(const QPointer<QWidget>& window)
{
    if (window == nullptr) {
        fail(QStringLiteral("a modal window was deleted before its step could run"));
        return;
    }
    if (!window->isVisible()) {
        fail(QStringLiteral("%1 closed before its step could run").arg(describe(*window)));
        return;
    }
    if (steps_.empty()) {
        fail(QStringLiteral("unexpected modal window: ") + describe(*window));
        close(*window);
        return;
    }
    const Pending next = std::move(steps_.front());
    steps_.pop_front();
    ++played_;
    ++running_;
    next.step(window.data());
    --running_;
    if (window != nullptr && window->isVisible() && window->isModal()) {
        fail(QStringLiteral("the step for %1 left it open").arg(describe(*window)));
        close(*window);
    }
}

void ModalScript::fail(const QString& what)
{
    unexpected_ << what;
    ADD_FAILURE() << what.toStdString();
}

void ModalScript::close(QWidget& w)
{
    if (auto* dialog = qobject_cast<QDialog*>(&w))
        dialog->reject();
    else
        w.close();
}

} // namespace chronel::test
