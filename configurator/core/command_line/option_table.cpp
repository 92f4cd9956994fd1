#include "option_table.h"

#include <QSet>

#include <algorithm>

namespace chronel {

namespace {

// An option with its value in the usage line: the value's words when it is
// one of them ("--format text|csv|jsonl").
QString Spelled(const OptionTable::Option& o)
{
    if (!o.takesValue())
        return o.name;
    const bool listed = o.completion == Completion::Words && !o.words.isEmpty();
    return o.name + QLatin1Char(' ') + (listed ? o.words.join(QLatin1Char('|')) : o.valueName);
}

QString Head(const OptionTable::Option& o)
{
    if (!o.helpHead.isEmpty())
        return o.helpHead;
    QString head = o.alias.isEmpty() ? QString() : o.alias + QStringLiteral(", ");
    head += o.name;
    if (o.takesValue())
        head += QLatin1Char(' ') + o.valueName;
    return head;
}

} // namespace

void OptionTable::add(Option option) { options_.append(std::move(option)); }

void OptionTable::exclusive(const QString& first, const QString& second) { exclusive_.append({first, second}); }

void OptionTable::check(std::function<QString()> check) { checks_.append(std::move(check)); }

const OptionTable::Option* OptionTable::find(const QString& name) const
{
    for (const Option& o : options_)
        if (!o.isOperand() && (o.name == name || (!o.alias.isEmpty() && o.alias == name)))
            return &o;
    return nullptr;
}

QString OptionTable::parse(const QStringList& args, QStringList* rest) const
{
    struct Given {
        const Option* option;
        QString value;
    };
    QList<Given> given;
    QStringList operands;
    QString error;
    const Option* stop = nullptr;
    bool optionsEnded = false;
    const auto command = [rest] { return rest && !rest->isEmpty(); };

    for (qsizetype i = 0; i < args.size() && !stop; ++i) {
        const QString& word = args[i];
        if (optionsEnded) {
            if (!rest) {
                operands << word;
                continue;
            }
            *rest << word;
            // "--" came before the command: its words are operands too.
            if (rest->size() == 1)
                *rest << QStringLiteral("--");
            continue;
        }
        if (word == QLatin1String("--")) {
            optionsEnded = true;
            if (command())
                *rest << word;
            continue;
        }
        if (!word.startsWith(QLatin1Char('-')) || word == QLatin1String("-")) {
            if (rest)
                *rest << word;
            else
                operands << word;
            continue;
        }
        const qsizetype equals = word.startsWith(QLatin1String("--")) ? word.indexOf(QLatin1Char('=')) : -1;
        const QString name = equals < 0 ? word : word.left(equals);
        const Option* o = find(name);
        if (command() && (!o || o->stops)) {
            *rest << word;
            continue;
        }
        if (!o) {
            // Read on: a help further on still answers the line.
            if (error.isEmpty())
                error = QStringLiteral("unknown option %1").arg(word);
            continue;
        }
        if (o->stops) {
            stop = o;
            break;
        }
        if (!o->takesValue()) {
            if (equals >= 0 && error.isEmpty())
                error = QStringLiteral("%1 takes no value").arg(name);
            given.append({o, QString()});
            continue;
        }
        if (equals >= 0) {
            given.append({o, word.mid(equals + 1)});
        } else if (i + 1 < args.size()) {
            given.append({o, args[++i]});
        } else if (error.isEmpty()) {
            error = o->missing.isEmpty() ? QStringLiteral("%1 needs a value").arg(name) : o->missing;
        }
    }

    if (stop)
        return stop->take ? stop->take(QString()) : QString();
    if (!error.isEmpty())
        return error;

    QSet<QString> named;
    for (const Given& g : given) {
        named.insert(g.option->name);
        if (g.option->take) {
            const QString failed = g.option->take(g.value);
            if (!failed.isEmpty())
                return failed;
        }
    }

    if (!rest) {
        qsizetype next = 0;
        for (const Option& o : options_) {
            if (!o.isOperand())
                continue;
            if (next < operands.size()) {
                const QString failed = o.take ? o.take(operands[next]) : QString();
                if (!failed.isEmpty())
                    return failed;
                ++next;
            } else if (!o.optional) {
                return o.missing.isEmpty() ? QStringLiteral("missing %1").arg(o.name) : o.missing;
            }
        }
        if (next < operands.size())
            return QStringLiteral("unexpected %1").arg(operands[next]);
    }

    for (const auto& [first, second] : exclusive_)
        if (named.contains(first) && named.contains(second))
            return QStringLiteral("%1 and %2 exclude each other").arg(first, second);
    for (const auto& c : checks_) {
        const QString failed = c();
        if (!failed.isEmpty())
            return failed;
    }
    return {};
}

QStringList OptionTable::usage() const
{
    QStringList items;
    for (const Option& o : options_) {
        if (!o.inUsage)
            continue;
        const auto pair = std::find_if(exclusive_.cbegin(), exclusive_.cend(),
            [&o](const auto& p) { return p.first == o.name || p.second == o.name; });
        if (pair != exclusive_.cend()) {
            if (pair->first != o.name)
                continue; // shown with the first
            const Option* other = find(pair->second);
            items << QStringLiteral("[%1 | %2]").arg(Spelled(o), other ? Spelled(*other) : pair->second);
        } else if (!o.usage.isEmpty()) {
            items << o.usage;
        } else if (o.isOperand()) {
            items << (o.optional ? QStringLiteral("[%1]").arg(o.name) : o.name);
        } else {
            items << QStringLiteral("[%1]").arg(Spelled(o));
        }
    }
    return items;
}

QString OptionTable::helpRows(int column) const
{
    QList<HelpRow> rows;
    for (const Option& o : options_) {
        if (!o.help.isEmpty())
            rows.append({Head(o), o.help});
        rows.append(o.extraRows);
    }
    constexpr int Indent = 2;
    constexpr int Gap = 2;
    qsizetype longHead = 0;
    for (const HelpRow& row : rows)
        if (Indent + row.head.size() + Gap > column)
            longHead = std::max(longHead, Indent + row.head.size() + Gap);

    QString text;
    for (const HelpRow& row : rows) {
        const QString lead = QString(Indent, QLatin1Char(' ')) + row.head;
        const qsizetype width = lead.size() + Gap <= column ? column : longHead;
        const QStringList lines = row.text.split(QLatin1Char('\n'));
        text += lead.leftJustified(width) + lines.first() + QLatin1Char('\n');
        for (qsizetype i = 1; i < lines.size(); ++i)
            text += QString(column, QLatin1Char(' ')) + lines[i] + QLatin1Char('\n');
    }
    return text;
}

OptionTable::Take OptionTable::flag(bool& on)
{
    return [&on](const QString&) {
        on = true;
        return QString();
    };
}

OptionTable::Take OptionTable::keep(QString& value)
{
    return [&value](const QString& v) {
        value = v;
        return QString();
    };
}

QString WrapUsage(const QString& lead, const QStringList& items, int width)
{
    QString text = lead;
    qsizetype lineStart = 0;
    bool itemOnLine = false;
    for (const QString& item : items) {
        if (itemOnLine && text.size() - lineStart + 1 + item.size() > width) {
            text += QLatin1Char('\n');
            lineStart = text.size();
            text += QString(lead.size(), QLatin1Char(' '));
        }
        text += QLatin1Char(' ') + item;
        itemOnLine = true;
    }
    return text + QLatin1Char('\n');
}

} // namespace chronel
