// The SER Setup tab: the point table, as many rows as the tab has room for
// (at least eight), paged by its scroll bar.
#include "chronel_main.h"
#include "window_controls.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace chronel {

QWidget* ChronelMain::buildSerSetupTab()
{
    auto* page = new QWidget;
    auto* outer = new QVBoxLayout(page);
    QGroupBox* points = Frame(QStringLiteral("fraSsPointConfiguration"), QStringLiteral("Point Configuration"), page);
    pointFrame_ = points;
    pointGrid_ = new QGridLayout(points);
    QGridLayout* grid = pointGrid_;
    grid->setVerticalSpacing(3); // a table: 32 rows fit a full-HD screen
    const char* heads[] = {"Point", "Enable", "Filter", "Debounce", "Chatter", "Description", "Off", "On"};
    for (int c = 0; c < 8; ++c)
        grid->addWidget(new QLabel(QString::fromLatin1(heads[c]), points), 0, c);

    auto arrayItem = [](QWidget* w, const char* name, int index) {
        w->setObjectName(QString::fromLatin1(name));
        w->setProperty("index", index);
        return w;
    };
    // Rows for every point; those the frame has no room for are hidden and
    // the scroll bar pages through the points instead.
    for (int r = 0; r < PointPage::MaxRows; ++r) {
        RowControls& rc = rows_[std::size_t(r)];
        rc.pointNum = new QLabel(points);
        rc.enable = new QCheckBox(points);
        rc.filter = new QLineEdit(points);
        rc.debounce = new QLineEdit(points);
        rc.chatter = new QLineEdit(points);
        rc.description = new QLineEdit(points);
        rc.off = new QLineEdit(points);
        rc.on = new QLineEdit(points);
        LimitTyping(rc.description, 32);
        LimitTyping(rc.off, 16);
        LimitTyping(rc.on, 16);
        for (QLineEdit* number : {rc.filter, rc.debounce, rc.chatter})
            NaturalWidth(number, 7, true);
        NaturalWidth(rc.description, 32, false);
        NaturalWidth(rc.off, 16, false);
        NaturalWidth(rc.on, 16, false);
        grid->addWidget(arrayItem(rc.pointNum, "lblSsPcPointNum", r), r + 1, 0);
        grid->addWidget(arrayItem(rc.enable, "chkSsPcEnable", r), r + 1, 1);
        grid->addWidget(arrayItem(rc.filter, "txtSsPcFilter", r), r + 1, 2);
        grid->addWidget(arrayItem(rc.debounce, "txtSsPcDebounce", r), r + 1, 3);
        grid->addWidget(arrayItem(rc.chatter, "txtSsPcChatter", r), r + 1, 4);
        grid->addWidget(arrayItem(rc.description, "txtSsPcDescription", r), r + 1, 5);
        grid->addWidget(arrayItem(rc.off, "txtSsPcOff", r), r + 1, 6);
        grid->addWidget(arrayItem(rc.on, "txtSsPcOn", r), r + 1, 7);
    }
    pointScroll_ = new QScrollBar(Qt::Vertical, points);
    pointScroll_->setObjectName(QStringLiteral("scrSsPcScroll"));
    pointScroll_->setSingleStep(1);
    grid->addWidget(pointScroll_, 1, 8, PointPage::MaxRows, 1);
    grid->setRowStretch(PointPage::MaxRows + 1, 1);
    grid->setColumnStretch(9, 1);

    // The frame takes the tab's height whatever its rows ask for (it hides
    // the rows that do not fit), and never less than eight rows.
    const int rowHeight = rows_[0].filter->sizeHint().height();
    QSizePolicy policy = points->sizePolicy();
    policy.setVerticalPolicy(QSizePolicy::Ignored);
    points->setSizePolicy(policy);
    points->setMinimumHeight(rowHeight * (PointPage::RowCount + 2) + grid->verticalSpacing() * PointPage::RowCount +
        2 * grid->contentsMargins().top() + points->fontMetrics().height());
    points->installEventFilter(this);
    outer->addWidget(points);
    return page;
}

int ChronelMain::pointRowsThatFit() const
{
    const int spacing = pointGrid_->verticalSpacing();
    const int rowHeight = rows_[0].filter->sizeHint().height() + spacing;
    const int head = pointGrid_->itemAtPosition(0, 0)->widget()->sizeHint().height() + spacing;
    const QMargins m = pointGrid_->contentsMargins();
    const int room = pointFrame_->contentsRect().height() - m.top() - m.bottom() - head + spacing;
    return std::clamp(room / rowHeight, PointPage::RowCount, PointPage::MaxRows);
}

bool ChronelMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pointFrame_ && event->type() == QEvent::Resize) {
        model_->showPointRows(pointRowsThatFit());
        // Rows just shown are placed now, not at the next turn of the event
        // loop: a picture taken at once must not find them on top of each
        // other.
        pointGrid_->activate();
    }
    return QMainWindow::eventFilter(watched, event);
}

void ChronelMain::bindPointRows()
{
    for (int r = 0; r < PointPage::MaxRows; ++r) {
        const RowControls& rc = rows_[std::size_t(r)];
        auto bindText = [this, r](QLineEdit* edit, QString PointRow::*member) {
            connect(edit, &QLineEdit::textEdited, this, [this, r, edit, member](const QString& text) {
                model_->page().row(r).*member = text;
                model_->clearFieldNote(edit->objectName(), r);
                model_->noteEdited();
            });
        };
        bindText(rc.filter, &PointRow::SsPcFilter);
        bindText(rc.debounce, &PointRow::SsPcDebounce);
        bindText(rc.chatter, &PointRow::SsPcChatter);
        bindText(rc.description, &PointRow::SsPcDescription);
        bindText(rc.off, &PointRow::SsPcOff);
        bindText(rc.on, &PointRow::SsPcOn);
        connect(rc.enable, &QCheckBox::clicked, this, [this, r, box = rc.enable] {
            model_->page().row(r).SsPcEnable = FromQt(box->checkState());
            model_->noteEdited();
        });
    }
    connect(pointScroll_, &QScrollBar::valueChanged, this, [this](int value) {
        if (!refreshing_)
            model_->showPointPage(value);
    });
}

void ChronelMain::refreshPointPage()
{
    refreshing_ = true;
    const PointPage& page = model_->page();
    for (int r = 0; r < PointPage::MaxRows; ++r) {
        const RowControls& rc = rows_[std::size_t(r)];
        const bool shown = r < page.rows();
        for (QWidget* w : std::initializer_list<QWidget*>{
                 rc.pointNum, rc.enable, rc.filter, rc.debounce, rc.chatter, rc.description, rc.off, rc.on})
            w->setVisible(shown);
        if (!shown)
            continue;
        const PointRow& row = page.row(r);
        rc.pointNum->setText(row.SsPcPointNum);
        rc.enable->setCheckState(ToQt(row.SsPcEnable));
        SetText(rc.filter, row.SsPcFilter);
        SetText(rc.debounce, row.SsPcDebounce);
        SetText(rc.chatter, row.SsPcChatter);
        SetText(rc.description, row.SsPcDescription);
        SetText(rc.off, row.SsPcOff);
        SetText(rc.on, row.SsPcOn);
    }
    pointScroll_->setRange(0, page.maxTop());
    pointScroll_->setPageStep(page.rows());
    pointScroll_->setValue(page.top());
    pointScroll_->setVisible(page.maxTop() > 0);
    refreshing_ = false;
    refreshFieldNotes();
}

} // namespace chronel
