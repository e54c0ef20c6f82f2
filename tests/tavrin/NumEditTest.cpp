#include "Forms.h"
#include "GuiSupport.h"
#include "NumEdit.h"
#include "StdCtrls.h"

#include <gtest/gtest.h>

namespace {

class NumEdit : public testing::Test {
protected:
    void SetUp() override
    {
        form = new TForm(Application);
        num = new TNumEdit(form);
        num->SetParent(form);
        num->SetName("nedt_targetval");
        other = new TEdit(form);
        other->SetParent(form);
        other->SetTop(40);
        form->Show();
        num->OnExit = [this](TObject*) { exits.push_back(num->Text()); };
        num->OnChange = [this](TObject*) { ++changes; };
    }
    void TearDown() override { delete form; }

    // Types into the box, then moves the focus away as a click elsewhere would.
    void EnterAndLeave(const std::string& text)
    {
        num->SetFocus();
        num->SetText(text);
        changes = 0;
        exits.clear();
        other->SetFocus();
        PumpPending();
    }

    TForm* form;
    TNumEdit* num;
    TEdit* other;
    std::vector<std::string> exits;
    int changes = 0;
};

TEST_F(NumEdit, TheExitCheckCorrectsInOrderAndWarns)
{
    const struct {
        const char* name;
        const char* mask;  // '.' stands for the locale's separator in masks, inputs and results
        double minimum, maximum, defVal;
        const char* input;
        const char* result;
        const char* message;  // nullptr: no correction
    } cases[] = {
        {"over the maximum, one decimal", "999.9;1;", 0.1, 101.6, 0.1, "101.7", "101.6",
         "Invalid entry. Entry must be between   0 and 101."},
        {"at the maximum, no decimals", "99;1;", 1, 99, 1, "99", "99", nullptr},
        {"the default under the minimum", "99.99;1;", 0.1, 10, 0, "0", "0.", nullptr},
        {"the separator alone", "999.9;1;", 0.1, 101.6, 0.1, ".", "0.1",
         "Invalid entry. Entry must be between   0 and 101."},
        {"speed over its range", "99.99;1;", 0.01, 10, 0.01, "50", "10.00",
         "Invalid entry. Entry must be between   0 and  10."},
        {"below the minimum", "9999;1", 1, 4095, 0, "0", "0", nullptr},
        {"hold below nothing", "99;1;", 1, 99, 1, "0", "1", "Invalid entry. Entry must be between   1 and  99."},
    };
    for (const auto& c : cases) {
        TRecordingSink sink;
        num->SetMask(Local(c.mask));
        num->SetMinimum(c.minimum);
        num->SetMaximum(c.maximum);
        num->SetDefVal(c.defVal);
        num->ShowMsg = true;
        EnterAndLeave(Local(c.input));
        EXPECT_EQ(num->Text(), Local(c.result)) << c.name;
        ASSERT_EQ(exits.size(), 1u) << c.name;
        EXPECT_EQ(exits[0], Local(c.result)) << c.name << ": the form's OnExit sees the corrected value";
        if (c.message) {
            ASSERT_EQ(sink.Requests.size(), 1u) << c.name;
            EXPECT_EQ(sink.Requests[0].Text, c.message) << c.name;
            EXPECT_EQ(sink.Requests[0].Caption, "Warning");
            EXPECT_GE(changes, 1) << c.name;
            EXPECT_TRUE(num->Focused()) << c.name << ": the focus comes back";
        } else {
            EXPECT_TRUE(sink.Requests.empty()) << c.name;
            EXPECT_TRUE(other->Focused()) << c.name;
        }
    }
}

TEST_F(NumEdit, WithoutShowMsgItCorrectsSilently)
{
    TRecordingSink sink;
    num->SetMask(Local("999.9;1;"));
    num->SetMinimum(0.1);
    num->SetMaximum(101.6);
    num->SetDefVal(0.1);
    num->ShowMsg = false;
    EnterAndLeave("500");
    EXPECT_EQ(num->Text(), Local("101.6"));
    EXPECT_TRUE(sink.Requests.empty());
    EXPECT_TRUE(num->Focused());
}

TEST_F(NumEdit, TwoInvalidBoxesDoNotFightOverTheFocus)
{
    auto* second = new TNumEdit(form);
    second->SetParent(form);
    second->SetTop(80);
    for (TNumEdit* e : {num, second}) {
        e->SetMask("99;1;");
        e->SetMinimum(1);
        e->SetMaximum(99);
        e->SetDefVal(1);
    }
    second->SetText("0");
    num->SetFocus();
    num->SetText("0");
    second->SetFocus();  // num's check corrects and asks for the focus back
    PumpPending();       // ends: the second box's own correction does not take it again
    EXPECT_TRUE(num->Focused());
    EXPECT_EQ(num->Text(), "1");
    EXPECT_EQ(second->Text(), "1");
}

TEST_F(NumEdit, PropertiesKeepTheirBounds)
{
    num->SetMask("99a;1;");
    EXPECT_EQ(num->Mask(), "9999999;1; ");
    num->SetMask("99.99;1;");
    EXPECT_EQ(num->Mask(), Local("99.99;1;"));
    EXPECT_EQ(num->Decimals(), 2);
    num->SetDefVal(0.5);
    EXPECT_EQ(num->Text(), Local("0.50"));
    num->SetMaximum(1e8);
    EXPECT_EQ(num->Maximum(), 9999999.0);
    num->SetMinimum(-1e8);
    EXPECT_EQ(num->Minimum(), -9999999.0);

    num->SetMinimum(10);
    num->SetMaximum(1);
    EnterAndLeave(Local("5"));
    EXPECT_EQ(num->Minimum(), 1);
    EXPECT_EQ(num->Maximum(), 10);
    EXPECT_EQ(num->Text(), Local("5."));

    TNumEdit fresh(nullptr);
    EXPECT_EQ(fresh.Mask(), "9999999;1; ");
    EXPECT_EQ(fresh.Maximum(), 9999999.0);
    EXPECT_EQ(fresh.Minimum(), -9999999.0);
    EXPECT_EQ(fresh.DefVal(), 0);
    EXPECT_EQ(fresh.Text(), "0");
}

TEST_F(NumEdit, ShowAtPlacesEnablesShowsAndFocuses)
{
    num->SetEnabled(false);
    num->SetVisible(false);
    num->ShowAt(120, 10, 60, 21);
    EXPECT_TRUE(num->Enabled());
    EXPECT_TRUE(IsWindowVisible(num->Handle()));
    EXPECT_TRUE(num->Focused());
    EXPECT_EQ(num->Left(), 120);
    EXPECT_EQ(num->Width(), 60);
}

}  // namespace
