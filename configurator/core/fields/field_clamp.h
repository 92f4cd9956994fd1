#pragma once
// A screen field whose number had to be brought into range before it could be
// stored or sent. The field is rewritten to the value used and marked (its
// tool tip says what was typed) so that the user sees the change.
#include <QString>

namespace chronel {

struct FieldClamp {
    QString control; // control name, e.g. "txtTsToGpsOffset"
    int row = -1;    // row of a control array (the point page), -1 otherwise
    QString typed;   // the text as it stood
    QString shown;   // the text the field shows from now on
    qint64 low = 0;
    qint64 high = 0;

    // Key of the field: the control name, with "(row)" for a control array.
    QString key() const;
    // Tool tip telling the user what happened.
    QString note() const;
};

QString FieldKey(const QString& control, int row = -1);

} // namespace chronel
