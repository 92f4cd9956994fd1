#include "csv_field_reader.h"

namespace chronel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

CsvFieldReader::Char CsvFieldReader::get(char& c)
{
    if (pending_) {
        pending_ = false;
        c = pendingChar_;
        return Char::Byte;
    }
    if (!device_.getChar(&c))
        return device_.atEnd() ? Char::End : Char::Error;
    if (c == '\r' || c == '\n') {
        if (c == '\r') {
            char after = 0;
            if (device_.peek(&after, 1) == 1 && after == '\n')
                device_.getChar(&after);
        }
        lineLength_ = 0;
        ++lineNumber_;
        return Char::LineEnd;
    }
    if (++lineLength_ > MaxLineLength)
        return Char::TooLong;
    return Char::Byte;
}

void CsvFieldReader::unget(char c)
{
    pending_ = true;
    pendingChar_ = c;
}

CsvFieldReader::Status CsvFieldReader::next(CsvField& field)
{
    auto status = [](Char k) { return k == Char::TooLong ? Status::LineTooLong : Status::ReadError; };
    char c = 0;
    Char kind;
    // Blanks before the field; blank lines between records are skipped, but
    // a line end right after a comma ends an empty field.
    for (;;) {
        kind = get(c);
        if (kind == Char::Byte && IsBlank(c))
            continue;
        if (kind == Char::LineEnd && atLineStart_)
            continue;
        break;
    }
    // An empty field ended by its line end belongs to the line just ended.
    fieldLine_ = kind == Char::LineEnd ? lineNumber_ - 1 : lineNumber_;
    if (kind == Char::End)
        return Status::EndOfFile;
    if (kind == Char::TooLong || kind == Char::Error)
        return status(kind);

    QString text;
    bool quoted = false;
    bool lineEnded = kind == Char::LineEnd;
    if (!lineEnded && c == '"') {
        quoted = true;
        for (;;) {
            kind = get(c);
            if (kind == Char::TooLong || kind == Char::Error)
                return status(kind);
            if (kind == Char::End || (kind == Char::Byte && c == '"'))
                break;
            if (kind == Char::LineEnd) {
                lineEnded = true;
                break;
            }
            text += QChar(uchar(c));
        }
        // Anything between the closing quote and the next comma or line end
        // belongs to no field.
        while (!lineEnded && kind != Char::End) {
            kind = get(c);
            if (kind == Char::TooLong || kind == Char::Error)
                return status(kind);
            if (kind == Char::LineEnd)
                lineEnded = true;
            else if (kind == Char::Byte && c == ',')
                break;
        }
    } else if (!lineEnded) {
        unget(c);
        for (;;) {
            kind = get(c);
            if (kind == Char::TooLong || kind == Char::Error)
                return status(kind);
            if (kind == Char::End || (kind == Char::Byte && c == ','))
                break;
            if (kind == Char::LineEnd) {
                lineEnded = true;
                break;
            }
            text += QChar(uchar(c));
        }
        qsizetype end = text.size();
        while (end > 0 && IsBlank(char(text.at(end - 1).unicode())))
            --end;
        text.truncate(end);
    }
    atLineStart_ = lineEnded;
    field.text = text;
    field.quoted = quoted;
    return Status::Ok;
}

} // namespace chronel
