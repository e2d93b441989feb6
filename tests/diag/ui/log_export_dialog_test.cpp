#include "diag/ui/log_export_dialog.h"
#include "diag/ui/export_success_dialog.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "config/desktop_services.h"
#include "diag/log_export.h"
#include "tests/support/temp_home.h"

#include <QPushButton>

namespace kestrelle {
namespace {

struct FakeRevealer final : FileRevealer {
    bool revealFile(const std::string& filePath) override {
        revealed.push_back(filePath);
        return true;
    }
    std::vector<std::string> revealed;
};

struct Recorder final : MessagePresenter {
    int show(const std::string& text, unsigned) override {
        texts.push_back(text);
        return answer;
    }
    std::vector<std::string> texts;
    int answer = MessageAnswer::kNo;
};

class LogExportDialogTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        setMessagePresenter(&presenter);
        KESTRELLE_LOG(0, "something worth sending");
    }
    void TearDown() override {
        setMessagePresenter(nullptr);
        TempHomeTest::TearDown();
    }

    // The save dialog answering `chosen`; the confirmation recorded, not shown.
    LogExportWindows windows(const std::string& chosen) {
        LogExportWindows result;
        result.chooseFile = [this, chosen](QWidget*, const QString& proposed) {
            proposedPaths.push_back(proposed.toStdString());
            return QString::fromStdString(chosen);
        };
        result.confirm = [this](ExportSuccessDialog& dialog) {
            confirmations.push_back(dialog.messageText().toStdString());
        };
        return result;
    }

    Recorder presenter;
    FakeRevealer revealer;
    std::vector<std::string> proposedPaths;
    std::vector<std::string> confirmations;
};

// The name gets its suffix, the archive is written there, and the confirmation names it.
TEST_F(LogExportDialogTest, SuffixIsAddedAndTheExportConfirmed) {
    EXPECT_TRUE(exportRunLogInteractively(nullptr, revealer, windows(path("my log"))));
    ASSERT_EQ(proposedPaths.size(), 1u);
    EXPECT_TRUE(proposedPaths[0].ends_with("/Kestrelle.iba"));
    const std::string archive = testing::readFile(path("my log.iba"));
    ASSERT_GE(archive.size(), 2u);
    EXPECT_EQ(archive.substr(0, 2), std::string("\x1f\x8b"));  // gzip
    EXPECT_EQ(confirmations, std::vector<std::string>{"Export to " + path("my log.iba") + " successfully!"});
    EXPECT_TRUE(presenter.texts.empty());
    EXPECT_TRUE(revealer.revealed.empty());
}

// A file the dialog did not ask about (the suffix was added afterwards) is replaced only on Yes;
// Cancel in the dialog does nothing at all.
TEST_F(LogExportDialogTest, ReplacingAFileNeedsYesAndCancelDoesNothing) {
    ASSERT_TRUE(testing::writeFile(path("old.iba"), "keep me"));
    EXPECT_FALSE(exportRunLogInteractively(nullptr, revealer, windows(path("old"))));
    EXPECT_EQ(presenter.texts,
              std::vector<std::string>{"old.iba already exists.\nDo you want to replace it?"});
    EXPECT_EQ(testing::readFile(path("old.iba")), "keep me");
    EXPECT_TRUE(confirmations.empty());

    presenter.answer = MessageAnswer::kYes;
    EXPECT_TRUE(exportRunLogInteractively(nullptr, revealer, windows(path("old"))));
    EXPECT_NE(testing::readFile(path("old.iba")), "keep me");

    presenter.texts.clear();
    EXPECT_FALSE(exportRunLogInteractively(nullptr, revealer, windows("")));
    EXPECT_TRUE(presenter.texts.empty());
    EXPECT_EQ(confirmations.size(), 1u);
}

// Choosing the run log itself is refused before anything is written.
TEST_F(LogExportDialogTest, RunLogItselfIsRefused) {
    const std::string before = testing::readFile(runLogPath());
    EXPECT_FALSE(exportRunLogInteractively(nullptr, revealer, windows(runLogPath())));
    EXPECT_EQ(presenter.texts, std::vector<std::string>{kOntoRunLogText});
    EXPECT_EQ(testing::readFile(runLogPath()).substr(0, before.size()), before);
    EXPECT_TRUE(confirmations.empty());
}

// "Open Target Folder" shows the exact file and logs what it opened; "OK" only closes.
TEST_F(LogExportDialogTest, SuccessDialogButtons) {
    const std::string archive = "/home/ann/My \"Logs\"/Kestrelle.iba";
    {
        ExportSuccessDialog dialog(archive, revealer);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Export successfully"));
        EXPECT_EQ(dialog.messageText().toStdString(), "Export to " + archive + " successfully!");
        EXPECT_TRUE(dialog.okButton()->isDefault());
        dialog.okButton()->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(revealer.revealed.empty());
    }
    ExportSuccessDialog dialog(archive, revealer);
    EXPECT_EQ(dialog.openFolderButton()->text(), QStringLiteral("Open Target Folder"));
    dialog.openFolderButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(revealer.revealed, std::vector<std::string>{archive});
    const std::string log = testing::readFile(runLogPath());
    EXPECT_NE(log.find("DlgExportSuccess.cpp"), std::string::npos);
    EXPECT_NE(log.find(archive), std::string::npos);
}

}  // namespace
}  // namespace kestrelle
