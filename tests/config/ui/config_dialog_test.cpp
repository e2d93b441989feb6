#include "config/ui/config_dialog.h"
#include "base/message_box.h"
#include "config/ui/new_profile_dialog.h"
#include "tests/config/config_dialog_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace kestrelle {
namespace {

using testing::profileFileText;

class ConfigDialogWindowTest : public testing::ConfigDialogTest {
protected:
    std::unique_ptr<ConfigDialog> makeDialog() {
        auto dialog = std::make_unique<ConfigDialog>(
            *store,
            [this](QWidget*) {
                ++chooserOpened;
                return chooserAnswer;
            },
            [this](int effect) {
                iconsAskedFor.push_back(effect);
                QPixmap pixmap(31, 23);
                pixmap.fill(Qt::red);
                return QIcon(pixmap);
            });
        dialog->setProfileNameAsker([this](QWidget*) { return nameAnswer; });
        refreshes = std::make_unique<QSignalSpy>(dialog.get(), &ConfigDialog::refreshProfileListRequested);
        applies =
            std::make_unique<QSignalSpy>(dialog.get(), &ConfigDialog::applyDefaultsToAllSlidesRequested);
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        return dialog;
    }

    // Types into an edit as a user does and leaves it for the OK button.
    static void typeAndLeave(ConfigDialog& dialog, QLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        dialog.okButton()->setFocus();
    }

    // Picks a list's item with the keyboard, as a user without a mouse does.
    static void chooseByKeyboard(QComboBox* combo, int index) {
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Home);
        for (int i = 0; i < index; ++i) QTest::keyClick(combo, Qt::Key_Down);
    }

    std::optional<int> chooserAnswer;
    std::optional<std::string> nameAnswer;
    int chooserOpened = 0;
    std::vector<int> iconsAskedFor;
    std::unique_ptr<QSignalSpy> refreshes;
    std::unique_ptr<QSignalSpy> applies;
};

