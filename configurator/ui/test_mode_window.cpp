#include "test_mode_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace chronel {

TestModeWindow::TestModeWindow(
    LiveData& live, const ControlFactory& factory, std::function<QString()> host, QWidget* parent)
    : QWidget(parent, Qt::Window), live_(live)
{
    setObjectName(QStringLiteral("frmTestMode"));
    setWindowTitle(QStringLiteral("Test Mode"));
    setAttribute(Qt::WA_DeleteOnClose);

    QObject* control = factory ? factory(ControlClassName(), this) : nullptr;
    channel_ = std::make_unique<Channel>(QStringLiteral("modTestMode"), control);
    commands_ = std::make_unique<TestModeCommands>(*channel_, std::move(host));

    auto* layout = new QVBoxLayout(this);
    auto* mode = new QGroupBox(QStringLiteral("Mode"), this);
    auto* m = new QHBoxLayout(mode);
    normal_ = new QPushButton(QStringLiteral("Normal"), mode);
    normal_->setObjectName(QStringLiteral("cmdTestModeModeNormal"));
    test_ = new QPushButton(QStringLiteral("Test"), mode);
    test_->setObjectName(QStringLiteral("cmdTestModeModeTest"));
    m->addWidget(normal_);
    m->addWidget(test_);
    layout->addWidget(mode);

    auto* inputs = new QGridLayout;
    for (int i = 0; i < TestInputCount; ++i) {
        auto* box = new QCheckBox(QString::number(i + 1), this);
        box->setObjectName(QStringLiteral("chkTestData"));
        box->setProperty("index", i);
        data_[std::size_t(i)] = box;
        inputs->addWidget(box, i / 8, i % 8);
    }
    layout->addLayout(inputs);

    auto* buttons = new QHBoxLayout;
    auto* send = new QPushButton(QStringLiteral("Send"), this);
    send->setObjectName(QStringLiteral("cmdestModeSend"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    buttons->addStretch(1);
    buttons->addWidget(send);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(test_, &QPushButton::clicked, this, [this] { commands_->test(); });
    connect(normal_, &QPushButton::clicked, this, [this] { commands_->normal(); });
    connect(send, &QPushButton::clicked, this, [this] { commands_->send(boxes()); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    connect(&live_, &LiveData::statisticsChanged, this, &TestModeWindow::refresh);
    refresh();
}

TestModeWindow::~TestModeWindow()
{
    commands_.reset();
    channel_.reset();
}

void TestModeWindow::refresh()
{
    normal_->setEnabled(live_.statistics().normalEnabled());
    test_->setEnabled(live_.statistics().testEnabled());
}

TestInputs TestModeWindow::boxes() const
{
    TestInputs b{};
    for (int i = 0; i < TestInputCount; ++i)
        b[std::size_t(i)] = data_[std::size_t(i)]->isChecked();
    return b;
}

} // namespace chronel
