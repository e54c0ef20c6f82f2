// tavrin's test files and names through the main window: .VRL files loaded and saved, the
// values the edits then show and send, the name edit's rule, and fixed-seed runs of
// hostile test files and settings files. The simulated instrument is on COM5, the lowest
// port present, so the first after "NONE".
#include "MainWindowSupport.h"
#include "Mutator.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::string Fixture(const std::string& name)
{
    return ReadWholeFile("fixtures\\" + name);
}

// Bytes as a failure message can show them.
std::string Printable(const std::string& bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < 400; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        text += c >= ' ' && c < 0x7F ? std::string(1, static_cast<char>(c)) : escaped;
    }
    return bytes.size() > 400 ? text + "... (" + std::to_string(bytes.size()) + " bytes)" : text;
}

class Window : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        folder = FromUnixPath(EnvText("TAVRIN_PEER_DIR")) + "\\";
    }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = folder + name;
        WriteWholeFile(path, bytes);
        return path;
    }

    std::string folder;
};

class TestFile : public Window {
protected:
    void SetUp() override
    {
        Window::SetUp();
        Start();
    }
    // Through the Open dialog, as the user opens a file.
    bool Open(const std::string& path)
    {
        TDialogAnswerer answer("Open Program File", [&](HWND dialog) {
            HWND edit = GetDlgItem(dialog, 0x47C);  // the file name box
            if (!edit) edit = FindWindowExA(dialog, nullptr, "Edit", nullptr);
            SetWindowTextA(edit, path.c_str());
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
        form->OpenAct->Execute();
        return answer.answered;
    }
    // The grid as the window shows it, column 1.
    std::array<std::string, GridRowCount> GridShown() const
    {
        std::array<std::string, GridRowCount> rows;
        for (int row = 0; row < GridRowCount; ++row) rows[row] = form->ProgramStrGrd->Cells(1, row);
        return rows;
    }
};

std::string FileOf(const std::vector<std::string>& values)
{
    std::string text;
    for (size_t row = 0; row < values.size(); ++row) {
        text += GridCaptions[row];
        text += "\r\n";
        text += values[row];
        text += "\r\n";
    }
    return text;
}

const std::vector<std::string> Sample = {"1", "1", Local("12.5"), "30", Local("5.5"), Local("2"), "0",
                                         "3", "0", "1", "1", "01", "7", "BREAD"};

std::vector<std::string> SampleWith(int row, const std::string& value)
{
    std::vector<std::string> v = Sample;
    v[row] = value;
    return v;
}

TEST_F(TestFile, SavedAndLoadedBackByteForByte)
{
    const std::string in = Write("in.VRL", FileOf(Sample));
    ASSERT_TRUE(form->LoadTestParam(in, *form->ProgramStrGrd)) << (sink.Requests.empty() ? "" : sink.Requests[0].Text);
    const std::string out = folder + "out.VRL";
    ASSERT_TRUE(form->SaveTestParam(out, *form->ProgramStrGrd));
    EXPECT_EQ(ReadWholeFile(out), ReadWholeFile(in));
    EXPECT_EQ(form->Test().Mode(), 1);
    EXPECT_EQ(form->Test().Slot(), 7);
    EXPECT_EQ(form->Test().Name(), "BREAD");
    EXPECT_EQ(form->Test().LoadCell(), 1);
    EXPECT_FALSE(form->Test().Retrigger());
    EXPECT_TRUE(sink.Requests.empty());
}

TEST_F(TestFile, TheOpenDialogLoadsTheFileIntoTheControls)
{
    const std::string in = Write("open.VRL", FileOf(Sample));
    EXPECT_TRUE(Open(in));
    EXPECT_EQ(form->StatusBar1->Panels(1).Text(), in);
    EXPECT_EQ(form->LastFolder(), folder);
    EXPECT_EQ(form->Edit1->Text(), "BREAD");
    EXPECT_EQ(form->cbSlotNo->ItemIndex(), 7);
    EXPECT_EQ(form->loadcell_cb->ItemIndex(), 1);
    EXPECT_TRUE(form->rdoHoldToTime->Checked());
    EXPECT_EQ(form->nedt_targetval->Text(), Local("12.5"));
    EXPECT_EQ(form->nedt_targettime->Text(), "30");
    EXPECT_FALSE(form->CheckBox1->Checked());
    EXPECT_TRUE(sink.Requests.empty());
}

// The target's box has one decimal and a minimum of 0.1: a finer value from a file is
// what the box shows, checked and encoded, on the wire and in a later save.
TEST_F(TestFile, ALoadedValueIsShownSentAndSavedAsItsBoxShowsIt)
{
    const struct {
        const char* value;
        const char* shown;  // 0.06 shows 0.0, below the minimum by more than half a step
        const char* code;
    } cases[] = {{"0.06", "0.1", "000A"}, {"9.95", "9.9", "03DE"}, {"101.64", "101.6", "27B0"}};
    ASSERT_EQ(form->ComPortCb->Items()[1], EnvText("TAVRIN_TEST_COM"));
    form->ComPortCb->SetItemIndex(1);
    form->ComPortCb->OnChange(form->ComPortCb);
    for (const auto& c : cases) {
        ASSERT_TRUE(Open(Write("target.VRL", FileOf(SampleWith(2, Local(c.value))))));
        EXPECT_EQ(form->nedt_targetval->Text(), Local(c.shown)) << c.value;
        EXPECT_EQ(form->ProgramStrGrd->Cells(1, 2), Local(c.shown)) << c.value;
        EXPECT_EQ(form->Test().PGM().substr(11, 4), c.code) << c.value;
        const size_t sent = Transcript().size();
        form->Download->Execute();
        EXPECT_EQ(Transcript().substr(sent), "TXTHOST7\rTXTNAME01BREAD\r" + form->Test().PGM() + "\r") << c.value;
        const std::string saved = folder + "saved.VRL";
        ASSERT_TRUE(form->SaveTestParam(saved, *form->ProgramStrGrd));
        EXPECT_EQ(ReadWholeFile(saved), FileOf(SampleWith(2, Local(c.shown)))) << c.value;
    }
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

TEST_F(TestFile, MalformedFilesLeaveTheTestAndTheGridUntouched)
{
    auto with = [](int row, const std::string& value) { return FileOf(SampleWith(row, value)); };
    const std::string full = FileOf(Sample);
    const std::string lines27 = full.substr(0, full.rfind("BREAD"));  // ends with "Test Name:"
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"one line", "Test index:\r\n"},
        {"27 lines", lines27},
        {"30 lines", full + "Extra:\r\n1\r\n"},
        {"a bad number", with(2, "abc")},
        {"200,000 decimals", with(2, "12." + std::string(200000, '5'))},
        {"a line of a million digits", with(5, std::string(1 << 20, '7'))},
        {"a hold its box shows as 120", with(3, Local("12.0"))},
        {"load cell 9", with(10, "9")},
        {"mode 07", with(11, "07")},
        {"slot 12", with(12, "12")},
        {"return speed 2", with(6, "2")},
        {"a name with empty", with(13, "myEmpty")},
        {"a name with a control character", with(13, "BR\x01" "AD")},
        {"a name with a NUL", with(13, std::string("BRE\0AD", 6))},
        {"a NUL after the last line", full + std::string(1, '\0') + "junk"},
    };
    form->Edit1->SetText("KEEP");
    const auto before = form->Test().Grid();
    const std::string pgm = form->Test().PGM();
    for (const auto& c : cases) {
        sink.Requests.clear();
        const std::string path = Write("bad.VRL", c.bytes);
        const DWORD start = GetTickCount();
        EXPECT_FALSE(form->LoadTestParam(path, *form->ProgramStrGrd)) << c.what;
        EXPECT_LT(GetTickCount() - start, 1000u) << c.what;
        EXPECT_EQ(Texts(), std::vector<std::string>{"Error reading file!"}) << c.what;
        EXPECT_EQ(form->Test().PGM(), pgm) << c.what;
        EXPECT_EQ(form->Test().Grid(), before) << c.what;
        EXPECT_EQ(GridShown(), before) << c.what;
        EXPECT_EQ(form->ProgramStrGrd->RowCount(), GridRowCount) << c.what;
    }
}

// Files a user could have made that still describe a test.
TEST_F(TestFile, LenientFilesLoadWithTheirValuesMadeValid)
{
    std::string lf;
    for (char c : FileOf(Sample))
        if (c != '\r') lf += c;
    ASSERT_TRUE(form->LoadTestParam(Write("lf.VRL", lf), *form->ProgramStrGrd));
    EXPECT_EQ(form->Test().Name(), "BREAD");

    std::vector<std::string> v = Sample;
    v[13] = "TWELVECHARSX";
    v[1] = "0";    // Load: the program only makes distance tests
    v[2] = "500";  // beyond the target's range
    v[4] = DecimalSeparator == '.' ? "5,5" : "5.5";  // saved under the other locale
    ASSERT_TRUE(form->LoadTestParam(Write("long.VRL", FileOf(v)), *form->ProgramStrGrd));
    EXPECT_EQ(form->Test().Name(), "TWELVECH");
    EXPECT_EQ(form->Test().TargetType(), 1);
    EXPECT_EQ(form->Test().Text(nfTarget), Local("101.6"));
    EXPECT_EQ(form->Test().Text(nfTrigger), Local("5.5"));
    // The grid, and so a later save, holds what the test holds.
    EXPECT_EQ(form->ProgramStrGrd->Cells(1, 2), Local("101.6"));
    EXPECT_EQ(form->ProgramStrGrd->Cells(1, 1), "1");
    EXPECT_EQ(form->ProgramStrGrd->Cells(1, 13), "TWELVECH");
}

TEST_F(TestFile, TheNameEditRefusesEmptyAndControlCharacters)
{
    const char* const control = "Invalid name: a test name cannot hold control characters";
    const struct {
        const char* what;
        const char* typed;
        const char* message;  // nullptr: none
        const char* kept;
    } cases[] = {
        {"empty in any case", "myEmPty", "Invalid name", ""},
        {"a carriage return", "AB\rPGM", control, ""},
        {"DEL", "AB\x7F", control, ""},
        {"ANSI letters", "\xC9t\xE9", nullptr, "\xC9t\xE9"},
        {"blanks only", "   ", nullptr, "   "},
    };
    for (const auto& c : cases) {
        sink.Requests.clear();
        form->Edit1->SetText(c.typed);
        EXPECT_EQ(Texts(), c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{}) << c.what;
        EXPECT_EQ(form->Edit1->Text(), c.kept) << c.what;
        EXPECT_EQ(form->Test().Name(), c.kept) << c.what;
        EXPECT_EQ(form->ProgramStrGrd->Cells(1, 13), c.kept) << c.what;
    }
    EXPECT_TRUE(form->Test().NameIsEmpty()) << "blanks are no name to send";
}

// What the box of each numeric field would hold for the test's text: the same number.
void ExpectTheBoxesShowTheTest(const TTestModel& test, const std::string& label)
{
    auto trimmed = [](std::string s) {
        if (!s.empty() && s.back() == DecimalSeparator) s.pop_back();
        return s;
    };
    for (int f = 0; f < NumFieldCount; ++f) {
        const auto field = static_cast<TNumField>(f);
        EXPECT_EQ(trimmed(NumEditShown(test.Range(field).Mask, test.Text(field))), test.Text(field))
            << label << ", field " << f;
    }
}

// Hostile variants of three test files the program wrote: each is refused whole, or loads
// as a test that saves and loads back the same and whose boxes show what it holds.
TEST_F(TestFile, HostileVariantsAreRefusedWholeOrLoadAsTheySave)
{
    const std::string fixtures[] = {Fixture("hold.VRL"), Fixture("cycles.VRL"), Fixture("tpa.VRL")};
    for (const std::string& f : fixtures) {
        ASSERT_FALSE(f.empty());
        ASSERT_TRUE(form->LoadTestParam(Write("fixture.VRL", f), *form->ProgramStrGrd)) << Printable(f);
    }
    TMutator mutator(20240610, vlOddLines, {"1e308", "nan", "inf", "-0", "0x10", "-1", "99999999999", "1" + std::string(400, '0'),
                                "0.06", "9.95", "101.64", "1,5", "1.5.5", "+3", "", " ", "12.0", "BR\x01" "AD",
                                "A\x7F", "myEmpty", "ABCDEFGHIJKL", "\xC9t\xE9", "7", "04", "$1", "3 ", " 0"});
    int refused = 0, accepted = 0;
    const DWORD runStart = GetTickCount();
    for (int i = 0; i < 400 && !HasFailure(); ++i) {
        const std::string bytes = mutator.Mutate(fixtures[i % 3]);
        const std::string label = "variant " + std::to_string(i) + ": " + Printable(bytes);
        const auto before = form->Test().Grid();
        const std::string pgm = form->Test().PGM();
        sink.Requests.clear();
        const std::string path = Write("hostile.VRL", bytes);
        const DWORD start = GetTickCount();
        const bool loaded = form->LoadTestParam(path, *form->ProgramStrGrd);
        EXPECT_LT(GetTickCount() - start, 1000u) << label;
        if (!loaded) {
            ++refused;
            EXPECT_EQ(Texts(), std::vector<std::string>{"Error reading file!"}) << label;
            EXPECT_EQ(form->Test().PGM(), pgm) << label;
            EXPECT_EQ(form->Test().Grid(), before) << label;
        } else {
            ++accepted;
            EXPECT_TRUE(sink.Requests.empty()) << label;
            const auto grid = form->Test().Grid();
            const std::string line = form->Test().PGM();
            ASSERT_TRUE(form->SaveTestParam(folder + "saved.VRL", *form->ProgramStrGrd)) << label;
            ASSERT_TRUE(form->LoadTestParam(folder + "saved.VRL", *form->ProgramStrGrd)) << label;
            EXPECT_EQ(form->Test().Grid(), grid) << label;
            EXPECT_EQ(form->Test().PGM(), line) << label;
            EXPECT_EQ(line.size(), 25u) << label;
            EXPECT_FALSE(NameRefused(CheckName(form->Test().Name()))) << label;
            ExpectTheBoxesShowTheTest(form->Test(), label);
        }
        EXPECT_EQ(GridShown(), form->Test().Grid()) << label;
    }
    // A run that refused all or nothing would have tried little.
    EXPECT_GT(refused, 60);
    EXPECT_GT(accepted, 30);
    EXPECT_LT(GetTickCount() - runStart, 15000u);
}

class StoredSettings : public Window {};

const std::vector<std::string> HostileSettingsValues = {
    "1e308", "nan", "-0", "0x10", "0x2", "$3", "-1", "99999999999", "2147483648", "", " 2 ", "3abc", "\"2\"",
    "2;note", "6", "7", "1" + std::string(3000, '0'), std::string(3000, '0') + "1", "\xC9", "[KOVA]"};

// A fixed-seed run of the reading and checking start-up does, on many hostile files.
TEST_F(StoredSettings, HostileVariantsGiveIndicesTheListsHold)
{
    const std::string fixtures[] = {Fixture("tavrin.INI"), Fixture("tavrin_edited.INI")};
    const TStoredSettings plain = ReadStoredSettings(Write("plain.INI", fixtures[0]), 3);
    EXPECT_EQ(plain.PortIndex, 1);
    EXPECT_EQ(plain.LoadCell, 4);
    const TStoredSettings edited = ReadStoredSettings(Write("edited.INI", fixtures[1]), 3);
    EXPECT_EQ(edited.PortIndex, 2);
    EXPECT_EQ(edited.LoadCell, 3);
    TMutator mutator(20240611, vlKeyValue, HostileSettingsValues);
    const DWORD runStart = GetTickCount();
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const std::string bytes = mutator.Mutate(fixtures[i % 2]);
        const std::string label = "variant " + std::to_string(i) + ": " + Printable(bytes);
        // A name of its own: the profile API keeps what it read of a file it saw before.
        const std::string path = Write("hostile" + std::to_string(i) + ".INI", bytes);
        const DWORD start = GetTickCount();
        const TStoredSettings stored = ReadStoredSettings(path, 3);
        EXPECT_LT(GetTickCount() - start, 1000u) << label;
        EXPECT_GE(stored.PortIndex, 0) << label;
        EXPECT_LT(stored.PortIndex, 3) << label;
        EXPECT_GE(stored.LoadCell, 0) << label;
        EXPECT_LT(stored.LoadCell, LoadCellCount) << label;
        DeleteFileA(path.c_str());
    }
    EXPECT_LT(GetTickCount() - runStart, 15000u);
}

