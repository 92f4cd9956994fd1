#include "site_run.h"

#include "console.h"
#include "frame_trace_printer.h"
#include "terminal.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace chronelcli {

namespace {

constexpr int DisplayRefreshMs = 1000;

QString ModuleTitle(const ModuleJob& module)
{
    return module.name.isEmpty() ? module.address : QStringLiteral("%1 (%2)").arg(module.address, module.name);
}

QString ResultText(const ModuleOutcome& outcome)
{
    if (!outcome.ran)
        return QStringLiteral("not run");
    switch (outcome.status) {
    case ExitStatus::Done: return QStringLiteral("done");
    case ExitStatus::ModuleFailed: return QStringLiteral("failed");
    case ExitStatus::BadUsage: return QStringLiteral("file error");
    }
    return QStringLiteral("failed");
}

// The message of a line the tool wrote: without the program's name, and
// without the module's own address where the line begins with it (the
// table has a column for that).
QString MessageOf(QString text, const QString& address)
{
    const QString program = QStringLiteral("chronel-cli: ");
    if (text.startsWith(program))
        text = text.mid(program.size());
    const QRegularExpression module(QStringLiteral("^%1(:\\d+)?: ").arg(QRegularExpression::escape(address)));
    return text.remove(module);
}

ModuleOutcome RunOne(const ModuleJob& job, Console& console, const SiteRunOptions& options, const ModuleRunner& run)
{
    ModuleOutcome outcome;
    outcome.module = job;
    outcome.ran = true;
    QElapsedTimer timer;
    timer.start();
    try {
        outcome.status = run(job, console);
    } catch (const std::exception& e) {
        console.error(QStringLiteral("chronel-cli: %1: %2").arg(job.address, QString::fromLocal8Bit(e.what())));
        outcome.status = ExitStatus::ModuleFailed;
    } catch (...) {
        console.error(QStringLiteral("chronel-cli: %1: the command failed unexpectedly").arg(job.address));
        outcome.status = ExitStatus::ModuleFailed;
    }
    outcome.seconds = double(timer.elapsed()) / 1000.0;
    if (outcome.status != ExitStatus::Done)
        outcome.message = MessageOf(console.firstError(), job.address);
    else if (options.outcomeIsLastLine)
        outcome.message = console.lastLine();
    if (outcome.status != ExitStatus::Done && outcome.message.isEmpty() && InterruptRequested())
        outcome.message = QStringLiteral("interrupted");
    return outcome;
}

ModuleOutcome NotRun(const ModuleJob& job)
{
    ModuleOutcome outcome;
    outcome.module = job;
    outcome.message = QStringLiteral("interrupted before it started");
    return outcome;
}

std::vector<ModuleOutcome> RunInTurn(
    const std::vector<ModuleJob>& modules, const SiteRunOptions& options, Console& console, const ModuleRunner& run)
{
    std::vector<ModuleOutcome> outcomes;
    for (const ModuleJob& job : modules) {
        if (InterruptRequested()) {
            outcomes.push_back(NotRun(job));
            continue;
        }
        if (modules.size() > 1)
            console.line(QStringLiteral("Module %1").arg(ModuleTitle(job)));
        Console own(console, QString());
        outcomes.push_back(RunOne(job, own, options, run));
    }
    return outcomes;
}

std::vector<ModuleOutcome> RunAtOnce(const std::vector<ModuleJob>& modules, const std::vector<std::vector<int>>& lanes,
    const SiteRunOptions& options, Console& console, const ModuleRunner& run)
{
    std::vector<ModuleOutcome> outcomes(modules.size());
    std::mutex queueMutex;
    std::size_t nextLane = 0;
    const auto takeLane = [&]() -> const std::vector<int>* {
        std::lock_guard lock(queueMutex);
        return nextLane < lanes.size() ? &lanes[nextLane++] : nullptr;
    };

    // Each worker's last act; read after the threads have ended, so that
    // what they did is seen as done before (QThread::wait orders it inside
    // Qt, out of the sanitizer's sight).
    std::atomic<int> workersDone{0};
    const auto worker = [&] {
        const struct Done {
            std::atomic<int>& count;
            ~Done() { count.fetch_add(1, std::memory_order_release); }
        } done{workersDone};
        while (const std::vector<int>* lane = takeLane()) {
            for (const int index : *lane) {
                const ModuleJob& job = modules[std::size_t(index)];
                if (InterruptRequested()) {
                    outcomes[std::size_t(index)] = NotRun(job);
                    continue;
                }
                if (!console.terminal())
                    console.error(QStringLiteral("%1: started").arg(ModuleTitle(job)));
                ModuleOutcome outcome;
                {
                    Console own(console, job.address);
                    const ModuleConsoleScope frames(own);
                    outcome = RunOne(job, own, options, run);
                }
                if (!console.terminal())
                    console.error(QStringLiteral("%1: %2 after %3 s")
                                      .arg(ModuleTitle(job), ResultText(outcome))
                                      .arg(outcome.seconds, 0, 'f', 1));
                outcomes[std::size_t(index)] = std::move(outcome);
            }
        }
    };

    const int threadCount = std::clamp(options.jobs, 1, int(lanes.size()));
    QEventLoop loop;
    std::atomic<int> running{threadCount};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back(QThread::create(worker));
        QObject::connect(threads.back().get(), &QThread::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
        threads.back()->start();
    }
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&console] { console.refresh(); });
    refresh.start(DisplayRefreshMs);
    if (running > 0)
        loop.exec();
    for (const auto& thread : threads)
        thread->wait();
    while (workersDone.load(std::memory_order_acquire) != threadCount)
        QThread::yieldCurrentThread();
    return outcomes;
}

} // namespace

