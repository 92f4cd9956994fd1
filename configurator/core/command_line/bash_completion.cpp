#include "bash_completion.h"

namespace chronel {

namespace {

// One word for the shell, taken literally.
QString Quoted(const QString& word)
{
    QString q = word;
    q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

QString Action(Completion completion, const QStringList& words, const QString& fn)
{
    switch (completion) {
    case Completion::Files: return fn + QStringLiteral("_files -f");
    case Completion::Directories: return fn + QStringLiteral("_files -d");
    case Completion::Words: return fn + QStringLiteral("_words ") + Quoted(words.join(QLatin1Char(' ')));
    case Completion::None: break;
    }
    return QStringLiteral(":");
}

QStringList Names(const OptionTable::Option& o)
{
    QStringList names{o.name};
    if (!o.alias.isEmpty())
        names << o.alias;
    return names;
}

// The names a scope offers: its own, then the program's that apply after a
// command (a stopping switch after a command is the command's own).
QStringList Offered(const OptionTable* own, const OptionTable& program)
{
    QStringList names;
    if (own)
        for (const OptionTable::Option& o : own->options())
            if (!o.isOperand() && o.completed)
                names << Names(o);
    for (const OptionTable::Option& o : program.options())
        if (!o.isOperand() && o.completed && !(own && o.stops))
            names << Names(o);
    names.removeDuplicates();
    return names;
}

// Case arms "scope:option" of the options with a value.
QString ValueArms(const QString& scope, const OptionTable& table, const QString& fn)
{
    QString arms;
    for (const OptionTable::Option& o : table.options()) {
        if (!o.takesValue())
            continue;
        QStringList patterns;
        for (const QString& name : Names(o))
            patterns << scope + Quoted(QLatin1Char(':') + name);
        arms += QStringLiteral("    %1) [[ $3 ]] && %2\n        return 0 ;;\n")
                    .arg(patterns.join(QLatin1Char('|')), Action(o.completion, o.words, fn));
    }
    return arms;
}

QString OperandArms(const QString& scope, const OptionTable& table, const QString& fn)
{
    QString arms;
    int position = 0;
    for (const OptionTable::Option& o : table.options()) {
        if (!o.isOperand())
            continue;
        if (o.completion != Completion::None)
            arms += QStringLiteral("    %1) %2 ;;\n")
                        .arg(Quoted(scope + QLatin1Char(':') + QString::number(position)),
                            Action(o.completion, o.words, fn));
        ++position;
    }
    return arms;
}

} // namespace

QString BashCompletion(const QString& program, const OptionTable& options, const QList<CompletedCommand>& commands)
{
    QString fn = QLatin1Char('_') + program;
    for (QChar& c : fn)
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');

    QString s;
    s += QStringLiteral("# bash completion for %1, written by %1 --bash-completion from its own\n"
                        "# declarations of its options: regenerate it, do not edit it.\n\n")
             .arg(program);

    // $1 what to offer (-f files, -d directories), from what `cur` holds.
    s += fn +
        QStringLiteral("_files()\n{\n"
                       "    compopt -o filenames 2>/dev/null\n"
                       "    mapfile -t COMPREPLY < <(compgen $1 -- \"$cur\")\n"
                       "}\n\n");
    s += fn +
        QStringLiteral("_words()\n{\n"
                       "    mapfile -t COMPREPLY < <(compgen -W \"$1\" -- \"$cur\")\n"
                       "}\n\n");

    // $1 the command ("" before it), $2 a word: whether the word is an
    // option taking a value; with $3, its value's completion as well.
    s += fn + QStringLiteral("_value()\n{\n    case $1:$2 in\n");
    for (const CompletedCommand& c : commands)
        s += ValueArms(Quoted(c.name), *c.table, fn);
    s += ValueArms(QStringLiteral("*"), options, fn);
    s += QStringLiteral("    *) return 1 ;;\n    esac\n}\n\n");

    // $1 the command, $2 the operand's position.
    s += fn + QStringLiteral("_operand()\n{\n    case $1:$2 in\n");
    for (const CompletedCommand& c : commands)
        s += OperandArms(c.name, *c.table, fn);
    s += OperandArms(QString(), options, fn);
    s += QStringLiteral("    esac\n}\n\n");

    // $1 the command: the option names to offer.
    s += fn + QStringLiteral("_options()\n{\n    case $1 in\n");
    for (const CompletedCommand& c : commands)
        s += QStringLiteral("    %1) echo %2 ;;\n").arg(Quoted(c.name), Quoted(Offered(c.table, options).join(' ')));
    s += QStringLiteral("    *) echo %1 ;;\n    esac\n}\n\n").arg(Quoted(Offered(nullptr, options).join(' ')));

    QStringList names;
    for (const CompletedCommand& c : commands)
        names << c.name;

    s += fn + QStringLiteral("()\n{\n");
    s += QStringLiteral("    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} lead=\n"
                        "    local commands=%1 command= operands=0 ended= i w\n"
                        "    COMPREPLY=()\n"
                        "    # \"--name=value\" comes split at \"=\" when COMP_WORDBREAKS holds it, else whole.\n"
                        "    if [[ $cur == = ]]; then\n"
                        "        cur=\n"
                        "    elif [[ $prev == = ]]; then\n"
                        "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
                        "    elif [[ $cur == --*=* ]]; then\n"
                        "        prev=${cur%%=*} lead=${cur%%=*}= cur=${cur#*=}\n"
                        "    fi\n"
                        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
                        "        w=${COMP_WORDS[i]}\n"
                        "        if [[ ! $ended && $w == -- ]]; then\n"
                        "            ended=1\n"
                        "        elif [[ ! $ended && $w == -?* ]]; then\n"
                        "            if %2_value \"$command\" \"$w\"; then\n"
                        "                [[ ${COMP_WORDS[i+1]} == = ]] && ((++i))\n"
                        "                ((++i))\n"
                        "            fi\n"
                        "        elif [[ ! $command && $commands ]]; then\n"
                        "            command=$w\n"
                        "        else\n"
                        "            ((++operands))\n"
                        "        fi\n"
                        "    done\n"
                        "    if [[ ! $ended && ($lead || $prev == -?*) ]] && %2_value \"$command\" \"$prev\"; then\n"
                        "        %2_value \"$command\" \"$prev\" complete\n"
                        "    elif [[ ! $ended && $cur == -* ]]; then\n"
                        "        %2_words \"$(%2_options \"$command\")\"\n"
                        "    elif [[ ! $command && $commands ]]; then\n"
                        "        %2_words \"$commands\"\n"
                        "    else\n"
                        "        %2_operand \"$command\" \"$operands\"\n"
                        "    fi\n"
                        "    if [[ $lead ]]; then\n"
                        "        COMPREPLY=(\"${COMPREPLY[@]/#/$lead}\")\n"
                        "    fi\n"
                        "    return 0\n"
                        "}\n\n")
             .arg(Quoted(names.join(QLatin1Char(' '))), fn);
    s += QStringLiteral("complete -F %1 %2\n").arg(fn, program);
    return s;
}

} // namespace chronel
