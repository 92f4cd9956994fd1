#pragma once
// The control's property page "Control Settings": one field per persisted
// property and a help line across the bottom that explains the field with
// the focus. Apply checks every field against its range; the first field out
// of range stops it with a range message and gets the focus, and nothing is
// written. Closing without applying changes nothing.
#include <QDialog>
#include <QPointer>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QMessageBox;
class QWidget;

namespace regaccess {

class Plctag;

class PropertyPage : public QDialog {
    Q_OBJECT

public:
    explicit PropertyPage(Plctag& control, QWidget* parent = nullptr);

    // Checks and writes every field; false when a field is out of range.
    bool apply();
    QString helpText() const;
    // The range message of the last refused apply, while it is shown.
    QMessageBox* rangeMessage() const;

    // Help lines of the Function and RegType values.
    static QString functionHelp(int function);
    static QString regTypeHelp(int regType);

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    QLineEdit* addText(const char* name, int row, int column, const QString& help);
    QComboBox* addList(const char* name, int row, int column, const QStringList& entries, const QString& help);
    bool refuse(QWidget* field, const QString& message);
    bool checkNumber(QLineEdit* field, qint64 low, qint64 high, qint64& value);
    bool checkLength(QLineEdit* field, int maxLength);

    Plctag& control_;
    QGridLayout* grid_ = nullptr;
    QLabel* help_ = nullptr;
    QLineEdit* host_ = nullptr;
    QLineEdit* port_ = nullptr;
    QLineEdit* timeToLive_ = nullptr;
    QComboBox* adapter_ = nullptr;
    QLineEdit* routePath_ = nullptr;
    QComboBox* regType_ = nullptr;
    QLineEdit* address_ = nullptr;
    QComboBox* function_ = nullptr;
    QLineEdit* size_ = nullptr;
    QLineEdit* slaveReg_ = nullptr;
    QPointer<QMessageBox> rangeMessage_;
};

// Shows the page modally for `control`.
void showPropertyPage(Plctag& control, QWidget* parent = nullptr);

} // namespace regaccess
