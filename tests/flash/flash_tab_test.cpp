// The Flash tab widget on a model with real controls against chronel-sim:
// the buttons, the status box, the live progress bar and the open dialog.
#include "flash_fixture.h"

#include "support/modal_script.h"
#include "ui/flash_tab.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace chronel::test {
namespace {

struct FilterCase {
    const char* filter;
    QStringList names;
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << '"' << c.filter << '"'; }

class DialogFilter : public testing::TestWithParam<FilterCase> { };

TEST_P(DialogFilter, BecomesQtNameFilters)
{
    EXPECT_EQ(DialogNameFilters(QString::fromLatin1(GetParam().filter)), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(Filters, DialogFilter,
    testing::Values(FilterCase{"Flash Files (*.hex)|*.hex", {QStringLiteral("Flash Files (*.hex)")}},
        FilterCase{
            "Logs|*.txt;*.log|All (*.*)|*.*", {QStringLiteral("Logs (*.txt *.log)"), QStringLiteral("All (*.*)")}},
        FilterCase{"", {}}));

class FlashTabWidget : public FlashFixture {
protected:
    void SetUp() override
    {
        FlashFixture::SetUp();
        startModule();
        tab_ = std::make_unique<FlashTab>(*model_);
        tab_->show();
    }
    void TearDown() override
    {
        tab_.reset();
        FlashFixture::TearDown();
    }

    QString shownText() const { return tab_->statusBox()->toPlainText(); }
    QString modelTextAsShown() const
    {
        QString text = model_->status().text();
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.chop(1);
        return text;
    }

    // Load File with `dialogAction` played on the open dialog.
    void loadThroughDialog(const std::function<void(QFileDialog&)>& dialogAction)
    {
        ModalScript script;
        script.on<QFileDialog>([&](QFileDialog& dialog) {
            EXPECT_EQ(dialog.objectName(), QStringLiteral("cdlFlashOpenSave"));
            dialogAction(dialog);
        });
        tab_->loadButton()->click();
        EXPECT_TRUE(script.wait());
    }

    std::unique_ptr<FlashTab> tab_;
};

TEST_F(FlashTabWidget, NamesCaptionsAndStartState)
{
    const std::pair<const char*, const char*> buttons[] = {{"cmdFlashLoadFile", "Load File"},
        {"cmdFlashProgramFlash", "Program Flash"}, {"cmdFlashVerifyFlash", "Verify Flash"}};
    for (const auto& [name, caption] : buttons) {
        auto* b = tab_->findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->text(), QString::fromLatin1(caption));
    }
    EXPECT_NE(tab_->findChild<QPlainTextEdit*>(QStringLiteral("txtFlashStatus")), nullptr);
    auto* bar = tab_->findChild<QProgressBar*>(QStringLiteral("prbFlashProgress"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_TRUE(tab_->loadButton()->isEnabled());
    EXPECT_FALSE(tab_->programButton()->isEnabled()) << "nothing loaded yet";
    EXPECT_FALSE(tab_->verifyButton()->isEnabled());
}

TEST_F(FlashTabWidget, LoadProgramAndVerifyWithLiveProgress)
{
    QByteArray image(2000, char(0x3C));
    const QString path = hexFromBinary(image);
    tab_->setFileChooser([path] { return path; });
    tab_->loadButton()->click();
    EXPECT_EQ(shownText(), modelTextAsShown());
    EXPECT_TRUE(shownText().endsWith(QStringLiteral("Loaded  2000 bytes -  No errors\nClosing flash data file")));
    EXPECT_TRUE(tab_->statusBox()->textCursor().atStart());
    ASSERT_TRUE(tab_->programButton()->isEnabled());

    std::vector<int> bar;
    QObject::connect(tab_->progressBar(), &QProgressBar::valueChanged, tab_.get(), [&bar](int v) { bar.push_back(v); });
    bool loadOffWhileRunning = true;
    QObject::connect(&model_->status(), &FlashStatus::lineAppended, tab_.get(), [&] {
        if (model_->sequence().running())
            loadOffWhileRunning &= !tab_->loadButton()->isEnabled();
    });
    tab_->programButton()->click();
    ASSERT_EQ(runToEnd(), FlashSequence::Outcome::VerifyOk);
    EXPECT_TRUE(loadOffWhileRunning);
    EXPECT_TRUE(tab_->loadButton()->isEnabled());
    EXPECT_EQ(shownText(), modelTextAsShown());
    EXPECT_TRUE(shownText().endsWith(QStringLiteral("Verifying Flash Memory \nFlash Memory Verify OK ")));
    EXPECT_TRUE(tab_->statusBox()->textCursor().atEnd()) << "the newest line is in view";
    // 2000 bytes: FlashEnd 1999, sixteen blocks written and read.
    EXPECT_GE(bar.size(), 30u);
    EXPECT_EQ(*std::max_element(bar.begin(), bar.end()), 100);
    EXPECT_EQ(tab_->progressBar()->value(), 0);

    tab_->verifyButton()->click();
    ASSERT_EQ(runToEnd(), FlashSequence::Outcome::VerifyOk);
    EXPECT_TRUE(shownText().endsWith(
        QStringLiteral("Flash Memory Verify OK \nVerifying Flash Memory \nFlash Memory Verify OK ")));
}

TEST_F(FlashTabWidget, OpenDialogCancelled)
{
    QStringList filters;
    loadThroughDialog([&filters](QFileDialog& dialog) {
        filters = dialog.nameFilters();
        dialog.reject();
    });
    EXPECT_EQ(filters, QStringList{QStringLiteral("Flash Files (*.hex)")});
    EXPECT_EQ(model_->status().lines().value(model_->status().lines().size() - 1),
        QStringLiteral("Flash file load cancelled"));
    EXPECT_EQ(shownText(), QStringLiteral("Flash file load cancelled"));
    EXPECT_FALSE(tab_->programButton()->isEnabled());
}

TEST_F(FlashTabWidget, OpenDialogChoosesTheFile)
{
    const QString path = writeFile(QStringLiteral("picked.hex"), ":0100C8005ADD\r\n");
    loadThroughDialog([&path](QFileDialog& dialog) {
        // Typed into the file name field, as a user would: selectFile()
        // leaves a focused field alone.
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(path);
        static_cast<QDialog&>(dialog).accept(); // public on QDialog
    });
    EXPECT_TRUE(shownText().contains(QStringLiteral("Opening ") + path)) << shownText().toStdString();
    EXPECT_EQ(model_->image().at(200), 0x5A);
    EXPECT_TRUE(tab_->programButton()->isEnabled());
}

} // namespace
} // namespace chronel::test
