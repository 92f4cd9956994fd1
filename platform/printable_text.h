#pragma once
// Texts from a module or a file are data. Where they meet a terminal or a
// log (a module name, a point text, a type-3 text), a control character
// would act instead of showing: an escape sequence retitles the window,
// erases lines or plants a hyperlink, and a CR or LF forges a line of its
// own. printableText() shows every C0 control, DEL and C1 control as \xHH
// (two lower-case hex digits), the one form all text outputs use; what is
// stored keeps its bytes. A backslash stays as it is: the escape is for
// eyes and terminals, not a reversible encoding (JSON Lines is the exact
// form).
#include <QString>

namespace platform {

enum class ControlsKept {
    None,
    // CR, LF and TAB stay: a format that quotes its fields (CSV) carries
    // them as data.
    LineLayout,
};

QString PrintableText(const QString& text, ControlsKept kept = ControlsKept::None);

} // namespace platform
