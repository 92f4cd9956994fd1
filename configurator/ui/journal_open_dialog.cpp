#include "journal_open_dialog.h"

#include "journal/journal_location.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace chronel {

JournalOpenDialog::JournalOpenDialog(const QStringList& recent, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgOpenJournal"));
    setWindowTitle(QStringLiteral("Open Journal"));

    location_ = new QComboBox;
    location_->setObjectName(QStringLiteral("cmbJournalLocation"));
    location_->setEditable(true);
    location_->setInsertPolicy(QComboBox::NoInsert);
    location_->setMinimumContentsLength(48);
    location_->addItems(recent);
    const QString fallback = DefaultJournalPath();
    if (!recent.contains(fallback) && QFileInfo::exists(fallback))
        location_->addItem(fallback);
    location_->setCurrentIndex(location_->count() > 0 ? 0 : -1);

    auto* browse = new QPushButton(QStringLiteral("&Browse…"));
    browse->setObjectName(QStringLiteral("btnJournalBrowse"));
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, &JournalOpenDialog::browse);

    auto* hint = new QLabel(QStringLiteral("A SQLite file, or a PostgreSQL database as "
                                           "postgresql://user@host:port/dbname"));
    hint->setEnabled(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QGridLayout(this);
    auto* label = new QLabel(QStringLiteral("&Journal"));
    label->setBuddy(location_);
    layout->addWidget(label, 0, 0);
    layout->addWidget(location_, 0, 1);
    layout->addWidget(browse, 0, 2);
    layout->addWidget(hint, 1, 1, 1, 2);
    layout->addWidget(buttons, 2, 0, 1, 3);
}

QString JournalOpenDialog::location() const { return location_->currentText().trimmed(); }

void JournalOpenDialog::browse()
{
    const QString current = location();
    const QString folder = current.isEmpty() || current.contains(u"://") ? QFileInfo(DefaultJournalPath()).path()
                                                                         : QFileInfo(current).path();
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open Journal"), folder,
        QStringLiteral("SQLite Journals (*.sqlite *.sqlite3 *.db);;All Files (*)"));
    if (!path.isEmpty())
        location_->setEditText(path);
}

} // namespace chronel
