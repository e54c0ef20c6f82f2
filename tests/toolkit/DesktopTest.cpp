// Cases driven by the real mouse: they need the desktop to themselves.
#include "ActnList.h"
#include "GuiSupport.h"
#include "ShowcaseForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

namespace {

size_t IndexIn(const std::vector<std::string>& log, const std::string& entry)
{
    return std::find(log.begin(), log.end(), entry) - log.begin();
}

// Wine's input path can lose a synthesised click when the machine is loaded: the click is
// given again, up to three times, until the state it should bring holds.
testing::AssertionResult ClickUntil(TWinControl* control, const std::function<bool()>& done)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (testing::AssertionResult placed = ClickAt(control); !placed) return placed;
        if (PumpUntil(done, 2000)) return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "three clicks did not take";
}

class Desktop : public testing::Test {
protected:
    void SetUp() override
    {
        form = new TShowcaseForm(Application);
        form->Show();
        PumpPending();
    }
    void TearDown() override { delete form; }
    TShowcaseForm* form;
};

TEST_F(Desktop, LeavingAnEditRunsItsOnExitBeforeTheClickThatTookTheFocus)
{
    form->edit->SetFocus();
    PumpPending();
    form->Log.clear();
    ASSERT_TRUE(ClickUntil(form->button, [&] { return IndexIn(form->Log, "click Button1") < form->Log.size(); }));
    const size_t exit = IndexIn(form->Log, "exit Edit1");
    ASSERT_LT(exit, form->Log.size());
    EXPECT_LT(exit, IndexIn(form->Log, "enter Button1"));
    EXPECT_LT(exit, IndexIn(form->Log, "click Button1"));
}

TEST_F(Desktop, ClickedRadioButtonsExcludeEachOther)
{
    form->radioA->SetChecked(true);
    form->Log.clear();
    ASSERT_TRUE(ClickUntil(form->radioB, [&] { return form->radioB->Checked(); }));
    EXPECT_FALSE(form->radioA->Checked());
    EXPECT_EQ(SendMessageA(form->radioA->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_LT(IndexIn(form->Log, "click rdoTPA"), form->Log.size());
    ASSERT_TRUE(ClickUntil(form->radioA, [&] { return form->radioA->Checked(); }));
    EXPECT_FALSE(form->radioB->Checked());
}

// Ctrl+S on the keyboard, with the focus in an edit of the form, goes through the
// application's key filter to the form's action list. A letter typed after each chord
// shows when the keys have all been handled, and that the chord left no character behind.
TEST_F(Desktop, AShortcutTypedInTheFormRunsItsActionOnceAndNotWhileDisabled)
{
    auto* list = new TActionList(form);
    auto* save = new TAction(form);
    save->SetShortCut(ShortCut('S', scCtrl));
    list->Add(save);
    int executed = 0;
    save->OnExecute = [&](TObject* sender) {
        EXPECT_EQ(sender, save);
        ++executed;
    };
    form->edit->SetText("");
    form->button->SetFocus();
    PumpPending();
    ASSERT_TRUE(ClickUntil(form->edit, [&] { return GetFocus() == form->edit->Handle(); }));
    const auto chordThen = [&](char letter, const std::string& text) {
        if (testing::AssertionResult pressed = PressKeys({VK_CONTROL, 'S'}); !pressed) return pressed;
        if (testing::AssertionResult pressed = PressKeys({static_cast<WORD>(letter)}); !pressed) return pressed;
        if (PumpApplicationUntil([&] { return LowerCase(form->edit->Text()) == text; }))
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "the edit shows \"" << form->edit->Text() << "\"";
    };

    ASSERT_TRUE(chordThen('A', "a"));
    EXPECT_EQ(executed, 1);

    // Disabled from code, then by its own OnUpdate: the keys reach the form, the action stays still.
    save->SetEnabled(false);
    ASSERT_TRUE(chordThen('B', "ab"));
    EXPECT_EQ(executed, 1);
    save->SetEnabled(true);
    bool allowed = false;
    save->OnUpdate = [&](TObject*) { save->SetEnabled(allowed); };
    ASSERT_TRUE(chordThen('C', "abc"));
    EXPECT_EQ(executed, 1);

    allowed = true;
    ASSERT_TRUE(chordThen('D', "abcd"));
    EXPECT_EQ(executed, 2);
}

TEST_F(Desktop, AScreenshotOfTheFormIsSavedToLookAt)
{
    form->edit->SetText("TEST1");
    form->mask->SetText("12.5");
    form->check->SetChecked(true);
    form->radioA->SetChecked(true);
    form->memo->Lines().Add("Enter a trigger value in the range:");
    form->memo->Lines().Add("  0.1g  to  10g");
    form->edit->SetFocus();
    form->Update();
    PumpPending();
    RedrawWindow(form->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpPending();
    const std::string path = ArtifactPath("showcase.bmp");
    ASSERT_TRUE(SaveScreenshot(form->Handle(), path)) << path;
    EXPECT_EQ(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES, true);
}

}  // namespace
