#include "GuiSupport.h"
#include "Forms.h"
#include "Mask.h"

#include <gtest/gtest.h>

namespace {

TEST(MaskLayout, FormatPutsTextIntoTheSlotsAndReadDropsTheBlanks)
{
    const struct {
        const char* mask;
        const char* text;
        const char* shown;
        const char* read;
    } cases[] = {
        {"999.99;1;", "101.6", "101.6_", "101.6"},
        {"999.99;1;", "0.01", "0__.01", "0.01"},
        {"999.99;1;", "12", "12_.__", "12."},
        {"999.99;1;", "", "___.__", "."},
        {"999.9;1;", "5", "5__._", "5."},
        {"9999;1", "4095", "4095", "4095"},
        {"9999;1", "40x5", "405_", "405"},
        {"99;1;", "150", "15", "15"},
        {"9999999;1; ", "0", "0      ", "0"},
        {"999.99;0;", "1.5", "1__.5_", "15"},
        {"99\\.9;1;", "1.2", "1_.2", "1.2"},
        {"#999;1;", "-12", "-12_", "-12"},
        {"!9999;1;", "12", "12__", "12"},
    };
    for (const auto& c : cases) {
        const TMaskLayout layout(c.mask);
        EXPECT_EQ(layout.Format(c.text), c.shown) << c.mask << " <- " << c.text;
        EXPECT_EQ(layout.Read(c.shown), c.read) << c.mask << " -> " << c.shown;
    }
    EXPECT_EQ(TMaskLayout("9999999;1; ").Blank(), ' ');
    EXPECT_EQ(TMaskLayout("99.99;1;").Blank(), '_');
    EXPECT_TRUE(TMaskLayout("").Empty());
    EXPECT_FALSE(TMaskLayout("99;0;").SaveLiterals());
}

class MaskEdit : public testing::Test {
protected:
    void SetUp() override
    {
        form = new TForm(Application);
        edit = new TMaskEdit(form);
        edit->SetParent(form);
        edit->SetEditMask("999.99;1;");
        form->Show();
        edit->SetFocus();
    }
    void TearDown() override { delete form; }

    void TypeAt(int caret, const std::string& keys)
    {
        edit->SetSel(caret, 0);
        TypeChars(edit->Handle(), keys);
    }

    TForm* form;
    TMaskEdit* edit;
};

TEST_F(MaskEdit, TypedKeysFillTheirSlotsAndOthersAreRefused)
{
    TypeAt(0, "1x2.5a");
    EXPECT_EQ(edit->EditText(), "12_.5_");
    EXPECT_EQ(edit->Text(), "12.5");
    TypeAt(0, "999999999");  // past the last slot: refused
    EXPECT_EQ(edit->EditText(), "999.99");

    edit->SetText("");
    TypeAt(0, ".25");  // the separator jumps to the decimals
    EXPECT_EQ(edit->Text(), ".25");

    edit->SetText("101.66");
    edit->SetSel(6, 0);
    TypeChars(edit->Handle(), "\b\b");  // backspace clears slots, skipping the literal
    EXPECT_EQ(edit->EditText(), "101.__");
    TypeChars(edit->Handle(), "\b");
    EXPECT_EQ(edit->EditText(), "10_.__");
    edit->SetSel(0, 3);
    TypeChars(edit->Handle(), "7");  // a selection is cleared, then typed over
    EXPECT_EQ(edit->EditText(), "7__.__");
    edit->SetSel(0, 0);
    SendMessageA(edit->Handle(), WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(edit->Text(), ".");
}

TEST_F(MaskEdit, AKeyTheKeyEventClearsIsNotTyped)
{
    edit->OnKeyPress = [](TObject*, char& key) {
        if (key == '5') key = 0;
    };
    TypeAt(0, "151");
    EXPECT_EQ(edit->Text(), "11.");
}

TEST_F(MaskEdit, AMaskChangeKeepsWhatFits)
{
    edit->SetText("12.34");
    edit->SetEditMask("9999;1");  // the separator fits nowhere now and is dropped
    EXPECT_EQ(edit->Text(), "1234");
    edit->SetEditMask("99.9;1;");
    EXPECT_EQ(edit->Text(), "12.3");
    edit->SetEditMask("");
    EXPECT_FALSE(edit->IsMasked());
    edit->SetText("free text");
    EXPECT_EQ(edit->Text(), "free text");
}

}  // namespace
