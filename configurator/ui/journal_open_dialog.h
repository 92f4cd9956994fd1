#pragma once
// The "Open Journal" dialog of Tools > Site Journal: a journal's location as
// text, a SQLite file (Browse… picks one) or a postgresql:// URL, as
// ParseJournalLocation reads it.
#include <QDialog>
#include <QStringList>

class QComboBox;

namespace chronel {

class JournalOpenDialog : public QDialog {
    Q_OBJECT
public:
    // `recent`: locations opened before, the latest first; the first one,
    // else the default journal when it exists, is offered.
    explicit JournalOpenDialog(const QStringList& recent, QWidget* parent = nullptr);

    QString location() const;

private:
    void browse();

    QComboBox* location_ = nullptr;
};

} // namespace chronel
