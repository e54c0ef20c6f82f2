// Everything the launcher is told: its own switches, the package's setup.ini, the options of
// the command line, the chosen language; and the localized texts and fonts of that language.
#pragma once

#include "SetupArguments.h"
#include "inifilex.h"
#include "zString.h"

#include <windows.h>

#include <set>
#include <vector>

// setup.ini's RequireExactLangMatch: Yes for every language, else the languages (by their
// primary language) for which only the very language will do.
struct CExactLanguageMatch {
    bool all = false;
    std::vector<LANGID> languages;
    bool Requires(LANGID candidate) const;
};
CExactLanguageMatch ParseExactLanguageMatch(std::wstring_view text);

// The language of a run, from the candidates in order (zeros skipped): the candidate itself
// when it is offered, else the first offered language of its primary language unless the
// candidate must match exactly; else the next candidate; else the first offered language.
// With nothing offered the first candidate, or 0x0409 without one.
LANGID ChooseSetupLanguage(const std::vector<LANGID>& candidates, const std::vector<LANGID>& offered,
                           const CExactLanguageMatch& exact);

class CSetupSettings;

// A language's string file, "0x%04x.ini" of its identifier.
zString LanguageFileName(LANGID id);

// One row of the option table: the option's name, how it matches and what it sets.
enum class COptionKind {
    flag,          // exact name; sets the flag
    flag_prefix,   // the name starts the argument ("package:"); sets the flag
    text,          // the name starts the argument; the value goes to the text
    language,      // the name followed by a language id
    consume,       // exact name; only taken (handled by the early switches)
    consume_prefix,
};
struct COptionRow {
    const wchar_t* name;
    COptionKind kind;
    bool CSetupSettings::*flag;
    zString CSetupSettings::*text;
};
// The options of the command line, in the order they are looked up. "s", "auto" and
// "reboot" are whole names and take no value: "-show_err_msg" and "-skin" are not "-s",
// "-autox" is not "-auto"; such arguments reach the engine. "l" is taken only with a language
// id after it, so "-log" reaches the engine too.
const std::vector<COptionRow>& SetupOptionTable();

class CSetupSettings {
public:
    static constexpr LANGID default_language = 0x0409;

    explicit CSetupSettings(HINSTANCE instance = nullptr);
    ~CSetupSettings();
    CSetupSettings(const CSetupSettings&) = delete;
    CSetupSettings& operator=(const CSetupSettings&) = delete;

    // The early switches: launcher path and media folder, "delayedstart:", the Disk1 folder of
    // "tempdisk1folder:" and "extract_all:", "runfromtemp", "QV_temp", "s", "auto",
    // "no_engine", "media_path:", "installfromweb:", "QV_OriginalLauncher:", media on the web.
    void ParseLauncherSwitches(const zString& launcherPath, const zString& commandLine);
    // setup.ini, its cmdline, the options, the engine's arguments, the uninstall key and the
    // language; false (and nothing after setup.ini done) when setup.ini cannot be read. On
    // return the command line holds what no option consumed.
    bool ReadSettings(const zString& setupIniPath, zString& commandLine);
    // [Startup] and [Languages] of the stored setup.ini path.
    bool ReadSetupIni();
    void ReadLanguages(const qv::inifilex& ini);
    // The option table over the command line; leaves in it what no option took.
    void ParseOptions(zString& commandLine);
    // Lets go of the setup.ini text and the language lists; the destructor calls it too.
    void Destroy();

    // The language: the "l" option, else [Languages] Default, else the system's, as offered.
    void ChooseLanguage();
    LANGID GetLanguage() const { return language; }
    void SetLanguage(LANGID id) { language = id; }

    // The early switches that a restarted launcher needs to find its way back, joined by blanks.
    zString GetRelaunchSwitches() const;

    zString LoadLocalizedString(UINT id) const;
    // The template with up to three text arguments for its "%s"; an empty template gives the
    // empty text, no arguments the template as it is, a template that cannot be formatted
    // safely the template unformatted.
    static zString FormatText(const zString& format, const wchar_t* a1 = nullptr, const wchar_t* a2 = nullptr,
                              const wchar_t* a3 = nullptr);
    zString FormatLocalizedString(UINT id, const wchar_t* a1 = nullptr, const wchar_t* a2 = nullptr,
                                  const wchar_t* a3 = nullptr) const;
    zString GetFontName(LANGID id) const;
    zString GetFontName() const { return GetFontName(language); }
    WORD GetFontSize(LANGID id) const;
    WORD GetFontSize() const { return GetFontSize(language); }
    bool IsRtlLanguage(LANGID id) const;
    bool IsRtlLanguage() const { return IsRtlLanguage(language); }
    bool IsUiShown() const { return !silent && !automatic; }
    // A language's name for the language dialog: [Languages] of the current language's file,
    // of the language's own file, of the English file; else the system's name.
    zString GetLanguageDisplayName(LANGID id) const;
    // The string file "0x%04x.ini" of a language, beside setup.ini.
    zString GetLanguageFilePath(LANGID id) const;

