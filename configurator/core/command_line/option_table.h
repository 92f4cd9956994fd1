#pragma once
// A program's or a command's options and operands, each declared once: its
// name, value, help text, what a shell completes its value to, and the
// function that checks and keeps the value. The parser, the help and the
// bash completion (bash_completion.h) all read the same declaration, so
// none of them can know an option the others miss. chronel-cli's commands
// and the window's program both declare their command lines here.
//
// Words are read as: "--name VALUE" or "--name=VALUE" for an option with a
// value (the next word is the value whatever it looks like: "--interval -5"
// is a bad interval, not an unknown option), "--name" for a switch, "--"
// ends the options, and every other word (a lone "-" too) is an operand.
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace chronel {

// What a shell offers for an option's value or an operand.
enum class Completion { None, Files, Directories, Words };

// One row of the help: the option as written ("--cycles N") and its text
// beside it.
struct HelpRow {
    QString head{};
    QString text{};
};

class OptionTable {
public:
    // Checks a value and keeps it where the declaration binds it: the error
    // text ("--jobs 0: expected …"), or an empty string. A switch is given
    // an empty value.
    using Take = std::function<QString(const QString& value)>;

    struct Option {
        // "--cycles"; an operand's name ("FILE") does not start with "-".
        QString name{};
        QString alias{}; // another spelling ("-h"), or empty
        // The value as the help shows it ("N"); empty: a switch. Unused for
        // operands.
        QString valueName{};
        // The text beside the option in the help; "\n" starts a line under
        // it. Without a text the option has no row (it is described with
        // another, or needs no words).
        QString help{};
        // More rows: the other forms of a value (--ip @FILE), an operand's
        // words (test-mode's on, off, send).
        QList<HelpRow> extraRows{};
        QString helpHead{}; // the row's head, when not name and value
        // The option in a usage line, as written; "[--name VALUE]", a
        // value's words joined by "|", or an operand's name by default.
        QString usage{};
        QString missing{}; // the error for a missing value or operand
        Completion completion = Completion::None;
        QStringList words{};   // Completion::Words
        bool optional = false; // an operand that may be left out
        // A switch that answers the command line by itself (help): once
        // given, nothing else on the line is checked or kept.
        bool stops = false;
        bool inUsage = true;   // shown in the usage line
        bool completed = true; // offered by the shell completion
        Take take{};

        bool isOperand() const { return !name.startsWith(QLatin1Char('-')); }
        bool takesValue() const { return !isOperand() && !valueName.isEmpty(); }
    };

    void add(Option option);
    // Two options that may not both be given: "[--a | --b V]" in the usage.
    void exclusive(const QString& first, const QString& second);
    // A check across options, run after every word was kept.
    void check(std::function<QString()> check);

    // Reads `args` (the program's name left out): the first error text, or
    // an empty string. With `rest`, operands are not this table's: from the
    // first operand on (a command), every word that is not one of the
    // table's options goes to `rest` in its order; a stopping switch after
    // the command is the command's too. Words after "--" are the command's
    // operands; the command sees the "--" as well.
    QString parse(const QStringList& args, QStringList* rest = nullptr) const;

    const QList<Option>& options() const { return options_; }
    const Option* find(const QString& name) const;

    // The usage line's items in declaration order ("FILE", "[--verify-only]").
    QStringList usage() const;
    // The help rows, their texts from `column` on; a head too long for the
    // column gets two spaces, and such heads align with each other.
    QString helpRows(int column) const;

    // Takes for the usual kinds of value.
    static Take flag(bool& on);
    static Take keep(QString& value);

private:
    QList<Option> options_;
    QList<std::pair<QString, QString>> exclusive_;
    QList<std::function<QString()>> checks_;
};

// Joins usage items after `lead` into lines of at most `width` characters,
// continued under the first item.
QString WrapUsage(const QString& lead, const QStringList& items, int width);

} // namespace chronel