std::vector<std::vector<int>> PlanLanes(
    const std::vector<ModuleJob>& modules, const std::function<bool(const ModuleJob&)>& overDriver)
{
    std::vector<std::vector<int>> lanes;
    std::map<int, std::size_t> laneOfAdapter;
    for (int i = 0; i < int(modules.size()); ++i) {
        const ModuleJob& module = modules[std::size_t(i)];
        if (!overDriver(module)) {
            lanes.push_back({i});
            continue;
        }
        const auto [it, added] = laneOfAdapter.try_emplace(module.adapter, lanes.size());
        if (added)
            lanes.emplace_back();
        lanes[it->second].push_back(i);
    }
    return lanes;
}

std::vector<ModuleOutcome> RunModules(const std::vector<ModuleJob>& modules, const std::vector<std::vector<int>>& lanes,
    const SiteRunOptions& options, Console& console, const ModuleRunner& run)
{
    if (options.jobs <= 1 || modules.size() <= 1 || lanes.size() <= 1)
        return RunInTurn(modules, options, console, run);
    return RunAtOnce(modules, lanes, options, console, run);
}

QStringList SummaryTable(const std::vector<ModuleOutcome>& outcomes)
{
    const bool named =
        std::any_of(outcomes.begin(), outcomes.end(), [](const ModuleOutcome& o) { return !o.module.name.isEmpty(); });
    QList<QStringList> rows;
    rows << (named ? QStringList{QStringLiteral("Address"), QStringLiteral("Name"), QStringLiteral("Result"),
                         QStringLiteral("Seconds"), QStringLiteral("Message")}
                   : QStringList{QStringLiteral("Address"), QStringLiteral("Result"), QStringLiteral("Seconds"),
                         QStringLiteral("Message")});
    for (const ModuleOutcome& o : outcomes) {
        QStringList row{o.module.address};
        if (named)
            row << o.module.name;
        row << ResultText(o) << (o.ran ? QString::number(o.seconds, 'f', 1) : QStringLiteral("-")) << o.message;
        rows << row;
    }
    const int secondsColumn = named ? 3 : 2;
    std::vector<int> widths(std::size_t(rows.front().size()), 0);
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[std::size_t(c)] = std::max(widths[std::size_t(c)], int(row[c].size()));
    QStringList lines;
    for (const QStringList& row : rows) {
        QString text;
        for (qsizetype c = 0; c < row.size(); ++c) {
            const bool last = c + 1 == row.size();
            const int width = widths[std::size_t(c)];
            if (c == secondsColumn)
                text += row[c].rightJustified(width);
            else
                text += last ? row[c] : row[c].leftJustified(width);
            if (!last)
                text += QLatin1String("  ");
        }
        lines << text;
    }
    return lines;
}

ExitStatus OverallStatus(const std::vector<ModuleOutcome>& outcomes)
{
    ExitStatus worst = ExitStatus::Done;
    for (const ModuleOutcome& o : outcomes)
        worst = Worse(worst, o.ran ? o.status : ExitStatus::ModuleFailed);
    return worst;
}

} // namespace chronelcli
