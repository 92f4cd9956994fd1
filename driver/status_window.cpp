#include "driver/status_window.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStyle>

namespace plcdrv {

StatusWindow::StatusWindow()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("StatusWindow"));
    setModal(false);
    setAttribute(Qt::WA_ShowWithoutActivating);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);
    setFixedSize(dialogUnits(0, 0, 227, 42).size());

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    const QRect iconRect = dialogUnits(11, 2, 18, 20);
    icon->setGeometry(iconRect);
    const int side = std::min(iconRect.width(), iconRect.height());
    icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(side, side));

    auto* title = new QLabel(QString::fromLatin1(kTitle), this);
    title->setObjectName(QStringLiteral("title"));
    title->setAlignment(Qt::AlignCenter);
    title->setGeometry(dialogUnits(34, 7, 158, 8));

    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("separator"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(dialogUnits(33, 15, 187, 1).adjusted(0, 0, 0, 1));

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setAlignment(Qt::AlignCenter);
    status_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status_->setGeometry(dialogUnits(7, 22, 213, 10));

    show();
    // Centred with its frame, which is known only once the window is shown.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect frame = frameGeometry();
        move(pos() + screen->availableGeometry().center() - frame.center());
    }
    refresh();
}

StatusWindow::~StatusWindow() = default;

QRect StatusWindow::dialogUnits(int x, int y, int width, int height) const
{
    // A dialog unit is a quarter of the font's average character width
    // across and an eighth of its height down.
    const QFontMetrics metrics(font());
    const int baseX = std::max(1, metrics.averageCharWidth());
    const int baseY = std::max(1, metrics.height());
    return QRect(x * baseX / 4, y * baseY / 8, width * baseX / 4, height * baseY / 8);
}

void StatusWindow::setCaption(const QString& caption)
{
    setWindowTitle(caption);
    refresh();
}

void StatusWindow::setStatusText(const QString& text)
{
    statusText_ = text;
    status_->setText(statusText_);
    refresh();
}

void StatusWindow::refresh()
{
    if (isVisible())
        repaint();
}

} // namespace plcdrv

// The plugin's entry: statusWindowFactory() calls it on the GUI thread of a
// widget application.
extern "C" plcdrv::StartupDisplay* plcdrv_create_status_window() { return new plcdrv::StatusWindow(); }
