#include "console.h"

#include "core/transfer/transfer_sequence.h"
#include "progress_bar.h"

#include "platform/message_box.h"
#include "platform/printable_text.h"

#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace chronelcli {

namespace {

constexpr int ModuleBarWidth = 20;

thread_local Console* moduleConsole = nullptr;
std::atomic<Console*> processConsole{nullptr};

void WriteMessageBox(const QString& title, const QString& text)
{
    if (Console* process = processConsole.load())
        ConsoleOfThisThread(*process).message({title, text});
}

} // namespace

// What every console of the process shares: the streams and the display.
struct Console::Screen {
    struct Entry {
        const Console* owner = nullptr;
        QString label;
        qint64 value = 0;
        qint64 maximum = 0;
        bool bar = false;
        QElapsedTimer started;
    };

    std::mutex mutex;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
    bool terminal = false;
    TerminalSize size;
    std::vector<Entry> entries; // in the order the modules started
    QStringList drawn;          // the display as it stands on the terminal

    Entry* entryOf(const Console* owner)
    {
        for (Entry& e : entries)
            if (e.owner == owner)
                return &e;
        return nullptr;
    }

    QStringList render() const
    {
        QStringList lines;
        int tagWidth = 0;
        for (const Entry& e : entries)
            tagWidth = std::max(tagWidth, int(e.owner->tag_.size()));
        // Lines longer than the terminal would wrap, and a taller display
        // than the terminal would scroll: either breaks the wiping.
        const int maxLines = std::max(1, size.rows - 1);
        const qsizetype shown = entries.size() > std::size_t(maxLines) ? maxLines - 1 : qsizetype(entries.size());
        for (qsizetype i = 0; i < shown; ++i) {
            const Entry& e = entries[std::size_t(i)];
            QString text;
            if (e.owner->tag_.isEmpty()) {
                text = ProgressBarText(e.label, e.value, e.maximum);
            } else {
                text = e.owner->tag_.leftJustified(tagWidth) +
                    QStringLiteral(" %1 s  ").arg(e.started.elapsed() / 1000, 4) +
                    (e.bar ? ProgressBarText(e.label, e.value, e.maximum, ModuleBarWidth) : QStringLiteral("running"));
            }
            lines << platform::PrintableText(text).left(std::max(1, size.columns - 1));
        }
        if (shown < qsizetype(entries.size()))
            lines << QStringLiteral("… and %1 more running").arg(qsizetype(entries.size()) - shown);
        return lines;
    }

    void erase()
    {
        if (drawn.isEmpty())
            return;
        if (drawn.size() == 1) {
            std::fprintf(err, "\r%*s\r", int(drawn.front().size()), "");
        } else {
            std::fputs("\r\x1b[2K", err);
            for (qsizetype i = 1; i < drawn.size(); ++i)
                std::fputs("\x1b[1A\x1b[2K", err);
        }
        std::fflush(err);
        drawn.clear();
    }

    void show()
    {
        drawn = render();
        if (drawn.isEmpty())
            return;
        const QByteArray bytes = drawn.join(QLatin1Char('\n')).toLocal8Bit();
        std::fputc('\r', err);
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), err);
        std::fflush(err);
    }

    void update()
    {
        const QStringList next = render();
        if (next == drawn)
            return;
        // One line as long as the last one simply overwrites it.
        if (!(next.size() == 1 && drawn.size() == 1 && next.front().size() >= drawn.front().size()))
            erase();
        show();
    }

    void writeLine(std::FILE* stream, const QString& text)
    {
        erase();
        const QByteArray bytes = platform::PrintableText(text).toLocal8Bit();
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
        std::fputc('\n', stream);
        std::fflush(stream);
        show();
    }
};

Console::Console(std::FILE* out, std::FILE* err, bool terminal, TerminalSize size) : screen_(std::make_shared<Screen>())
{
    screen_->out = out;
    screen_->err = err;
    screen_->terminal = terminal;
    screen_->size = size;
}

Console::Console(Console& process, const QString& tag) : screen_(process.screen_), tag_(tag)
{
    if (!screen_->terminal || tag_.isEmpty())
        return;
    std::lock_guard lock(screen_->mutex);
    Screen::Entry entry;
    entry.owner = this;
    entry.started.start();
    screen_->entries.push_back(entry);
    screen_->update();
}

Console::~Console()
{
    std::lock_guard lock(screen_->mutex);
    std::erase_if(screen_->entries, [this](const Screen::Entry& e) { return e.owner == this; });
    if (screen_->terminal)
        screen_->update();
}

void Console::write(bool toStderr, const QString& text)
{
    std::lock_guard lock(screen_->mutex);
    screen_->writeLine(
        toStderr ? screen_->err : screen_->out, tag_.isEmpty() ? text : tag_ + QLatin1String(": ") + text);
}

void Console::line(const QString& text)
{
    lastLine_ = text;
    write(false, text);
}

void Console::lines(const QString& text)
{
    for (const QString& l : text.split(QLatin1Char('\n')))
        line(l);
}

void Console::error(const QString& text)
{
    if (firstError_.isEmpty())
        firstError_ = text;
    write(true, text);
}

void Console::trace(const QString& text) { write(true, text); }

void Console::message(const chronel::UserMessage& message)
{
    QString text = message.text;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (!message.title.isEmpty() && message.title != chronel::TransferMessageTitle())
        text = message.title + QLatin1String(": ") + text;
    for (const QString& l : text.split(QLatin1Char('\n')))
        error(l);
}

chronel::MessageSink Console::sink()
{
    return [this](const chronel::UserMessage& m) { message(m); };
}

void Console::progress(const QString& label, qint64 value, qint64 maximum)
{
    if (!screen_->terminal)
        return;
    std::lock_guard lock(screen_->mutex);
    Screen::Entry* entry = screen_->entryOf(this);
    if (!entry) {
        Screen::Entry added;
        added.owner = this;
        added.started.start();
        screen_->entries.push_back(added);
        entry = &screen_->entries.back();
    }
    entry->bar = true;
    entry->label = label;
    entry->value = value;
    entry->maximum = maximum;
    screen_->update();
}

void Console::endProgress()
{
    if (!screen_->terminal)
        return;
    std::lock_guard lock(screen_->mutex);
    if (tag_.isEmpty()) {
        std::erase_if(screen_->entries, [this](const Screen::Entry& e) { return e.owner == this; });
    } else if (Screen::Entry* entry = screen_->entryOf(this)) {
        entry->bar = false;
    }
    screen_->update();
}

bool Console::terminal() const { return screen_->terminal; }

ModuleConsoleScope::ModuleConsoleScope(Console& console) : previous_(moduleConsole) { moduleConsole = &console; }

ModuleConsoleScope::~ModuleConsoleScope() { moduleConsole = previous_; }

Console& ConsoleOfThisThread(Console& process) { return moduleConsole ? *moduleConsole : process; }

MessageBoxRoute::MessageBoxRoute(Console& process)
{
    processConsole = &process;
    platform::SetMessageFallback(WriteMessageBox);
}

MessageBoxRoute::~MessageBoxRoute()
{
    platform::SetMessageFallback(nullptr);
    processConsole = nullptr;
}

void Console::refresh()
{
    if (!screen_->terminal)
        return;
    std::lock_guard lock(screen_->mutex);
    screen_->update();
}

} // namespace chronelcli
