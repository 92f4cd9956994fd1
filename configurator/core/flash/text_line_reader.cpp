#include "text_line_reader.h"

#include <QIODevice>

#include <algorithm>

namespace chronel {

namespace {
constexpr qint64 ChunkBytes = 64 * 1024;
}

TextLineReader::TextLineReader(QIODevice& device, qsizetype maxLength)
    : device_(device), maxLength_(std::max<qsizetype>(maxLength, 0))
{
}

bool TextLineReader::fill()
{
    if (atEnd_)
        return false;
    chunk_.resize(ChunkBytes);
    const qint64 got = device_.read(chunk_.data(), ChunkBytes);
    if (got < 0)
        failed_ = true;
    if (got <= 0) {
        atEnd_ = true;
        chunk_.clear();
        position_ = 0;
        return false;
    }
    chunk_.resize(got);
    position_ = 0;
    return true;
}

bool TextLineReader::next(QByteArray& line)
{
    line.clear();
    if (overlong_)
        return false;
    bool any = false; // something of this line (even just its end) was read
    for (;;) {
        if (position_ >= chunk_.size() && !fill())
            return any;
        if (skipLineFeed_) {
            skipLineFeed_ = false;
            if (chunk_[position_] == '\n') {
                ++position_;
                continue;
            }
        }
        const char* begin = chunk_.constData() + position_;
        // One byte past the bound is enough to tell an overlong line.
        const qsizetype scan = std::min(chunk_.size() - position_, maxLength_ + 1 - line.size());
        qsizetype length = 0;
        while (length < scan && begin[length] != '\n' && begin[length] != '\r')
            ++length;
        line.append(begin, length);
        any = true;
        position_ += length;
        if (length < scan) {
            skipLineFeed_ = chunk_[position_] == '\r';
            ++position_;
            return true;
        }
        if (line.size() > maxLength_) {
            overlong_ = true;
            return true;
        }
    }
}

} // namespace chronel