TEST_F(ConfigDialogWindowTest, ShowsTheProfilePageFirstAndSwitchesControlsByPage) {
    useThreeProfiles();
    auto dialog = makeDialog();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Configuration"));
    EXPECT_EQ(dialog->tabs()->tabText(0), QStringLiteral("Profile"));
    EXPECT_EQ(dialog->tabs()->tabText(1), QStringLiteral("General"));
    EXPECT_EQ(dialog->tabs()->currentIndex(), 0);
    EXPECT_TRUE(dialog->profileCombo()->isVisible());
    EXPECT_FALSE(dialog->playSoundCheck()->isVisible());
    EXPECT_EQ(dialog->newButton()->toolTip(), QStringLiteral("Create a new profile"));
    EXPECT_EQ(dialog->deleteButton()->toolTip(), QStringLiteral("Delete the current profile"));
    EXPECT_EQ(dialog->profileCombo()->count(), 3);
    EXPECT_EQ(dialog->audioBitRateCombo()->currentText(), QStringLiteral("192"));
    EXPECT_EQ(dialog->frameRateCombo()->currentText(), QStringLiteral("PAL(25.0)"));
    EXPECT_EQ(dialog->codecCombo()->currentText(), QString::fromUtf8(kXvid));
    EXPECT_EQ(iconsAskedFor, (std::vector<int>{0}));

    dialog->tabs()->setCurrentIndex(1);
    EXPECT_FALSE(dialog->profileCombo()->isVisible());
    EXPECT_FALSE(dialog->configureButton()->isVisible());
    EXPECT_TRUE(dialog->playSoundCheck()->isVisible());
    EXPECT_TRUE(dialog->effectButton()->isVisible());
    EXPECT_TRUE(dialog->okButton()->isVisible());
    EXPECT_TRUE(dialog->cancelButton()->isVisible());
    EXPECT_EQ(dialog->slideDurationEdit()->text(), QStringLiteral("3.0"));
    dialog->tabs()->setCurrentIndex(0);
    EXPECT_TRUE(dialog->widthEdit()->isVisible());
    EXPECT_FALSE(dialog->applyCheck()->isVisible());

    // The pages switch from the keyboard wherever the focus is.
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    dialog->widthEdit()->setFocus();
    QTest::keyClick(dialog->widthEdit(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(dialog->tabs()->currentIndex(), 1);
    EXPECT_TRUE(dialog->playSoundCheck()->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dialog->tabs()->currentIndex(), 0);
}

TEST_F(ConfigDialogWindowTest, TypedValuesAreCheckedOnLeavingAndTakenByOkWhichAsksForRefreshThenApply) {
    useProfiles({profile("Only")});
    auto dialog = makeDialog();
    std::vector<std::string> order;
    QObject::connect(dialog.get(), &ConfigDialog::refreshProfileListRequested,
                     [&] { order.push_back("2026"); });
    QObject::connect(dialog.get(), &ConfigDialog::applyDefaultsToAllSlidesRequested,
                     [&] { order.push_back("2027"); });
    QTest::keyClicks(dialog->widthEdit(), QStringLiteral("x9"));  // the frame size takes digits only
    EXPECT_EQ(dialog->widthEdit()->text(), QStringLiteral("3209"));
    typeAndLeave(*dialog, dialog->videoBitRateEdit(), QStringLiteral("3000"));
    EXPECT_EQ(dialog->videoBitRateEdit()->text(), QStringLiteral("2500"));
    dialog->tabs()->setCurrentIndex(1);
    typeAndLeave(*dialog, dialog->transitionDurationEdit(), QStringLiteral("abc"));
    EXPECT_EQ(dialog->transitionDurationEdit()->text(), QStringLiteral("3.0"));
    typeAndLeave(*dialog, dialog->slideDurationEdit(), QStringLiteral("2.25"));
    EXPECT_EQ(dialog->slideDurationEdit()->text(), QStringLiteral("2.2"));
    EXPECT_EQ(dialog->audioFadeEdit()->text(), QStringLiteral("2.0"));
    EXPECT_TRUE(dialog->audioFadeEdit()->isVisible());
    EXPECT_FALSE(dialog->audioFadeEdit()->accessibleName().isEmpty());
    typeAndLeave(*dialog, dialog->audioFadeEdit(), QStringLiteral("15"));
    EXPECT_EQ(dialog->audioFadeEdit()->text(), QStringLiteral("10.0"));
    dialog->shutDownCheck()->click();
    dialog->applyCheck()->click();
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);

    EXPECT_EQ(dialog->closedBy(), ConfigDialog::ClosedBy::Ok);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(profileBytes("Only"), profileFileText(3209, 240, 2500, 5, 1, kXvid));
    EXPECT_DOUBLE_EQ(store->settings().DefaultSlideDuration, 2.25);
    EXPECT_EQ(store->settings().ShutDown, 1);
    EXPECT_NE(settingsBytes().find("<DefaultSlideDuration>2.2</DefaultSlideDuration>"), std::string::npos);
    EXPECT_DOUBLE_EQ(store->settings().AudioFadeSeconds, 10.0);
    EXPECT_EQ(order, (std::vector<std::string>{"2026", "2027"}));
}

// The look of new slides on the General page: two labelled lists and a check box, inside the page,
// overlapping nothing, wide enough for their texts, named for assistive technology and reached in
// reading order from the keyboard.
TEST_F(ConfigDialogWindowTest, TheLookOfNewSlidesSitsInReadingOrderWithRoomForItsTexts) {
    useProfiles({profile("Only")});
    auto dialog = makeDialog();
    EXPECT_FALSE(dialog->motionCombo()->isVisible());
    dialog->tabs()->setCurrentIndex(1);
    QComboBox* motion = dialog->motionCombo();
    QComboBox* fit = dialog->fitCombo();
    QCheckBox* enlarge = dialog->enlargeCheck();
    ASSERT_TRUE(motion->isVisible() && fit->isVisible() && enlarge->isVisible());
    EXPECT_EQ(motion->count(), 2);
    EXPECT_EQ(motion->currentText(), QStringLiteral("None"));
    EXPECT_EQ(motion->itemText(1), QStringLiteral("Gentle random"));
    EXPECT_EQ(fit->count(), 3);
    EXPECT_EQ(fit->currentText(), QStringLiteral("Letterbox"));
    EXPECT_EQ(fit->itemText(1), QStringLiteral("Fill the frame"));
    EXPECT_EQ(fit->itemText(2), QStringLiteral("Blurred background"));
    EXPECT_EQ(enlarge->text(), QStringLiteral("Enlarge small photos"));
    EXPECT_FALSE(enlarge->isChecked());
    EXPECT_EQ(motion->accessibleName(), QStringLiteral("Motion for new slides"));
    EXPECT_EQ(fit->accessibleName(), QStringLiteral("Fit for new slides"));

    // Labels are the lists' buddies, with the texts shown.
    std::map<QWidget*, QString> buddyTexts;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->buddy() != nullptr) buddyTexts[label->buddy()] = label->text();
    EXPECT_EQ(buddyTexts[motion], QStringLiteral("Motion for new slides:"));
    EXPECT_EQ(buddyTexts[fit], QStringLiteral("Fit for new slides:"));

    // Every control of the page lies inside the tab control, clear of the others and of the buttons,
    // and is as wide as its text needs.
    const QRect page = dialog->tabs()->geometry();
    std::vector<QWidget*> shown;
    for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisible() && child != dialog->tabs()) shown.push_back(child);
    for (QWidget* a : shown) {
        const bool button = a == dialog->okButton() || a == dialog->cancelButton();
        EXPECT_EQ(page.contains(a->geometry()), !button) << a->metaObject()->className();
        if (auto* label = qobject_cast<QLabel*>(a)) {
            EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
        }
        if (auto* box = qobject_cast<QCheckBox*>(a)) {
            EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
        }
        for (QWidget* b : shown) {
            if (a < b) {
                EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                    << a->metaObject()->className() << " " << b->metaObject()->className();
            }
        }
    }
    for (QComboBox* list : {motion, fit}) EXPECT_LE(list->sizeHint().width(), list->width());
    EXPECT_GT(motion->geometry().top(), dialog->effectButton()->geometry().top());
    EXPECT_GT(fit->geometry().top(), motion->geometry().bottom());
    EXPECT_GT(enlarge->geometry().top(), fit->geometry().bottom());
    EXPECT_GT(dialog->applyCheck()->geometry().top(), enlarge->geometry().bottom());

    // Tab walks effect, motion, fit, enlarge, apply; the keyboard chooses and ticks.
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    dialog->effectButton()->setFocus();
    const QWidget* expectedOrder[] = {motion, fit, enlarge, dialog->applyCheck()};
    for (const QWidget* expected : expectedOrder) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected);
    }
    motion->setFocus();
    QTest::keyClick(motion, Qt::Key_Down);
    fit->setFocus();
    QTest::keyClick(fit, Qt::Key_End);
    enlarge->setFocus();
    QTest::keyClick(enlarge, Qt::Key_Space);
    EXPECT_EQ(dialog->model().newSlideMotion(), NewSlideMotion::GentleRandom);
    EXPECT_EQ(dialog->model().newSlideFit(), NewSlideFit::BlurredBackground);
    EXPECT_TRUE(dialog->model().enlargeSmallPhotos());
}

