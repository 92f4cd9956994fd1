#pragma once
// What the Flash tab shows: the status text box (a running log, one CR LF
// terminated line per message, with its caret) and the progress bar.
//
// The text is kept whole, as the box holds it; lineAppended lets a window
// add just the new line, so a load that reports thousands of bad lines costs
// no more than the lines themselves.
#include <QObject>
#include <QString>
#include <QStringList>

namespace chronel {

class FlashStatus : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Every line followed by CR LF.
    const QString& text() const { return text_; }
    QStringList lines() const;
    // Caret position in text(): 0 after the text was replaced or extended by
    // the loader, the end of the text after a programming or verify line.
    int caret() const { return caret_; }
    int progress() const { return progress_; }

    // The text becomes `message` alone.
    void replace(const QString& message);
    // `message` added as a new line; the caret goes back to the start, as it
    // does whenever a text box's whole text is assigned.
    void append(const QString& message);
    // `message` added as a new line and the caret moved to the end so that
    // the newest line is the one in view.
    void appendAndShowEnd(const QString& message);
    // 0 … 100.
    void setProgress(int percent);

signals:
    void textReplaced();
    void lineAppended(const QString& message);
    void caretMoved(int position);
    void progressChanged(int percent);

private:
    void setCaret(int position);

    QString text_;
    int caret_ = 0;
    int progress_ = 0;
};

inline constexpr const char* FlashStatusLineEnd = "\r\n";

} // namespace chronel
