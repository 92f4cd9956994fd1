#include "conversions.h"

namespace chronel {

qint64 ClampToRange(qint64 value, qint64 low, qint64 high)
{
    if (value < low)
        return low;
    if (value > high)
        return high;
    return value;
}

qint16 ToRegisterWord(qint32 value)
{
    const auto clamped = qint32(ClampToRange(value, 0, 65535));
    return qint16(clamped > 32767 ? clamped - 65536 : clamped);
}

qint32 FromRegisterWord(qint16 word) { return word < 0 ? qint32(word) + 65536 : qint32(word); }

QString HexDigits(qint16 value, int digits)
{
    const QString text = QStringLiteral("0000") + QString::number(quint16(value), 16).toUpper();
    if (digits <= 0)
        return QString();
    return text.right(digits);
}

const QStringList& BaudItems()
{
    static const QStringList items{
        QStringLiteral("300"),
        QStringLiteral("600"),
        QStringLiteral("1200"),
        QStringLiteral("2400"),
        QStringLiteral("4800"),
        QStringLiteral("9600"),
        QStringLiteral("19.2K"),
        QStringLiteral("38.4K"),
        QStringLiteral("57.6K"),
        QStringLiteral("115.5K"),
    };
    return items;
}

const QStringList& Baud232Items()
{
    static const QStringList items = BaudItems().mid(0, 7);
    return items;
}

const QStringList& ParityItems()
{
    static const QStringList items{QStringLiteral("None"), QStringLiteral("Even"), QStringLiteral("Odd")};
    return items;
}

const QStringList& ProtocolItems()
{
    static const QStringList items{QStringLiteral("RTU"), QStringLiteral("ASCII")};
    return items;
}

const QStringList& DstLocationItems()
{
    static const QStringList items{
        QStringLiteral("Disabled"),
        QStringLiteral("Manual"),
        QStringLiteral("Canada"),
        QStringLiteral("European Union"),
        QStringLiteral("Mexico"),
        QStringLiteral("United States"),
    };
    return items;
}

namespace {

int TextToIndex(const QStringList& items, QStringView text, int fallback)
{
    for (int i = 0; i < items.size(); ++i) {
        if (items[i] == text)
            return i;
    }
    return fallback;
}

QString IndexToText(const QStringList& items, int index, int fallback)
{
    return index >= 0 && index < items.size() ? items[index] : items[fallback];
}

} // namespace

int BaudTextToIndex(QStringView text) { return TextToIndex(BaudItems(), text, 5); }
QString BaudIndexToText(int index) { return IndexToText(BaudItems(), index, 5); }
int ParityTextToIndex(QStringView text) { return TextToIndex(ParityItems(), text, 1); }
QString ParityIndexToText(int index) { return IndexToText(ParityItems(), index, 1); }
int ProtocolTextToIndex(QStringView text) { return TextToIndex(ProtocolItems(), text, 0); }
QString ProtocolIndexToText(int index) { return IndexToText(ProtocolItems(), index, 0); }

} // namespace chronel
