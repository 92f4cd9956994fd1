#include "web/request_text.h"

#include <QStringDecoder>

namespace chronel {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QString> Utf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// `text` with its %-escapes (and, in a query, '+') decoded; `inPath`
// refuses escapes of the characters that would change the path's
// segments or end a C string.
std::optional<QByteArray> Unescape(const QByteArray& text, bool inPath)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexDigit(text[i + 1]);
            const int low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            const char decoded = char(high * 16 + low);
            if (decoded == '\0' || (inPath && (decoded == '/' || decoded == '\\')))
                return std::nullopt;
            out.append(decoded);
            i += 2;
        } else if (c == '+' && !inPath) {
            out.append(' ');
        } else if (c == '\0') {
            return std::nullopt;
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace

std::optional<RequestTarget> DecodeTarget(const QByteArray& target)
{
    if (!target.startsWith('/'))
        return std::nullopt;
    const qsizetype mark = target.indexOf('?');
    const QByteArray rawPath = mark < 0 ? target : target.left(mark);
    const QByteArray rawQuery = mark < 0 ? QByteArray() : target.mid(mark + 1);

    const std::optional<QByteArray> pathBytes = Unescape(rawPath, true);
    if (!pathBytes || pathBytes->contains('\\'))
        return std::nullopt;
    const std::optional<QString> path = Utf8(*pathBytes);
    if (!path)
        return std::nullopt;
    for (const QStringView segment : QStringView(*path).split(u'/')) {
        if (segment == u"." || segment == u"..")
            return std::nullopt;
    }

    RequestTarget decoded;
    decoded.path = *path;
    for (const QByteArray& pair : rawQuery.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const std::optional<QByteArray> name = Unescape(equals < 0 ? pair : pair.left(equals), false);
        const std::optional<QByteArray> value = Unescape(equals < 0 ? QByteArray() : pair.mid(equals + 1), false);
        if (!name || !value)
            return std::nullopt;
        const std::optional<QString> nameText = Utf8(*name);
        const std::optional<QString> valueText = Utf8(*value);
        if (!nameText || !valueText)
            return std::nullopt;
        decoded.query.insert(*nameText, *valueText);
    }
    return decoded;
}

std::optional<QByteArray> CookieValue(const QByteArray& header, const QByteArray& name)
{
    for (const QByteArray& part : header.split(';')) {
        const QByteArray cookie = part.trimmed();
        const qsizetype equals = cookie.indexOf('=');
        if (equals <= 0 || cookie.left(equals).trimmed() != name)
            continue;
        QByteArray value = cookie.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return std::nullopt;
}

} // namespace chronel
