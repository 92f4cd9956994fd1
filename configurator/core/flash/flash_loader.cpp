#include "flash_loader.h"

#include "core/fields/number_rule.h"
#include "intel_hex.h"
#include "text_line_reader.h"

#include <QIODevice>

namespace chronel {

FlashLoadResult LoadHexFile(
    QIODevice& file, const QString& fileName, FlashImage& image, FlashStatus& status, const LineHook& eachLine)
{
    // The typing of "Initalizing" is the text the module's users know.
    status.replace(QStringLiteral("Initalizing flash image"));
    image.erase();
    HexLoadState state;

    status.append(QStringLiteral("Opening ") + fileName);
    status.append(QStringLiteral("Reading flash data"));
    if (eachLine)
        eachLine();

    // Line numbers are counted in 32 bits: a full-size image has more lines
    // than a 16-bit count can number.
    quint32 lineNumber = 1;
    bool failed = false;
    // A file of bad lines (a text file chosen by mistake) would otherwise
    // put millions of lines into the status text.
    quint32 reported = 0;
    quint32 unreported = 0;
    // A line longer than any record ends the reading: the file is no HEX
    // file (a binary image, a device without line ends), and reading such a
    // line to its end could take as long as the file, or for ever.
    TextLineReader reader(file, MaxHexLineLength);
    QByteArray line;
    for (;;) {
        if (eachLine)
            eachLine();
        if (!reader.next(line))
            break;
        // The head of an overlong line is longer than any record, so the
        // parser rejects it (no colon, or a length no count gives).
        const HexLineError error = ParseHexLine(line, state, image);
        if (error != HexLineError::None) {
            if (reported < MaxReportedHexErrors) {
                status.append(HexLineErrorMessage(error, lineNumber));
                ++reported;
            } else {
                ++unreported;
            }
            failed = true;
        }
        ++lineNumber;
    }
    if (unreported > 0)
        status.append(QStringLiteral("%1 more bad lines not listed").arg(unreported));
    if (reader.failed()) {
        status.append(QStringLiteral("Flash file read error - Line ") + NumberText(qint64(lineNumber)));
        failed = true;
    }

    if (failed)
        status.append(QStringLiteral("Flash file load error"));
    else
        status.append(
            QStringLiteral("Loaded ") + NumberText(qint64(state.bytesLoaded)) + QStringLiteral(" bytes -  No errors"));
    status.append(QStringLiteral("Closing flash data file"));
    file.close();
    return {!failed, state.bytesLoaded, lineNumber - 1};
}

} // namespace chronel