    HINSTANCE GetInstance() const { return instance; }
    zString GetLauncherPath() const { return launcher_path; }
    zString GetLauncherFolder() const;
    zString GetMediaFolder() const { return media_folder; }
    zString GetSetupIniPath() const { return setup_ini_path; }
    zString GetProductCode() const { return ProductCode; }
    zString GetProductName() const;
    zString GetCompanyName() const { return CompanyName; }
    zString GetCompanyUrl() const { return CompanyURL; }
    zString GetErrorReportUrl() const { return ErrorReportURL; }
    zString GetSkin() const { return Skin; }
    // The "ig" option's, else setup.ini's InstallGUID.
    zString GetInstallGuid() const { return install_guid.empty() ? InstallGUID : install_guid; }
    zString GetResultLogPath() const { return result_file; }
    zString GetOriginalLauncher() const { return original_launcher; }
    zString GetUninstallKey() const { return uninstall_key; }
    zString GetDisk1Folder() const { return disk1_folder_; }
    // A local folder is kept with its closing backslash.
    void SetDisk1Folder(const zString& folder);
    zString GetEnginePath() const { return engine_path_; }
    void SetEnginePath(const zString& path) { engine_path_ = path; }
    // A value of setup.ini as it was read; empty when missing.
    zString GetSetupIniString(const zString& section, const zString& key) const;

    // Flags, named after their options.
    bool reboot = false;
    bool silent = false;     // "s"
    bool automatic = false;  // "auto"
    bool no_engine = false;
    bool hide_progress = false;
    bool hide_splash = false;
    bool hide_usd = false;
    bool package = false;  // "package:"
    bool no_deleter = false;
    bool no_selfdeleter = false;
    bool runfromtemp = false;
    bool clone_wait = false;
    bool media_on_web = false;
    bool tempdisk1folder_given = false;
    bool extract_all_given = false;
    bool show_err_dlg = false;
    bool show_err_msg = false;
    bool show_err_msg_invalid_identity = false;
    bool qv_temp = false;  // "QV_temp": this launcher is the temporary copy

    HINSTANCE instance = nullptr;
    int SplashTime = 5;     // seconds, never negative
    int delayed_start = 0;  // "delayedstart:" seconds, never negative
    LANGID language = 0;    // the language of the run
    LANGID requested_language = 0;  // "l"; 0 when not given
    std::vector<LANGID> languages;  // offered, in setup.ini's order
    std::set<LANGID> rtl_languages;

    // setup.ini [Startup]
    int ScriptDriven = 0;
    int AllUsers = 0;
    int LogMode = 0;
    int MediaFormat = 0;  // read only when ScriptDriven is 4
    bool SmallProgress = false;
    bool ShowPasswordDialog = false;
    bool CheckMD5 = false;
    zString Product;
    zString ProductCode;  // ProductGUID when ScriptDriven is 4
    zString CompanyName;
    zString CompanyURL;
    zString Skin;
    zString ErrorReportURL;
    zString InstallGUID;
    zString LauncherName = L"setup.exe";
    zString StartupCmdline;  // "cmdline"
    // setup.ini [Languages]
    LANGID DefaultLanguage = 0;
    bool EnableLangDlg = false;
    CExactLanguageMatch RequireExactLangMatch;

    zString launcher_path;
    zString media_folder;  // a local folder ends with a backslash
    zString original_launcher;  // "QV_OriginalLauncher:"
    zString result_file;        // "f2"
    zString install_guid;       // "ig"
    zString setup_ini_path;
    zString uninstall_key;  // under HKLM, for the product code
    zString engine_arguments;        // " " and what no option took, for the engine
    zString pass_through_arguments;  // the same, passed on to the engine's command line

private:
    zString disk1_folder_;
    zString engine_path_;
    qv::inifilex setup_ini_;
};
