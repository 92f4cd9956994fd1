#include "console.h"

#include "core/transfer/transfer_sequence.h"
#include "progress_bar.h"

namespace chronelcli {

Console::Console(std::FILE* out, std::FILE* err, bool barOnErr) : out_(out), err_(err), barOnErr_(barOnErr) { }

void Console::write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void Console::wipeBar()
{
    if (bar_.isEmpty())
        return;
    std::fprintf(err_, "\r%*s\r", int(bar_.size()), "");
    std::fflush(err_);
}

void Console::drawBar()
{
    if (bar_.isEmpty())
        return;
    const QByteArray bytes = bar_.toLocal8Bit();
    std::fputc('\r', err_);
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), err_);
    std::fflush(err_);
}

void Console::line(const QString& text)
{
    wipeBar();
    write(out_, text);
    drawBar();
}

void Console::error(const QString& text)
{
    wipeBar();
    write(err_, text);
    drawBar();
}

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
    if (!barOnErr_)
        return;
    const QString next = ProgressBarText(label, value, maximum);
    if (next == bar_)
        return;
    // A bar as long as the last one simply overwrites it.
    if (next.size() < bar_.size())
        wipeBar();
    bar_ = next;
    drawBar();
}

void Console::endProgress()
{
    wipeBar();
    bar_.clear();
}

} // namespace chronelcli
