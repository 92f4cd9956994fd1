#pragma once
// The Flash tab: Load File, Program Flash and Verify Flash, the status text
// box and the progress bar, bound to a FlashModel. The model owns the logic;
// this widget only forwards clicks, shows the model's state and runs the
// file dialog.
#include "core/flash/flash_model.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace chronel {

// Qt name filters for a dialog filter written as "description|pattern"
// pairs: "Flash Files (*.hex)|*.hex" gives {"Flash Files (*.hex)"}.
QStringList DialogNameFilters(const QString& filter);

class FlashTab : public QWidget {
    Q_OBJECT
public:
    // Children carry the window's item names: cmdFlashLoadFile,
    // cmdFlashProgramFlash, cmdFlashVerifyFlash, txtFlashStatus,
    // prbFlashProgress; the open dialog is cdlFlashOpenSave.
    explicit FlashTab(FlashModel& model, QWidget* parent = nullptr);

    // Replaces the open dialog (tests, scripted use); an empty result means
    // cancelled.
    void setFileChooser(FlashModel::FileChooser chooser) { chooser_ = std::move(chooser); }

    QPushButton* loadButton() const { return load_; }
    QPushButton* programButton() const { return program_; }
    QPushButton* verifyButton() const { return verify_; }
    QPlainTextEdit* statusBox() const { return status_; }
    QProgressBar* progressBar() const { return progress_; }

private:
    QString chooseFile();
    void loadFile();
    void showWholeText();
    void showLine(const QString& line);
    void moveCaret(int position);
    void refreshButtons();

    FlashModel& model_;
    FlashModel::FileChooser chooser_;
    QPushButton* load_ = nullptr;
    QPushButton* program_ = nullptr;
    QPushButton* verify_ = nullptr;
    QPlainTextEdit* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

} // namespace chronel