// OK stores the look of new slides, Cancel leaves it out; the next opening shows what was stored.
TEST_F(ConfigDialogWindowTest, OkStoresTheLookOfNewSlidesAndCancelDiscardsIt) {
    useProfiles({profile("Only")});
    const std::string before = settingsBytes();
    {
        auto dialog = makeDialog();
        dialog->tabs()->setCurrentIndex(1);
        chooseByKeyboard(dialog->motionCombo(), 1);
        chooseByKeyboard(dialog->fitCombo(), 1);
        dialog->enlargeCheck()->click();
        dialog->cancelButton()->click();
        EXPECT_EQ(settingsBytes(), before);
        EXPECT_EQ(store->settings().NewSlideMotionKind, NewSlideMotion::None);
        EXPECT_EQ(store->settings().NewSlideFitKind, NewSlideFit::Letterbox);
        EXPECT_FALSE(store->settings().EnlargeSmallPhotos);
    }
    {
        auto dialog = makeDialog();
        EXPECT_EQ(dialog->motionCombo()->currentIndex(), 0);
        EXPECT_EQ(dialog->fitCombo()->currentIndex(), 0);
        EXPECT_FALSE(dialog->enlargeCheck()->isChecked());
        dialog->tabs()->setCurrentIndex(1);
        chooseByKeyboard(dialog->motionCombo(), 1);
        chooseByKeyboard(dialog->fitCombo(), 1);
        dialog->enlargeCheck()->click();
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        EXPECT_EQ(dialog->closedBy(), ConfigDialog::ClosedBy::Ok);
    }
    EXPECT_EQ(store->settings().NewSlideMotionKind, NewSlideMotion::GentleRandom);
    EXPECT_EQ(store->settings().NewSlideFitKind, NewSlideFit::Fill);
    EXPECT_TRUE(store->settings().EnlargeSmallPhotos);
    EXPECT_NE(settingsBytes().find("<NewSlideMotion>1</NewSlideMotion>\r\n<NewSlideFit>1</NewSlideFit>\r\n"
                                   "<EnlargeSmallPhotos>1</EnlargeSmallPhotos>"),
              std::string::npos);
    auto reopened = makeDialog();
    EXPECT_EQ(reopened->motionCombo()->currentText(), QStringLiteral("Gentle random"));
    EXPECT_EQ(reopened->fitCombo()->currentText(), QStringLiteral("Fill the frame"));
    EXPECT_TRUE(reopened->enlargeCheck()->isChecked());
    // Escape keeps what was stored.
    reopened->tabs()->setCurrentIndex(1);
    reopened->enlargeCheck()->click();
    QTest::keyClick(reopened.get(), Qt::Key_Escape);
    EXPECT_TRUE(store->settings().EnlargeSmallPhotos);
}

