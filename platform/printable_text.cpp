#include "platform/printable_text.h"

#include <algorithm>

namespace platform {

namespace {

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7f && c <= 0x9f); }

bool Kept(char16_t c, ControlsKept kept)
{
    return kept == ControlsKept::LineLayout && (c == u'\r' || c == u'\n' || c == u'\t');
}

} // namespace

QString PrintableText(const QString& text, ControlsKept kept)
{
    const auto needsEscape = [kept](QChar c) { return IsControl(c.unicode()) && !Kept(c.unicode(), kept); };
    if (std::none_of(text.begin(), text.end(), needsEscape))
        return text;
    static const char hex[] = "0123456789abcdef";
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (!needsEscape(c)) {
            out += c;
            continue;
        }
        const char16_t u = c.unicode();
        out += QLatin1String("\\x");
        out += QLatin1Char(hex[(u >> 4) & 0xf]);
        out += QLatin1Char(hex[u & 0xf]);
    }
    return out;
}

} // namespace platform
