#include "text_line_reader.h"

#include <QIODevice>

#include <algorithm>

namespace chronel {

namespace {
constexpr qint64 ChunkBytes = 64 * 1024;
}

TextLineReader::TextLineReader(QIODevice& device, qsizetype keep) : device_(device), keep_(keep) {}

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
    bool any = false;  // something of this line (even just its end) was read
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
        const qsizetype left = chunk_.size() - position_;
        qsizetype length = 0;
        while (length < left && begin[length] != '\n' && begin[length] != '\r')
            ++length;
        const qsizetype room = keep_ - line.size();
        line.append(begin, std::min(length, room > 0 ? room : 0));
        any = true;
        position_ += length;
        if (length < left) {
            skipLineFeed_ = chunk_[position_] == '\r';
            ++position_;
            return true;
        }
    }
}

} // namespace chronel
