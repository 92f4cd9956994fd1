#pragma once
// Plays the user's part in modal dialogs and message boxes: each step runs on
// the next modal window that appears (polled from the event loop that the
// modal window's own exec() runs). A modal window nobody expected fails the
// running test, naming its title and text, and is rejected, so a test can
// never hang on it.
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget*)>;

    ModalScript()
    {
        scripts().push_back(this);
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

    ~ModalScript() override { std::erase(scripts(), this); }
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    ModalScript& then(Step step)
    {
        steps_.push_back(std::move(step));
        return *this;
    }

    // Answers the next message box with `button`, remembering its text.
    ModalScript& answer(QMessageBox::StandardButton button)
    {
        return then([this, button](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr) {
                fail(QStringLiteral("not a message box: ") + describe(w));
                close(w);
                return;
            }
            messages_ << box->text();
            titles_ << box->windowTitle();
            icons_ << box->icon();
            if (QAbstractButton* b = box->button(button))
                b->click();
            else
                close(w);
        });
    }

    bool finished() const { return steps_.empty(); }
    const QStringList& messages() const { return messages_; }
    const QStringList& titles() const { return titles_; }
    const QList<QMessageBox::Icon>& icons() const { return icons_; }
    const QStringList& unexpected() const { return unexpected_; }

private:
    static QString describe(QWidget* w)
    {
        auto* box = qobject_cast<QMessageBox*>(w);
        return w->windowTitle() + QStringLiteral(": ") + (box ? box->text() : QString());
    }

    void fail(const QString& what)
    {
        unexpected_ << what;
        ADD_FAILURE() << what.toStdString();
    }

    static void close(QWidget* w)
    {
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->reject();
        else
            w->close();
    }

    static std::vector<ModalScript*>& scripts()
    {
        static std::vector<ModalScript*> alive;
        return alive;
    }

    void poll()
    {
        if (scripts().empty() || scripts().back() != this)
            return;
        QWidget* w = QApplication::activeModalWidget();
        if (w == nullptr || !w->isVisible() || w == last_)
            return;
        last_ = w;
        if (steps_.empty()) {
            fail(QStringLiteral("unexpected modal window: ") + describe(w));
            close(w);
            return;
        }
        Step step = std::move(steps_.front());
        steps_.pop_front();
        step(w);
    }

    QTimer timer_;
    std::deque<Step> steps_;
    QPointer<QWidget> last_;
    QStringList messages_;
    QStringList titles_;
    QList<QMessageBox::Icon> icons_;
    QStringList unexpected_;
};
