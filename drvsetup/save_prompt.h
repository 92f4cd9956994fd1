#pragma once
// Closing the adapter editor: the save prompt and what follows each answer.
#include <QString>

namespace drvsetup {

class AdapterTable;

enum class CloseDecision { Close, Stay };

// Without applied changes the program simply ends. Otherwise the user is
// asked "Save Vexa32 Changes": Yes writes all adapters to `targetPath` (see
// AdapterTable::writeAll) and reminds that applications must be restarted;
// No ends without writing; Cancel stays. A save that fails is reported and
// keeps the window open, so that no edit is lost without the user knowing.
CloseDecision ConfirmClose(const AdapterTable& table, const QString& sourcePath, const QString& targetPath);

} // namespace drvsetup