TEST_F(ConfigDialogWindowTest, TheEffectButtonTakesTheChoiceOfTheChooserOnly) {
    useProfiles({profile("Only")});
    auto dialog = makeDialog();
    dialog->tabs()->setCurrentIndex(1);
    dialog->effectButton()->click();  // closed without a choice
    EXPECT_EQ(chooserOpened, 1);
    EXPECT_EQ(iconsAskedFor, (std::vector<int>{0}));
    chooserAnswer = 9;
    dialog->effectButton()->click();
    EXPECT_EQ(iconsAskedFor, (std::vector<int>{0, 9}));
    EXPECT_FALSE(dialog->effectButton()->icon().isNull());
    dialog->okButton()->click();
    EXPECT_EQ(store->settings().DefaultSlideIndex, 9);
    EXPECT_NE(settingsBytes().find("<DefaultSlideIndex>9</DefaultSlideIndex>"), std::string::npos);
}

TEST_F(ConfigDialogWindowTest, NewAndDelRefillTheListAndEveryCloseAsksForARefresh) {
    useThreeProfiles();
    const std::string settingsBefore = settingsBytes();
    auto dialog = makeDialog();
    nameAnswer = "Added";
    dialog->newButton()->click();
    EXPECT_EQ(dialog->profileCombo()->count(), 4);
    EXPECT_EQ(dialog->profileCombo()->currentText(), QStringLiteral("Added"));
    EXPECT_TRUE(std::filesystem::exists(profileDir() + "/Added.ipf"));

    presenter.answers = {MessageAnswer::kYes};
    dialog->deleteButton()->click();
    EXPECT_EQ(dialog->profileCombo()->count(), 3);
    EXPECT_EQ(dialog->profileCombo()->currentText(), QStringLiteral("Alpha"));
    EXPECT_FALSE(std::filesystem::exists(profileDir() + "/Added.ipf"));

    // Typed General values are left out by Cancel, which still saves what New and Del did.
    dialog->tabs()->setCurrentIndex(1);
    typeAndLeave(*dialog, dialog->slideDurationEdit(), QStringLiteral("9"));
    dialog->cancelButton()->click();
    EXPECT_EQ(dialog->closedBy(), ConfigDialog::ClosedBy::Cancel);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(settingsBytes(), settingsBefore);
    EXPECT_EQ(refreshes->count(), 1);
    EXPECT_EQ(applies->count(), 0);
}

