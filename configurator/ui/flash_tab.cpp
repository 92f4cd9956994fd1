#include "flash_tab.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

namespace chronel {

QStringList DialogNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt takes the patterns from the parentheses; a description that
        // already shows them is used as it is.
        filters << (description.contains(QLatin1Char('(') + pattern + QLatin1Char(')'))
                ? description
                : description + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    }
    return filters;
}

FlashTab::FlashTab(FlashModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    auto button = [this, buttons](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        buttons->addWidget(b);
        return b;
    };
    load_ = button("cmdFlashLoadFile", QStringLiteral("Load File"));
    program_ = button("cmdFlashProgramFlash", QStringLiteral("Program Flash"));
    verify_ = button("cmdFlashVerifyFlash", QStringLiteral("Verify Flash"));
    buttons->addStretch(1);
    layout->addLayout(buttons);

    status_ = new QPlainTextEdit(this);
    status_->setObjectName(QStringLiteral("txtFlashStatus"));
    status_->setReadOnly(true);
    status_->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(status_, 1);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("prbFlashProgress"));
    progress_->setRange(0, 100);
    progress_->setValue(model_.status().progress());
    layout->addWidget(progress_);

    connect(load_, &QPushButton::clicked, this, &FlashTab::loadFile);
    connect(program_, &QPushButton::clicked, this, [this] { model_.program(); });
    connect(verify_, &QPushButton::clicked, this, [this] { model_.verify(); });

    FlashStatus& status = model_.status();
    connect(&status, &FlashStatus::textReplaced, this, &FlashTab::showWholeText);
    connect(&status, &FlashStatus::lineAppended, this, &FlashTab::showLine);
    connect(&status, &FlashStatus::caretMoved, this, &FlashTab::moveCaret);
    connect(&status, &FlashStatus::progressChanged, progress_, &QProgressBar::setValue);
    connect(&model_, &FlashModel::buttonsChanged, this, &FlashTab::refreshButtons);

    showWholeText();
    refreshButtons();
}

QString FlashTab::chooseFile()
{
    if (chooser_)
        return chooser_();
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setObjectName(QStringLiteral("cdlFlashOpenSave"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(DialogNameFilters(FlashFileFilter()));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

void FlashTab::loadFile()
{
    // The window keeps working while a long file is read: pending events
    // run before every line. The model keeps the buttons disabled meanwhile.
    model_.loadFile([this] { return chooseFile(); }, [] { QCoreApplication::processEvents(); });
}

void FlashTab::showWholeText()
{
    QString text = model_.status().text();
    text.replace(QLatin1String(FlashStatusLineEnd), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    status_->setPlainText(text);
}

void FlashTab::showLine(const QString& line)
{
    if (status_->document()->isEmpty())
        status_->setPlainText(line);
    else
        status_->appendPlainText(line);
}

void FlashTab::moveCaret(int position)
{
    // The model places the caret at the start (after the loader's lines) or
    // at the end of the text (after a programming line, to show it).
    QTextCursor cursor = status_->textCursor();
    cursor.movePosition(position == 0 ? QTextCursor::Start : QTextCursor::End);
    status_->setTextCursor(cursor);
    status_->ensureCursorVisible();
}

void FlashTab::refreshButtons()
{
    load_->setEnabled(model_.loadEnabled());
    program_->setEnabled(model_.programEnabled());
    verify_->setEnabled(model_.verifyEnabled());
}

} // namespace chronel
