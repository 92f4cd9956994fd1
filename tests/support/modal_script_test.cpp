// The modal-window player itself: steps reach nested windows in order, and
// every way a script can go wrong fails the test by name instead of hanging
// it or passing.
#include "support/modal_script.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace chronel::test {
namespace {

// The failure messages of what `body` reports, which must not fail the test.
template <class Body> std::vector<std::string> FailuresOf(Body body)
{
    testing::TestPartResultArray results;
    {
        const testing::ScopedFakeTestPartResultReporter intercept(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        body();
    }
    std::vector<std::string> messages;
    for (int i = 0; i < results.size(); ++i)
        messages.push_back(results.GetTestPartResult(i).message());
    return messages;
}

// Save As over an existing file: the question comes from inside the dialog's
// accept(), gets the next step, and the dialog's step goes on after it.
TEST(ModalScriptTest, AQuestionFromAFileDialogGetsTheNextStepInsideTheDialogsStep)
{
    QTemporaryDir dir;
    QFile existing(dir.filePath(QStringLiteral("site.csv")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();

    QFileDialog dialog(nullptr, QStringLiteral("Save As"), dir.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QStringList order;
    bool openAfterNo = false;
    ModalScript script;
    script
        .on<QFileDialog>([&](QFileDialog& d) {
            order << QStringLiteral("dialog");
            d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("site.csv"));
            static_cast<QDialog&>(d).accept();
            openAfterNo = d.isVisible();
            order << QStringLiteral("dialog after the question");
            d.reject();
        })
        .on<QMessageBox>([&](QMessageBox& box) {
            order << QStringLiteral("question");
            box.button(QMessageBox::No)->click();
        });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(openAfterNo);
    EXPECT_EQ(order,
        (QStringList{
            QStringLiteral("dialog"), QStringLiteral("question"), QStringLiteral("dialog after the question")}));
    EXPECT_TRUE(script.unexpected().isEmpty());

    // A box opened without exec() gets its step from wait(), which records it.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Range"), QStringLiteral("Too big"), QMessageBox::Ok);
    ModalScript later;
    later.answer(QMessageBox::Ok);
    box.open();
    ASSERT_TRUE(later.wait());
    EXPECT_EQ(later.messages(), QStringList{QStringLiteral("Too big")});
    EXPECT_EQ(later.icons(), QList<QMessageBox::Icon>{QMessageBox::Warning});
    EXPECT_FALSE(box.isVisible());
}

TEST(ModalScriptTest, AWindowNobodyExpectedFailsNamingItAndIsClosed)
{
    const std::vector<std::string> failures = FailuresOf([] {
        ModalScript script;
        QMessageBox::warning(nullptr, QStringLiteral("Surprise"), QStringLiteral("Nobody asked for this"));
    });
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("unexpected modal window: Surprise: Nobody asked for this"), std::string::npos)
        << failures[0];
}

TEST(ModalScriptTest, AStepOnTheWrongWindowOrLeavingItOpenFailsAndClosesIt)
{
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Options"));
    const std::vector<std::string> failures = FailuresOf([&] {
        ModalScript script;
        script.on<QMessageBox>([](QMessageBox& box) { box.accept(); }).then([](QWidget*) {});
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    });
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[0].find("expected QMessageBox, got Options: QDialog"), std::string::npos) << failures[0];
    EXPECT_NE(failures[1].find("the step for Options: QDialog left it open"), std::string::npos) << failures[1];
}

TEST(ModalScriptTest, AWindowThatNeverShowsFailsTheWaitNamingTheStep)
{
    bool waited = true;
    const std::vector<std::string> failures = FailuresOf([&] {
        ModalScript script;
        script.answer(QMessageBox::Yes).on<QFileDialog>([](QFileDialog& d) { d.reject(); });
        QMessageBox::question(nullptr, QStringLiteral("Save"), QStringLiteral("Save the changes?"));
        waited = script.wait(200);
    });
    EXPECT_FALSE(waited);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("no modal window showed for step 2 (QFileDialog) within 200 ms"), std::string::npos)
        << failures[0];
}

} // namespace
} // namespace chronel::test