TEST_F(ConfigDialogWindowTest, TheCloseBoxAndEscapeSaveNothingButStillAskForARefresh) {
    useThreeProfiles();
    for (bool escape : {false, true}) {
        const auto before = allFiles();
        auto dialog = makeDialog();
        dialog->tabs()->setCurrentIndex(1);
        dialog->playSoundCheck()->click();
        typeAndLeave(*dialog, dialog->slideDurationEdit(), QStringLiteral("8"));
        dialog->tabs()->setCurrentIndex(0);
        typeAndLeave(*dialog, dialog->widthEdit(), QStringLiteral("640"));
        presenter.answers = {MessageAnswer::kYes};
        dialog->profileCombo()->setFocus();
        QTest::keyClick(dialog->profileCombo(), Qt::Key_Down);  // switch with Yes: edited in memory only
        ASSERT_EQ(dialog->profileCombo()->currentIndex(), 1);
        EXPECT_EQ(store->findProfile("Alpha")->ResWidth, 640);
        if (escape)
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else
            dialog->close();
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->closedBy(), ConfigDialog::ClosedBy::CloseBox);
        EXPECT_EQ(allFiles(), before);
        EXPECT_EQ(refreshes->count(), 1);
        EXPECT_EQ(applies->count(), 0);
        EXPECT_EQ(store->settings().PlaySound, 1);
        store->findProfile("Alpha")->ResWidth = 320;
    }
}

TEST_F(ConfigDialogWindowTest, ANewProfileFileThatCannotBeWrittenIsReported) {
    useProfiles({profile("Only")});
    std::filesystem::remove_all(profileDir());
    ASSERT_TRUE(testing::writeFile(profileDir(), "in the way"));
    auto dialog = makeDialog();
    nameAnswer = "Blocked";
    dialog->newButton()->click();
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_NE(presenter.shown[0].find("Blocked.ipf could not be written"), std::string::npos);
    EXPECT_EQ(presenter.flagsShown[0], MessageFlags::kWarningOk);
    dialog->okButton()->click();
    ASSERT_EQ(presenter.shown.size(), 2u);
    EXPECT_NE(presenter.shown[1].find("The settings could not be saved"), std::string::npos);
}

class NewProfileDialogTest : public testing::ConfigDialogTest {};

TEST_F(NewProfileDialogTest, RefusalsTurnThePromptRedUntilTheNameChanges) {
    useProfiles({profile("test")});
    NewProfileDialog dialog(*store);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QString prompt = QStringLiteral("Please input a new profile name:");
    auto* label = dialog.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    const QColor normal = label->palette().color(QPalette::WindowText);
    EXPECT_EQ(dialog.promptText(), prompt);

    struct Case {
        const char* typed;
        const char* refusal;
    };
    const Case cases[] = {{"", "The name is empty,please input again!"},
                          {"a*b", "Characters /:*?\"<>|\\ can't be used in file name."},
                          {"..", "Characters /:*?\"<>|\\ can't be used in file name."},
                          {"Test", "The name is existed,please input again!"},
                          {"   ", "The name is empty,please input again!"},
                          {"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
                           "nnnnnnnnnnnnnnnnnnnn",
                           "The name is too long. Use at most 100 characters."}};
    for (const Case& c : cases) {
        dialog.nameEdit()->clear();
        QTest::keyClicks(dialog.nameEdit(), QString::fromUtf8(c.typed));
        QTest::keyClick(dialog.nameEdit(), Qt::Key_Return);  // OK is the default button
        EXPECT_TRUE(dialog.isVisible()) << c.typed;
        EXPECT_TRUE(dialog.showsError());
        EXPECT_EQ(dialog.promptText(), QString::fromUtf8(c.refusal));
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        EXPECT_TRUE(dialog.nameEdit()->hasFocus());
        QTest::keyClick(dialog.nameEdit(), Qt::Key_X);
        EXPECT_FALSE(dialog.showsError());
        EXPECT_EQ(dialog.promptText(), prompt);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), normal);
    }

    dialog.nameEdit()->setText(QStringLiteral("Tests"));
    dialog.okButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.name(), "Tests");
}

}  // namespace
}  // namespace kestrelle