// A few of them start the window: it takes what the reader gives and says nothing.
TEST_F(StoredSettings, AFewHostileVariantsStartTheWindowAsTheReaderSays)
{
    std::vector<std::string> files = {Fixture("tavrin.INI"), Fixture("tavrin_edited.INI")};
    TMutator mutator(20240612, vlKeyValue, HostileSettingsValues);
    for (int i = 0; i < 4; ++i) files.push_back(mutator.Mutate(files[i % 2]));
    ForceDirectories(ExtractFilePath(settings));
    for (const std::string& bytes : files) {
        const std::string label = Printable(bytes);
        WriteWholeFile(settings, bytes);
        Start();
        const TStoredSettings stored = ReadStoredSettings(settings, form->ComPortCb->Items().Count());
        EXPECT_EQ(form->ComPortCb->ItemIndex(), stored.PortIndex) << label;
        EXPECT_EQ(form->loadcell_cb->ItemIndex(), stored.LoadCell) << label;
        EXPECT_EQ(form->Test().LoadCell(), stored.LoadCell) << label;
        const std::string port = form->ComPortCb->Items()[stored.PortIndex];
        EXPECT_EQ(form->CurrentPort(), port == "NONE" ? 0 : std::stoi(port)) << label;
        EXPECT_TRUE(sink.Requests.empty()) << label << ": " << sink.Requests[0].Text;
        delete form;
        form = nullptr;
    }
}

}  // namespace
