#include "SetupSettings.h"

#include "ScratchFolder.h"
#include "system_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string narrow(std::wstring_view s)
{
    std::string out;
    for (const wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// What the settings hold beyond their defaults, in a fixed order, so a row names only what it sets.
std::string describe(const CSetupSettings& s)
{
    std::string out;
    const auto add = [&](const std::string& item) {
        if (!out.empty()) out += ' ';
        out += item;
    };
    const auto text = [&](const char* name, const zString& value) {
        if (!value.empty()) add(std::string(name) + "=" + narrow(value.view()));
    };
    const struct {
        const char* name;
        bool value;
    } flags[] = {
        {"reboot", s.reboot}, {"s", s.silent}, {"auto", s.automatic}, {"no_engine", s.no_engine},
        {"hide_progress", s.hide_progress}, {"hide_splash", s.hide_splash}, {"hide_usd", s.hide_usd},
        {"package", s.package}, {"no_deleter", s.no_deleter}, {"no_selfdeleter", s.no_selfdeleter},
        {"runfromtemp", s.runfromtemp}, {"clone_wait", s.clone_wait}, {"web", s.media_on_web},
        {"tempdisk1folder", s.tempdisk1folder_given}, {"extract_all", s.extract_all_given},
        {"show_err_dlg", s.show_err_dlg}, {"show_err_msg", s.show_err_msg},
        {"show_err_msg_invalid_identity", s.show_err_msg_invalid_identity}, {"QV_temp", s.qv_temp},
    };
    for (const auto& flag : flags)
        if (flag.value) add(flag.name);
    if (s.requested_language) add("l=" + std::to_string(s.requested_language));
    if (s.delayed_start) add("delayedstart=" + std::to_string(s.delayed_start));
    text("ig", s.install_guid);
    text("f2", s.result_file);
    text("media", s.media_folder);
    text("disk1", s.GetDisk1Folder());
    text("original", s.original_launcher);
    return out;
}

std::string parse_options(const wchar_t* line, std::string* remainder)
{
    CSetupSettings settings;
    zString commandLine(line);
    settings.ParseOptions(commandLine);
    *remainder = narrow(commandLine.view());
    return describe(settings);
}

struct OptionRow {
    const char* name;
    const wchar_t* line;
    const char* fields;
    const char* remainder;
};

TEST(ParseOptions, TheOptionTable)
{
    const OptionRow rows[] = {
        {"l with hex after 0x", L"-l0x409", "l=1033", ""},
        {"L with a slash and decimal", L"/L1033", "l=1033", ""},
        {"the later l wins", L"-l0x0407 -l1036", "l=1036", ""},
        {"l followed by no number is another option", L"-log -lang:de", "", "-log -lang:de"},
        {"ig", L"-ig{0C4D1A2B-0000-4000-8000-00AA00BB00CC}", "ig={0C4D1A2B-0000-4000-8000-00AA00BB00CC}", ""},
        {"no_engine", L"-no_engine", "no_engine", ""},
        {"no_engine is exact", L"-no_engine2", "", "-no_engine2"},
        {"s", L"-s", "s", ""},
        {"S with a slash", L"/S", "s", ""},
        {"s is the whole name: -skin", L"-skin", "", "-skin"},
        {"s is the whole name: -show_err_msg", L"-show_err_msg", "show_err_msg", ""},
        {"s takes no value", L"-s1", "", "-s1"},
        {"auto", L"-auto", "auto", ""},
        {"auto is the whole name", L"-autox -automatic", "", "-autox -automatic"},
        {"the hide options", L"-hide_progress -hide_splash -hide_usd", "hide_progress hide_splash hide_usd", ""},
        {"reboot anywhere", L"first -x -reboot last", "reboot", "first -x last"},
        {"reboot is the whole name", L"-rebooted", "", "-rebooted"},
        {"package:", L"-package:", "package", ""},
        {"package: with a text after it", L"-package:yes", "package", ""},
        {"package without its colon is another option", L"-package", "", "-package"},
        {"f2 with a quoted path", L"-f2\"C:\\Result Files\\r.log\"", "f2=C:\\Result Files\\r.log", ""},
        {"the deleter options", L"-no_deleter -no_selfdeleter -clone_wait", "no_deleter no_selfdeleter clone_wait", ""},
        {"show_err_dlg", L"-show_err_dlg", "show_err_dlg", ""},
        {"the identity variant is not show_err_msg", L"-show_err_msg_invalid_identity",
         "show_err_msg_invalid_identity", ""},
        {"the early switches are taken and set nothing here",
         L"-delayedstart:5 -tempdisk1folder:\"C:\\t d\\\" -extract_all:\"C:\\x\\\" -media_path:\"C:\\m m\\\" "
         L"-installfromweb:http://h/p/ -runfromtemp -QV_temp",
         "", ""},
        {"the original launcher reaches the engine", L"-s -QV_OriginalLauncher:\"C:\\o\\setup.exe\"", "s",
         "-QV_OriginalLauncher:\"C:\\o\\setup.exe\""},
        {"unknown options reach the engine unchanged", L"-foo=1 /bar \"quoted arg\" plain",
         "", "-foo=1 /bar \"quoted arg\" plain"},
        {"blanks collapse and the ends lose tabs and line feeds", L"  -s   engine1\t  -auto  two\n", "s auto",
         "engine1\t two"},
        {"case of every name is ignored", L"-HIDE_SPLASH /Reboot -No_Deleter", "reboot hide_splash no_deleter", ""},
    };
    for (const OptionRow& row : rows) {
        std::string remainder;
        EXPECT_EQ(parse_options(row.line, &remainder), row.fields) << row.name;
        EXPECT_EQ(remainder, row.remainder) << row.name;
    }
}

TEST(ParseOptions, EachFlagOfTheTableAloneSetsOnlyItsFlag)
{
    // No name is the start of another's argument: "-show_err_msg" is not "-s", nor is
    // "-show_err_msg_invalid_identity" "-show_err_msg".
    for (const COptionRow& row : SetupOptionTable()) {
        if (!row.flag) continue;
        CSetupSettings settings;
        zString line = zString(L"-") + row.name;
        settings.ParseOptions(line);
        EXPECT_TRUE(settings.*row.flag) << narrow(row.name);
        EXPECT_TRUE(line.empty()) << narrow(row.name);
        int set = 0;
        for (const COptionRow& other : SetupOptionTable())
            if (other.flag && settings.*other.flag) ++set;
        EXPECT_EQ(set, 1) << narrow(row.name);
    }
}

struct SwitchRow {
    const char* name;
    const wchar_t* line;
    const char* fields;
};

TEST(ParseLauncherSwitches, TheEarlySwitches)
{
    const SwitchRow rows[] = {
        {"the launcher's folder is the media folder", L"", "media=C:\\media\\"},
        {"delayedstart", L"-delayedstart:7", "delayedstart=7 media=C:\\media\\"},
        {"a negative delay is none", L"-delayedstart:-3", "media=C:\\media\\"},
        {"a delay that is no number is none", L"-delayedstart:soon", "media=C:\\media\\"},
        {"tempdisk1folder: quotes removed, backslash kept", L"-tempdisk1folder:\"C:\\Temp\\d 1\\\"",
         "tempdisk1folder media=C:\\media\\ disk1=C:\\Temp\\d 1\\"},
        {"tempdisk1folder after extract_all wins", L"-extract_all:\"C:\\x\\\" -tempdisk1folder:\"C:\\t\\\"",
         "tempdisk1folder extract_all media=C:\\media\\ disk1=C:\\t\\"},
        {"extract_all after tempdisk1folder wins", L"-tempdisk1folder:\"C:\\t\\\" -extract_all:\"C:\\x\\\"",
         "tempdisk1folder extract_all media=C:\\media\\ disk1=C:\\x\\"},
        {"a Disk1 folder without its backslash gets one", L"-extract_all:C:\\x", "extract_all media=C:\\media\\ disk1=C:\\x\\"},
        {"tempdisk1folder without a folder is not given", L"-tempdisk1folder: -extract_all:\"\"", "media=C:\\media\\"},
        {"the launcher flags", L"-runfromtemp -QV_temp -s -auto -no_engine",
         "s auto no_engine runfromtemp QV_temp media=C:\\media\\"},
        {"s and auto are whole names here too", L"-show_err_msg -skin -autorun", "media=C:\\media\\"},
        {"media_path with blanks", L"-media_path:\"C:\\My Media\\\"", "media=C:\\My Media\\"},
        {"an empty media_path keeps the launcher's folder", L"-media_path:\"\"", "media=C:\\media\\"},
        {"media_path without a backslash gets one", L"-media_path:D:\\pkg", "media=D:\\pkg\\"},
        {"installfromweb", L"-installfromweb:http://host/pkg/", "web media=http://host/pkg/"},
        {"installfromweb over media_path", L"-installfromweb:ftp://h/p/ -media_path:\"C:\\m\\\"", "web media=ftp://h/p/"},
        {"an https media path is on the web", L"-media_path:https://host/pkg/", "web media=https://host/pkg/"},
        {"a file URL becomes a local path", L"-media_path:file:///D:/my%20pkg/", "media=D:\\my pkg\\"},
        {"a file URL of a share", L"-media_path:\"file://server/share/pkg/\"", "media=\\\\server\\share\\pkg\\"},
        {"the original launcher", L"-QV_OriginalLauncher:\"C:\\dl\\setup.exe\"",
         "media=C:\\media\\ original=C:\\dl\\setup.exe"},
    };
    for (const SwitchRow& row : rows) {
        CSetupSettings settings;
        settings.ParseLauncherSwitches(L"C:\\media\\setup.exe", row.line);
        EXPECT_EQ(describe(settings), row.fields) << row.name;
        EXPECT_EQ(settings.GetLauncherPath(), L"C:\\media\\setup.exe") << row.name;
    }
}

TEST(GetRelaunchSwitches, RebuildsTheSwitchesOfThisRun)
{
    struct Row {
        const char* name;
        const wchar_t* launcher;
        const wchar_t* line;
        const char* switches;
    } rows[] = {
        {"a plain run has none", L"C:\\media\\setup.exe", L"-s", ""},
        {"the temporary copy", L"C:\\Temp\\d1\\setup.exe",
         L"-s -no_selfdeleter -QV_temp -media_path:\"C:\\media\\\" -tempdisk1folder:\"C:\\Temp\\d1\\\" "
         L"-QV_OriginalLauncher:\"C:\\media\\setup.exe\"",
         "-QV_temp -no_selfdeleter -tempdisk1folder:\"C:\\Temp\\d1\\\" -media_path:\"C:\\media\\\" "
         "-QV_OriginalLauncher:\"C:\\media\\setup.exe\""},
        {"runfromtemp and package", L"C:\\media\\setup.exe", L"-runfromtemp -package:",
         "-runfromtemp -package:"},
        {"media on the web", L"C:\\media\\setup.exe", L"-installfromweb:http://h/p/", "-media_path:\"http://h/p/\""},
    };
    for (const Row& row : rows) {
        CSetupSettings settings;
        settings.ParseLauncherSwitches(row.launcher, row.line);
        zString options(row.line);
        settings.ParseOptions(options);
        const zString switches = settings.GetRelaunchSwitches();
        EXPECT_EQ(narrow(switches.view()), row.switches) << row.name;

        // The switches bring a restarted launcher to the same place.
        CSetupSettings again;
        again.ParseLauncherSwitches(row.launcher, switches);
        zString rest = switches;
        again.ParseOptions(rest);
        EXPECT_EQ(again.GetRelaunchSwitches(), switches) << row.name;
        EXPECT_EQ(again.media_folder, settings.media_folder) << row.name;
        EXPECT_EQ(again.media_on_web, settings.media_on_web) << row.name;
    }
}

TEST(ChooseSetupLanguage, TheFirstOfferedCandidateThenItsPrimaryLanguage)
{
    const CExactLanguageMatch none;
    const CExactLanguageMatch all = ParseExactLanguageMatch(L"Yes");
    const CExactLanguageMatch chinese = ParseExactLanguageMatch(L"0x0404 0x0804");
    struct Row {
        const char* name;
        std::vector<LANGID> candidates;  // l, Default, system
        std::vector<LANGID> offered;
        const CExactLanguageMatch& exact;
        LANGID expected;
    } rows[] = {
        {"nothing offered: the option", {0x40c, 0x409, 0x407}, {}, none, 0x40c},
        {"nothing offered and nothing asked: English", {0, 0, 0}, {}, none, 0x409},
        {"nothing offered: Default without the option", {0, 0x407, 0x409}, {}, none, 0x407},
        {"the option when offered", {0x40c, 0x409, 0x407}, {0x409, 0x407, 0x40c}, none, 0x40c},
        {"the option not offered: Default", {0x411, 0x407, 0x409}, {0x409, 0x407}, none, 0x407},
        {"the system's language last", {0, 0, 0x407}, {0x409, 0x407}, none, 0x407},
        {"an earlier candidate's primary language before a later exact one", {0x807, 0, 0x409}, {0x409, 0x407},
         none, 0x407},
        {"exact for all: the later exact candidate", {0x807, 0, 0x409}, {0x407, 0x409}, all, 0x409},
        {"the primary language when no candidate is offered", {0x807, 0, 0x411}, {0x409, 0x407}, none, 0x407},
        {"exact matching for all: the first offered", {0x807, 0, 0x411}, {0x409, 0x407}, all, 0x409},
        {"exact only for the listed languages", {0x404, 0, 0x1009}, {0x804, 0x40c, 0x409}, chinese, 0x409},
        {"not listed: a sublanguage will do", {0x1009, 0, 0}, {0x40c, 0x409}, chinese, 0x409},
        {"no candidate fits: the first offered", {0x411, 0, 0x412}, {0x407, 0x409}, none, 0x407},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ChooseSetupLanguage(row.candidates, row.offered, row.exact), row.expected) << row.name;
}

TEST(ParseExactLanguageMatch, YesForAllElseTheListedLanguages)
{
    EXPECT_TRUE(ParseExactLanguageMatch(L"Y").all);
    EXPECT_TRUE(ParseExactLanguageMatch(L"true").all);
    EXPECT_FALSE(ParseExactLanguageMatch(L"No").all);
    EXPECT_FALSE(ParseExactLanguageMatch(L"").Requires(0x407));
    const CExactLanguageMatch listed = ParseExactLanguageMatch(L"0x0404,0x0804");
    EXPECT_TRUE(listed.Requires(0x0c04));  // Hong Kong Chinese: the primary language is listed
    EXPECT_FALSE(listed.Requires(0x0407));
}

// setup.ini in a folder of the case's own.
class setup_ini {
public:
    explicit setup_ini(const char* text) : folder_(L"settings")
    {
        const std::string content(text);
        path_ = folder_.write(L"setup.ini", std::vector<unsigned char>(content.begin(), content.end()));
    }
    zString path() const { return zString(path_); }

private:
    scratch_folder folder_;
    std::wstring path_;
};

std::string read_fields(const CSetupSettings& s)
{
    std::string out;
    const auto add = [&](const char* name, const std::string& value) {
        if (!out.empty()) out += ' ';
        out.append(name).append("=").append(value);
    };
    add("code", narrow(s.ProductCode.view()));
    add("product", narrow(s.Product.view()));
    add("splash", std::to_string(s.SplashTime));
    add("script", std::to_string(s.ScriptDriven));
    add("media_format", std::to_string(s.MediaFormat));
    add("all_users", std::to_string(s.AllUsers));
    add("launcher", narrow(s.LauncherName.view()));
    add("language", std::to_string(s.language));
    std::string offered;
    for (const LANGID id : s.languages) offered.append(std::to_string(id)).append(",");
    add("offered", offered);
    if (s.EnableLangDlg) out.append(" dialog");
    for (const zString* text : {&s.CompanyName, &s.CompanyURL, &s.Skin, &s.InstallGUID})
        if (!text->empty()) out.append(" ").append(narrow(text->view()));
    return out;
}

TEST(ReadSettings, StartupAndLanguages)
{
    struct Row {
        const char* name;
        const char* ini;
        const char* fields;
    } rows[] = {
        {"defaults", "[Startup]\r\n[Languages]\r\nDefault=0x409\r\n",
         "code= product= splash=5 script=0 media_format=0 all_users=0 launcher=setup.exe language=1033 "
         "offered=1033,"},
        {"the Startup keys",
         "[Startup]\r\nProduct=Widget\r\nProductCode={PC}\r\nSplashTime=3\r\nAllUsers=1\r\nLauncherName=go.exe\r\n"
         "CompanyName=Acme\r\nCompanyURL=http://acme/\r\nSkin=blue\r\nInstallGUID={IG}\r\n"
         "[Languages]\r\nDefault=0x0409\r\n",
         "code={PC} product=Widget splash=3 script=0 media_format=0 all_users=1 launcher=go.exe language=1033 "
         "offered=1033, Acme http://acme/ blue {IG}"},
        {"ScriptDriven 4 takes ProductGUID and MediaFormat",
         "[Startup]\r\nScriptDriven=4\r\nProductGUID={G4}\r\nProductCode={PC}\r\nMediaFormat=2\r\n"
         "[Languages]\r\nDefault=1033\r\n",
         "code={G4} product= splash=5 script=4 media_format=2 all_users=0 launcher=setup.exe language=1033 "
         "offered=1033,"},
        {"otherwise ProductCode, and MediaFormat is not read",
         "[Startup]\r\nScriptDriven=1\r\nProductGUID={G4}\r\nProductCode={PC}\r\nMediaFormat=2\r\n"
         "[Languages]\r\nDefault=1033\r\n",
         "code={PC} product= splash=5 script=1 media_format=0 all_users=0 launcher=setup.exe language=1033 "
         "offered=1033,"},
        {"a negative splash time is none", "[Startup]\r\nSplashTime=-2\r\n[Languages]\r\nDefault=0x409\r\n",
         "code= product= splash=0 script=0 media_format=0 all_users=0 launcher=setup.exe language=1033 offered=1033,"},
        {"Default among the supported", "[Languages]\r\nDefault=0x0407\r\nSupported=0x0409,0x0407\r\nEnableLangDlg=Y\r\n",
         "code= product= splash=5 script=0 media_format=0 all_users=0 launcher=setup.exe language=1031 "
         "offered=1033,1031, dialog"},
        {"a Default that is not offered gives way", "[Languages]\r\nDefault=0x0411\r\nSupported=0x040c\r\n",
         "code= product= splash=5 script=0 media_format=0 all_users=0 launcher=setup.exe language=1036 "
         "offered=1036,"},
    };
    for (const Row& row : rows) {
        const setup_ini ini(row.ini);
        CSetupSettings settings;
        zString line;
        ASSERT_TRUE(settings.ReadSettings(ini.path(), line)) << row.name;
        EXPECT_EQ(read_fields(settings), row.fields) << row.name;
        EXPECT_EQ(settings.GetSetupIniPath(), ini.path()) << row.name;
    }
}

TEST(ReadSettings, WithoutADefaultTheSystemsLanguageIsTaken)
{
    const setup_ini ini("[Startup]\r\n");
    CSetupSettings settings;
    zString line;
    ASSERT_TRUE(settings.ReadSettings(ini.path(), line));
    EXPECT_EQ(settings.GetLanguage(), qv::GetUiLanguage());
}

TEST(ReadSettings, TheCommandLineAfterThePackagesCmdline)
{
    struct Row {
        const char* name;
        const char* ini;
        const wchar_t* line;
        const char* fields;
        LANGID language;
        const char* remainder;
        const char* pass_through;
    } rows[] = {
        {"both parts set their options, both rests reach the engine",
         "[Startup]\r\ncmdline=-hide_splash -engineopt\r\n[Languages]\r\nDefault=0x409\r\n", L"-s -other", "s hide_splash",
         0x409, "-other", " -engineopt -other"},
        {"the command line's language wins",
         "[Startup]\r\ncmdline=-l1031\r\n[Languages]\r\nSupported=0x0409,0x0407,0x040c\r\n", L"/L0x040c", "l=1036",
         0x40c, "", ""},
        {"the package's language without one on the command line",
         "[Startup]\r\ncmdline=-l1031\r\n[Languages]\r\nSupported=0x0409,0x0407\r\n", L"x", "l=1031", 0x407, "x",
         " x"},
        {"an option language that is not offered gives way to Default",
         "[Languages]\r\nDefault=0x0409\r\nSupported=0x0409,0x0407\r\n", L"-l0x040c", "l=1036", 0x409, "", ""},
        {"its sublanguage is offered", "[Languages]\r\nDefault=0x0409\r\nSupported=0x0409,0x0407\r\n", L"-l0x0807",
         "l=2055", 0x407, "", ""},
        {"unless the match must be exact",
         "[Languages]\r\nDefault=0x0409\r\nSupported=0x0409,0x0407\r\nRequireExactLangMatch=Y\r\n", L"-l0x0807",
         "l=2055", 0x409, "", ""},
    };
    for (const Row& row : rows) {
        const setup_ini ini(row.ini);
        CSetupSettings settings;
        zString line(row.line);
        ASSERT_TRUE(settings.ReadSettings(ini.path(), line)) << row.name;
        EXPECT_EQ(describe(settings), row.fields) << row.name;
        EXPECT_EQ(settings.GetLanguage(), row.language) << row.name;
        EXPECT_EQ(narrow(line.view()), row.remainder) << row.name;
        EXPECT_EQ(narrow(settings.pass_through_arguments.view()), row.pass_through) << row.name;
        EXPECT_EQ(settings.engine_arguments, settings.pass_through_arguments) << row.name;
    }
}

TEST(ReadSettings, TheUninstallKeyOfTheProduct)
{
    const setup_ini with("[Startup]\r\nProductCode={11111111-2222-3333-4444-555555555555}\r\n");
    CSetupSettings settings;
    zString line;
    ASSERT_TRUE(settings.ReadSettings(with.path(), line));
    EXPECT_EQ(settings.GetUninstallKey(),
              L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{11111111-2222-3333-4444-555555555555}");

    // Without a product code there is no key: the branch itself must never be named.
    const setup_ini without("[Startup]\r\nProduct=Widget\r\n");
    CSetupSettings other;
    ASSERT_TRUE(other.ReadSettings(without.path(), line));
    EXPECT_TRUE(other.GetUninstallKey().empty());
}

TEST(ReadSettings, RightToLeftLanguages)
{
    const setup_ini ini("[Languages]\r\nRTLLangs=0x040d,0x0001\r\n");
    CSetupSettings settings;
    zString line;
    ASSERT_TRUE(settings.ReadSettings(ini.path(), line));
    EXPECT_TRUE(settings.IsRtlLanguage(0x040d));
    EXPECT_TRUE(settings.IsRtlLanguage(0x0401));  // an Arabic, through the primary-language entry
    EXPECT_TRUE(settings.IsRtlLanguage(0x0c01));
    EXPECT_FALSE(settings.IsRtlLanguage(0x0409));
    EXPECT_FALSE(settings.IsRtlLanguage(0x080d));  // not listed, and 0x0d alone is not
}

TEST(ReadSettings, ASetupIniThatCannotBeReadFailsAndLeavesTheCommandLine)
{
    scratch_folder folder(L"settings");
    const std::string broken = "Product=before any section\r\n";
    const std::wstring unreadable =
        folder.write(L"broken.ini", std::vector<unsigned char>(broken.begin(), broken.end()));
    for (const std::wstring& path : {folder.join(L"missing.ini"), unreadable}) {
        CSetupSettings settings;
        zString line(L"-s -l1031 -x");
        EXPECT_FALSE(settings.ReadSettings(zString(path), line));
        EXPECT_EQ(line, L"-s -l1031 -x");
        EXPECT_FALSE(settings.silent);
        EXPECT_EQ(settings.GetLanguage(), 0);
    }
}

TEST(ReadSettings, ErrorReportUrlHasTheMakersDefault)
{
    const setup_ini plain("[Startup]\r\n");
    CSetupSettings settings;
    zString line;
    ASSERT_TRUE(settings.ReadSettings(plain.path(), line));
    EXPECT_NE(settings.GetErrorReportUrl().find(L"?ErrorCode=%d : 0x%x&ErrorInfo=%s"), zString::npos);

    const setup_ini own("[Startup]\r\nErrorReportURL=http://acme/report?ErrorCode=%d : 0x%x&ErrorInfo=%s\r\n");
    CSetupSettings other;
    ASSERT_TRUE(other.ReadSettings(own.path(), line));
    EXPECT_EQ(other.GetErrorReportUrl(), L"http://acme/report?ErrorCode=%d : 0x%x&ErrorInfo=%s");
    EXPECT_EQ(other.GetSetupIniString(L"Startup", L"ErrorReportURL"), other.GetErrorReportUrl());
    EXPECT_TRUE(other.GetSetupIniString(L"Startup", L"Missing").empty());
}

TEST(CSetupSettings, TheInstallGuidOfTheOptionBeforeSetupIni)
{
    const setup_ini ini("[Startup]\r\nInstallGUID={FROM-INI}\r\n");
    CSetupSettings settings;
    zString line;
    ASSERT_TRUE(settings.ReadSettings(ini.path(), line));
    EXPECT_EQ(settings.GetInstallGuid(), L"{FROM-INI}");
    line = L"-ig{FROM-OPTION}";
    settings.ParseOptions(line);
    EXPECT_EQ(settings.GetInstallGuid(), L"{FROM-OPTION}");
}

// The language files of tests/setup/fixtures/languages: 0x0407.ini (a font, some texts, no
// 1834), 0x040c.ini, 0x0409.ini (language names only).
zString fixture_setup_ini()
{
    wchar_t full[MAX_PATH];
    GetFullPathNameW(L"fixtures\\languages\\setup.ini", MAX_PATH, full, nullptr);
    return zString(full);
}

class LocalizedStrings : public testing::Test {
protected:
    void SetUp() override
    {
        settings.setup_ini_path = fixture_setup_ini();
        ASSERT_NE(GetFileAttributesW(settings.setup_ini_path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    CSetupSettings settings{GetModuleHandleW(nullptr)};
};

TEST_F(LocalizedStrings, TheLanguageFileThenTheStringTable)
{
    struct Row {
        const char* name;
        LANGID language;
        UINT id;
        const wchar_t* expected;
    } rows[] = {
        {"the language file's text", 0x407, 1835, L"< &Zurueck"},
        {"a key the file lacks: the string table", 0x407, 1834, L"&Next >"},
        {"English without a section of its own", 0x409, 1834, L"&Next >"},
        {"a language without a file", 0x411, 1822, L"Cancel"},
        {"a text in no table at all", 0x407, 4000, L""},
    };
    for (const Row& row : rows) {
        settings.SetLanguage(row.language);
        EXPECT_EQ(settings.LoadLocalizedString(row.id), row.expected) << row.name;
    }
}

TEST_F(LocalizedStrings, WithoutSetupIniNoFileIsLookedFor)
{
    settings.setup_ini_path.clear();
    settings.SetLanguage(0x407);
    EXPECT_TRUE(settings.GetLanguageFilePath(0x407).empty());
    EXPECT_EQ(settings.LoadLocalizedString(1834), L"&Next >");
}

TEST_F(LocalizedStrings, FormatLocalizedString)
{
    settings.SetLanguage(0x407);
    EXPECT_EQ(settings.FormatLocalizedString(1887, L"Widget"), L"Widget - Installationsassistent");
    settings.SetLanguage(0x409);
    EXPECT_EQ(settings.FormatLocalizedString(1887, L"Widget"), L"Widget - Corvane Wizard");
}

TEST_F(LocalizedStrings, FontsOfTheLanguageFile)
{
    struct Row {
        const char* name;
        LANGID language;
        const wchar_t* font;
        WORD size;
    } rows[] = {
        {"the file's font", 0x407, L"Arial", 9},
        {"a file without Properties", 0x409, L"Tahoma", 8},
        {"no file", 0x411, L"Tahoma", 8},
        {"a size below one is the default", 0x40c, L"Tahoma", 8},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(settings.GetFontName(row.language), row.font) << row.name;
        EXPECT_EQ(settings.GetFontSize(row.language), row.size) << row.name;
        settings.SetLanguage(row.language);
        EXPECT_EQ(settings.GetFontName(), row.font) << row.name;
        EXPECT_EQ(settings.GetFontSize(), row.size) << row.name;
    }
}

TEST_F(LocalizedStrings, LanguageDisplayNames)
{
    wchar_t system_name[260] = L"";
    ASSERT_GT(VerLanguageNameW(0x0413, system_name, 260), 0u);
    struct Row {
        const char* name;
        LANGID current;
        LANGID language;
        std::wstring expected;
    } rows[] = {
        {"the current language's file", 0x407, 0x407, L"Deutsch"},
        {"the current file before the English one", 0x407, 0x409, L"Englisch"},
        {"the language's own file", 0x407, 0x40c, L"Francais"},
        {"the English file last", 0x407, 0x410, L"Italian"},
        {"the own file from English", 0x409, 0x407, L"Deutsch"},
        {"in no file: the system's name", 0x407, 0x413, system_name},
    };
    for (const Row& row : rows) {
        settings.SetLanguage(row.current);
        EXPECT_EQ(settings.GetLanguageDisplayName(row.language).str(), row.expected) << row.name;
    }
}

TEST(FormatText, TextArgumentsOnly)
{
    struct Row {
        const char* name;
        const wchar_t* format;
        const wchar_t *a1, *a2, *a3;
        const wchar_t* expected;
    } rows[] = {
        {"an empty template", L"", L"a", nullptr, nullptr, L""},
        {"one argument", L"%s - Corvane Wizard", L"Widget", nullptr, nullptr, L"Widget - Corvane Wizard"},
        {"two", L"%s and %s", L"a", L"b", nullptr, L"a and b"},
        {"three", L"%s, %s, %s", L"a", L"b", L"c", L"a, b, c"},
        {"no arguments: copied as it is", L"100% %s", nullptr, nullptr, nullptr, L"100% %s"},
        {"a missing argument is empty", L"[%s|%s]", L"a", nullptr, nullptr, L"[a|]"},
        {"width and flags", L"%-3s|%3s", L"a", L"b", nullptr, L"a  |  b"},
        {"a percent sign", L"%%s %s", L"a", nullptr, nullptr, L"%s a"},
        {"%n would write: unformatted", L"%s%n", L"a", nullptr, nullptr, L"%s%n"},
        {"a fourth argument: unformatted", L"%s%s%s%s", L"a", L"b", L"c", L"%s%s%s%s"},
        {"a number conversion: unformatted", L"%d files in %s", L"a", nullptr, nullptr, L"%d files in %s"},
        {"a width from the arguments: unformatted", L"%*s", L"a", nullptr, nullptr, L"%*s"},
        {"a lone percent at the end: unformatted", L"50%", L"a", nullptr, nullptr, L"50%"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CSetupSettings::FormatText(row.format, row.a1, row.a2, row.a3), row.expected) << row.name;
}

TEST(CSetupSettings, GetProductNameOfAScriptDrivenPackageIsSetupInis)
{
    CSetupSettings settings;
    settings.Product = L"Widget";
    settings.ScriptDriven = 4;
    settings.ProductCode = L"{00000000-0000-0000-0000-000000000000}";
    EXPECT_EQ(settings.GetProductName(), L"Widget");
    settings.ScriptDriven = 0;  // no product of that code is installed
    EXPECT_EQ(settings.GetProductName(), L"Widget");
}

TEST(CSetupSettings, IsUiShownWithoutEitherSilentFlag)
{
    CSetupSettings settings;
    EXPECT_TRUE(settings.IsUiShown());
    settings.silent = true;
    EXPECT_FALSE(settings.IsUiShown());
    settings.silent = false;
    settings.automatic = true;
    EXPECT_FALSE(settings.IsUiShown());
}

TEST(CSetupSettings, DestroyLetsGoOfSetupIniAndTheLanguages)
{
    const setup_ini ini("[Startup]\r\nProduct=Widget\r\n[Languages]\r\nSupported=0x409,0x407\r\nRTLLangs=0x40d\r\n");
    CSetupSettings settings;
    zString line;
    ASSERT_TRUE(settings.ReadSettings(ini.path(), line));
    settings.Destroy();
    EXPECT_TRUE(settings.languages.empty());
    EXPECT_FALSE(settings.IsRtlLanguage(0x40d));
    EXPECT_TRUE(settings.GetSetupIniString(L"Startup", L"Product").empty());
}

}  // namespace
