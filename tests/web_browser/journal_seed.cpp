// A collector stand-in for the browser tests of chronel-web: fills a journal
// with a known set of rows, then appends rows while the page is open, from a
// process of its own as the collector would.
//
//   journal_seed JOURNAL
//
// Reads commands from standard input, one a line, and answers each on
// standard output once it is stored:
//   seed COUNT                   COUNT rows, row i at 2024-03-01 14:00:00 + i s
//                                (UTC zone): module 127.0.0.2 for even i,
//                                127.0.0.3 for odd; point 9 "Transformer
//                                alarm" where i % 10 == 0, else 5 (even i) or
//                                7 (odd i); On where (i / 2) % 2 == 0, else
//                                Off. 127.0.0.3 runs on its internal clock.
//   append MODULE POINT SECONDS On|Off
//                                one row of MODULE's POINT at 14:00:00 +
//                                SECONDS
//   burst COUNT SECONDS          COUNT rows of 127.0.0.2's point 5 a second
//                                apart from 14:00:00 + SECONDS, On first,
//                                in one transaction
//   chatter MODULE POINT SECONDS COUNT
//                                COUNT changes of MODULE's POINT 50 ms apart
//                                from 14:00:00 + SECONDS, On first
// Each answers "stored N". Failures go to standard error with exit status 1.
#include "journal/journal_store.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimeZone>

#include <cstdio>

namespace {

const QDateTime Start(QDate(2024, 3, 1), QTime(14, 0), QTimeZone::utc());

QString ModuleName(const QString& module)
{
    // Markup in a name: the page must show it as text.
    return module == u"127.0.0.3" ? QStringLiteral("<b>South</b> & Co") : QStringLiteral("Feeder North");
}

QString PointDescription(int point)
{
    switch (point) {
    case 5: return QStringLiteral("52-A breaker");
    case 7: return QStringLiteral("Bus coupler");
    case 9: return QStringLiteral("Transformer alarm");
    default: return QStringLiteral("Point %1").arg(point);
    }
}

chronel::JournalEvent Row(const QString& module, int point, qint64 seconds, bool on, int ms = 0)
{
    chronel::JournalEvent e;
    const QDateTime at = Start.addSecs(seconds).addMSecs(ms);
    e.module = module;
    e.moduleName = ModuleName(module);
    e.moduleTime = chronel::JournalTimeText(at);
    e.dateSource = QStringLiteral("record");
    e.point = point;
    e.pointDescription = PointDescription(point);
    e.stateText = on ? QStringLiteral("Tripped") : QStringLiteral("Closed");
    e.text = QStringLiteral("%1  Input Point  %2  %3")
                 .arg(QString(e.moduleTime).replace(u'T', u' '))
                 .arg(point)
                 .arg(on ? QStringLiteral("On") : QStringLiteral("Off"));
    e.received = QDateTime::currentDateTimeUtc();
    e.raw = QByteArray::number(seconds);
    e.utcTime = at;
    e.zone = QStringLiteral("UTC");
    const bool internal = module == u"127.0.0.3";
    e.clockSource = internal ? 0 : 1;
    e.clockQuality = 0;
    e.clockOffsetMs = 400;
    return e;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: journal_seed JOURNAL\n");
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
        QList<chronel::JournalEvent> rows;
        bool ok = false;
        if (words.size() == 2 && words[0] == u"seed") {
            const int count = words[1].toInt(&ok);
            for (int i = 0; ok && i < count; ++i) {
                const QString module = i % 2 ? QStringLiteral("127.0.0.3") : QStringLiteral("127.0.0.2");
                const int point = i % 10 == 0 ? 9 : i % 2 ? 7 : 5;
                rows << Row(module, point, i, (i / 2) % 2 == 0);
            }
        } else if (words.size() == 3 && words[0] == u"burst") {
            bool countOk = false;
            const int count = words[1].toInt(&countOk);
            const qint64 seconds = words[2].toLongLong(&ok);
            ok = ok && countOk;
            for (int k = 0; ok && k < count; ++k)
                rows << Row(QStringLiteral("127.0.0.2"), 5, seconds + k, k % 2 == 0);
        } else if (words.size() == 5 && words[0] == u"chatter") {
            bool pointOk = false;
            bool countOk = false;
            const int point = words[2].toInt(&pointOk);
            const qint64 seconds = words[3].toLongLong(&ok);
            const int count = words[4].toInt(&countOk);
            ok = ok && pointOk && countOk;
            for (int k = 0; ok && k < count; ++k)
                rows << Row(words[1], point, seconds, k % 2 == 0, k * 50);
        } else if (words.size() == 5 && words[0] == u"append" && (words[4] == u"On" || words[4] == u"Off")) {
            bool pointOk = false;
            const int point = words[2].toInt(&pointOk);
            const qint64 seconds = words[3].toLongLong(&ok);
            ok = ok && pointOk;
            if (ok)
                rows << Row(words[1], point, seconds, words[4] == u"On");
        }
        if (!ok) {
            std::fprintf(stderr, "not a command: %s\n", qPrintable(line));
            return 1;
        }
        int added = 0;
        if (!store.append(rows, &error, &added)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        out << "stored " << added << Qt::endl;
    }
    store.close();
    return 0;
}
