#pragma once
// Reads the fields of a comma-separated text file one after another, the way
// the settings file is read: a quoted field is the text between its quotes
// and may hold commas; an unquoted field runs to the next comma or line end,
// blanks around it dropped; a line end also ends a field. Records are not
// lines: a record with a field too few takes the next line's first field.
//
// Whatever the file holds, a field never runs past the end of its line (an
// unterminated quote ends there) or of the file, and a line longer than
// MaxLineLength characters stops the reading. Bytes are characters of the
// 8-bit character set (Latin-1); a NUL byte is a character like any other.
#include <QIODevice>
#include <QString>

namespace chronel {

struct CsvField {
    QString text;
    bool quoted = false;
};

class CsvFieldReader {
public:
    static constexpr qsizetype MaxLineLength = 65536;

    enum class Status {
        Ok,
        EndOfFile,   // no field left: the file ended before it
        LineTooLong, // the current line exceeds MaxLineLength
        ReadError,   // the device failed
    };

    explicit CsvFieldReader(QIODevice& device) : device_(device) { }

    // The next field; `field` is set only when Ok is returned.
    Status next(CsvField& field);
    // The line (from 1) of the field last asked for, whether it was read or
    // the reading stopped there; for messages that say where a file is bad.
    int fieldLine() const { return fieldLine_; }

private:
    enum class Char { Byte, LineEnd, End, TooLong, Error };
    // The next character; a line end (CR LF, CR or LF) is consumed whole.
    Char get(char& c);
    void unget(char c);

    QIODevice& device_;
    qsizetype lineLength_ = 0;
    int lineNumber_ = 1;
    int fieldLine_ = 1;
    bool atLineStart_ = true;
    bool pending_ = false;
    char pendingChar_ = 0;
};

} // namespace chronel
