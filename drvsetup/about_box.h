#pragma once
// The About box of DRVSETUP: the program's name and version and a button
// that closes it.
#include <QDialog>

namespace drvsetup {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace drvsetup
