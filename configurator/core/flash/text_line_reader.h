#pragma once
// Reads a text file line by line without trusting it: lines end at LF, CR LF
// or a lone CR, whatever system wrote the file. A line is never read past a
// bound: a longer one (a binary file, a device without line ends) ends the
// reading there, so each line costs a bounded buffer and a bounded amount of
// input, and a caller can let a window run between lines.
#include <QByteArray>

class QIODevice;

namespace chronel {

class TextLineReader {
public:
    TextLineReader(QIODevice& device, qsizetype maxLength);

    // The next line without its end; false at the end of the file, when the
    // device fails (see failed()) and after an overlong line. A last line
    // without a line end counts. A line longer than `maxLength` bytes comes
    // back as its first maxLength + 1 bytes with overlong() set; the rest of
    // the file is not read.
    bool next(QByteArray& line);
    bool failed() const { return failed_; }
    bool overlong() const { return overlong_; }

private:
    bool fill();

    QIODevice& device_;
    qsizetype maxLength_;
    QByteArray chunk_;
    qsizetype position_ = 0;
    bool skipLineFeed_ = false; // the previous line ended with CR
    bool atEnd_ = false;
    bool failed_ = false;
    bool overlong_ = false;
};

} // namespace chronel
