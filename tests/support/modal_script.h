#pragma once
// Plays the user's part in modal windows (dialogs, message boxes) for widget
// tests, without timers. A modal window's Show event queues the next step of
// the script, so the step runs on that window from the first pass of the
// event loop its own exec() runs (or, for a window opened without exec(),
// from the next loop the test spins). Nothing is polled, so how busy the
// machine is cannot change what the step sees.
//
// A window that opens inside a step (the question a file dialog asks from its
// accept()) gets the next step, played in its own nested loop; the outer step
// then goes on with its window. The script fails the running test, naming the
// window, and closes the window so that the test cannot hang, when:
//   - a modal window shows with no step left for it;
//   - a typed step meets a window of another class;
//   - a step returns with its window still open;
//   - the window is gone or hidden before its step could run.
// wait() fails, naming the first step that had no window, when steps are left
// after a bounded wait: a window that never shows ends the test, not the run.
//
// Only the newest live script plays, so a helper may make its own script for
// a moment inside a test that has one.
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace chronel::test {

class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget*)>; // never null

    // What an answer() step saw on its message box.
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    };

    ModalScript();
    ~ModalScript() override;
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    // The next modal window to show is given to `step`; `what` names the
    // window the step expects, for the failure if none shows.
    ModalScript& then(Step step, const QString& what = QStringLiteral("a modal window"));

    // As then(), for a window of class W only (QFileDialog, QMessageBox...).
    template <class W> ModalScript& on(std::function<void(W&)> step)
    {
        const QString name = QString::fromLatin1(W::staticMetaObject.className());
        return then(
            [this, name, step = std::move(step)](QWidget* w) {
                if (auto* typed = qobject_cast<W*>(w)) {
                    step(*typed);
                } else {
                    fail(QStringLiteral("expected %1, got %2").arg(name, describe(*w)));
                    close(*w);
                }
            },
            name);
    }

    // The next modal window is a message box; its title, text, icon and
    // default button are kept and `button` is clicked.
    ModalScript& answer(QMessageBox::StandardButton button);

    // True once every step has run.
    bool finished() const { return steps_.empty() && running_ == 0; }

    // Lets the event loop run until every step has run, at most `timeoutMs`;
    // false, with a failure naming the step that no window came for, if not.
    bool wait(int timeoutMs = 5000);

    const QList<Box>& boxes() const { return boxes_; }
    QStringList messages() const;
    QStringList titles() const;
    QList<QMessageBox::Icon> icons() const;
    QList<QMessageBox::StandardButton> defaults() const;
    const QStringList& unexpected() const { return unexpected_; }

    // "title: text" of a window, for failure messages.
    static QString describe(const QWidget& w);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Pending {
        Step step;
        QString what;
    };

    void play(const QPointer<QWidget>& window);
    void fail(const QString& what);
    static void close(QWidget& w);

    std::deque<Pending> steps_;
    int played_ = 0;
    int running_ = 0;
    QList<Box> boxes_;
    QStringList unexpected_;
};

} // namespace chronel::test
