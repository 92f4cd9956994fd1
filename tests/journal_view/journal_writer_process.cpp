// A collector stand-in for the journal window's tests: another process that
// writes the journal, so that SQLite's locks between processes are real.
//
//   journal_writer_process JOURNAL
//
// Reads commands from standard input, one a line, and answers each on
// standard output once it is done:
//   append MODULE FIRST COUNT   stores COUNT breaker events of MODULE at
//                               2024-03-01 14:00:00 + FIRST … seconds;
//                               answers "stored N"
// and closes the journal and ends at the end of its input, as a collector
// that stops does. Failures go to standard error with exit status 1.
#include "journal/journal_store.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: journal_writer_process JOURNAL\n");
        return 2;
    }
    chronel::JournalLocation location;
    location.path = args[1];
    chronel::JournalStore store;
    QString error;
    if (!store.open(location, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QTextStream in(stdin);
    QTextStream out(stdout);
    QString line;
    while (in.readLineInto(&line)) {
        const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
        bool firstOk = false;
        bool countOk = false;
        const int first = words.value(2).toInt(&firstOk);
        const int count = words.value(3).toInt(&countOk);
        if (words.size() != 4 || words[0] != u"append" || !firstOk || !countOk) {
            std::fprintf(stderr, "not a command: %s\n", qPrintable(line));
            return 1;
        }
        QList<chronel::JournalEvent> block;
        for (int i = first; i < first + count; ++i) {
            chronel::JournalEvent e;
            e.module = words[1];
            e.moduleName = QStringLiteral("Feeder ") + words[1].section(u'.', 3);
            const QDateTime at = QDateTime(QDate(2024, 3, 1), QTime(14, 0)).addSecs(i);
            e.moduleTime = chronel::JournalTimeText(at);
            e.point = 5;
            e.pointDescription = QStringLiteral("52-A breaker");
            e.stateText = i % 2 ? QStringLiteral("Tripped") : QStringLiteral("Closed");
            e.text = QStringLiteral("%1  Input Point  5  %2")
                         .arg(e.moduleTime.replace(u'T', u' '), i % 2 ? QStringLiteral("On") : QStringLiteral("Off"));
            e.moduleTime = chronel::JournalTimeText(at);
            e.received = QDateTime::currentDateTimeUtc();
            e.raw = QByteArray::number(i);
            block << e;
        }
        int added = 0;
        if (!store.append(block, &error, &added)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        out << "stored " << added << Qt::endl;
    }
    store.close();
    return 0;
}
