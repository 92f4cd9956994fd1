#pragma once
// What the web API's tests share.
#include <QString>

#include <ostream>

// Error texts in failure messages (found by argument-dependent lookup, so
// beside QString in the global namespace).
inline std::ostream& operator<<(std::ostream& os, const QString& text) { return os << text.toStdString(); }
