#pragma once
// Reads a text file line by line without trusting it: lines end at LF, CR LF
// or a lone CR, whatever system wrote the file, and a line of any length
// costs at most a bounded buffer.
#include <QByteArray>

class QIODevice;

namespace chronel {

class TextLineReader {
public:
    // Longer lines keep only their first `keep` bytes.
    explicit TextLineReader(QIODevice& device, qsizetype keep = 1024);

    // The next line without its end; false at the end of the file or when
    // the device fails (see failed()). A last line without a line end counts.
    bool next(QByteArray& line);
    bool failed() const { return failed_; }

private:
    bool fill();

    QIODevice& device_;
    qsizetype keep_;
    QByteArray chunk_;
    qsizetype position_ = 0;
    bool skipLineFeed_ = false;  // the previous line ended with CR
    bool atEnd_ = false;
    bool failed_ = false;
};

} // namespace chronel
