#include "SetupSettings.h"

#include "string_resources.h"
#include "system_info.h"

#include <algorithm>

namespace {

constexpr size_t npos = CSetupOptionList::npos;
constexpr unsigned exact = CSetupOptionList::option_exact;
constexpr unsigned consume = CSetupOptionList::option_consume;

const wchar_t uninstall_root[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t default_error_report_url[] =
    L"http://www.corvane.com/support/setuperror.asp?ErrorCode=%d : 0x%x&ErrorInfo=%s";
const wchar_t default_font_name[] = L"Tahoma";
constexpr WORD default_font_size = 8;

bool is_language_value(std::wstring_view value)
{
    LANGID id = 0;
    return ParseLanguageId(value, id);
}

bool is_url(const zString& s)
{
    return s.has_url_scheme() || qv::text::starts_with_nocase(s.view(), L"file:");
}

// A local folder with its closing backslash; URLs and the empty text as they are.
zString folder_with_backslash(const zString& folder)
{
    if (folder.empty() || is_url(folder)) return folder;
    return folder.add_backslash();
}

bool same_primary(LANGID a, LANGID b) { return PRIMARYLANGID(a) == PRIMARYLANGID(b); }

zString language_key(LANGID id)
{
    zString key;
    key.format(L"0x%04x", static_cast<unsigned>(id));
    return key;
}

// Whether the template asks only for text arguments, at most three of them: a language file
// is package data, and a "%n" or a fourth "%s" would have the formatter write or read memory
// that no argument gave it.
bool is_safe_text_format(std::wstring_view format)
{
    int arguments = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%') continue;
        if (++i == format.size()) return false;
        if (format[i] == L'%') continue;
        while (i < format.size() && std::wstring_view(L"-+ #0").find(format[i]) != std::wstring_view::npos) ++i;
        while (i < format.size() && format[i] >= L'0' && format[i] <= L'9') ++i;
        if (i < format.size() && format[i] == L'.') {
            ++i;
            while (i < format.size() && format[i] >= L'0' && format[i] <= L'9') ++i;
        }
        if (i < format.size() && (format[i] == L'l' || format[i] == L'h' || format[i] == L'w')) ++i;
        if (i == format.size() || (format[i] != L's' && format[i] != L'S')) return false;
        if (++arguments > 3) return false;
    }
    return true;
}

}  // namespace

bool CExactLanguageMatch::Requires(LANGID candidate) const
{
    if (all) return true;
    return std::any_of(languages.begin(), languages.end(), [&](LANGID id) { return same_primary(id, candidate); });
}

CExactLanguageMatch ParseExactLanguageMatch(std::wstring_view text)
{
    CExactLanguageMatch out;
    for (const wchar_t* yes : {L"Yes", L"Y", L"True", L"1"})
        if (qv::nocase_compare::compare(text, yes) == 0) out.all = true;
    if (!out.all) out.languages = ParseLanguageList(text);
    return out;
}

LANGID ChooseSetupLanguage(const std::vector<LANGID>& candidates, const std::vector<LANGID>& offered,
                           const CExactLanguageMatch& exactMatch)
{
    std::vector<LANGID> asked;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(asked), [](LANGID id) { return id != 0; });
    if (offered.empty()) return asked.empty() ? CSetupSettings::default_language : asked.front();
    for (const LANGID id : asked) {
        if (std::find(offered.begin(), offered.end(), id) != offered.end()) return id;
        if (exactMatch.Requires(id)) continue;
        for (const LANGID candidate : offered)
            if (same_primary(candidate, id)) return candidate;
    }
    return offered.front();
}

const std::vector<COptionRow>& SetupOptionTable()
{
    using S = CSetupSettings;
    using K = COptionKind;
    static const std::vector<COptionRow> table = {
        {L"l", K::language, nullptr, nullptr},
        {L"ig", K::text, nullptr, &S::install_guid},
        {L"no_engine", K::flag, &S::no_engine, nullptr},
        {L"s", K::flag, &S::silent, nullptr},
        {L"auto", K::flag, &S::automatic, nullptr},
        {L"hide_progress", K::flag, &S::hide_progress, nullptr},
        {L"hide_splash", K::flag, &S::hide_splash, nullptr},
        {L"hide_usd", K::flag, &S::hide_usd, nullptr},
        {L"reboot", K::flag, &S::reboot, nullptr},
        {L"package:", K::flag_prefix, &S::package, nullptr},
        {L"f2", K::text, nullptr, &S::result_file},
        {L"no_deleter", K::flag, &S::no_deleter, nullptr},
        {L"no_selfdeleter", K::flag, &S::no_selfdeleter, nullptr},
        {L"clone_wait", K::flag, &S::clone_wait, nullptr},
        {L"show_err_dlg", K::flag, &S::show_err_dlg, nullptr},
        {L"show_err_msg", K::flag, &S::show_err_msg, nullptr},
        {L"show_err_msg_invalid_identity", K::flag, &S::show_err_msg_invalid_identity, nullptr},
        {L"delayedstart:", K::consume_prefix, nullptr, nullptr},
        {L"tempdisk1folder:", K::consume_prefix, nullptr, nullptr},
        {L"extract_all:", K::consume_prefix, nullptr, nullptr},
        {L"media_path:", K::consume_prefix, nullptr, nullptr},
        {L"installfromweb:", K::consume_prefix, nullptr, nullptr},
        {L"runfromtemp", K::consume, nullptr, nullptr},
        {L"QV_temp", K::consume, nullptr, nullptr},
    };
    return table;
}

CSetupSettings::CSetupSettings(HINSTANCE instance) : instance(instance), ErrorReportURL(default_error_report_url) {}

CSetupSettings::~CSetupSettings()
{
    Destroy();
}

void CSetupSettings::Destroy()
{
    setup_ini_.clear();
    languages.clear();
    rtl_languages.clear();
    RequireExactLangMatch = CExactLanguageMatch();
}

void CSetupSettings::ParseLauncherSwitches(const zString& launcherPath, const zString& commandLine)
{
    CSetupOptionList options(commandLine.view());
    launcher_path = launcherPath;
    media_folder = GetLauncherFolder();

    zString value;
    long seconds = 0;
    if (options.Find(L"delayedstart:", 0, &value) != npos && value.to_long(seconds, 10))
        delayed_start = static_cast<int>(std::max(0L, seconds));

    // Without a folder the switch would leave the launcher where it is and still have it
    // deleted as the temporary copy.
    zString temp_folder, extract_folder;
    const size_t temp_at = options.Find(L"tempdisk1folder:", 0, &temp_folder);
    const size_t extract_at = options.Find(L"extract_all:", 0, &extract_folder);
    tempdisk1folder_given = temp_at != npos && !temp_folder.empty();
    extract_all_given = extract_at != npos && !extract_folder.empty();
    if (tempdisk1folder_given && (!extract_all_given || temp_at > extract_at)) SetDisk1Folder(temp_folder);
    else if (extract_all_given) SetDisk1Folder(extract_folder);

    if (options.Has(L"runfromtemp", exact)) runfromtemp = true;
    if (options.Has(L"QV_temp", exact)) qv_temp = true;
    if (options.Has(L"s", exact)) silent = true;
    if (options.Has(L"auto", exact)) automatic = true;
    if (options.Has(L"no_engine", exact)) no_engine = true;

    if (options.Find(L"media_path:", 0, &value) != npos && !value.empty()) media_folder = value;
    if (options.Find(L"installfromweb:", 0, &value) != npos && !value.empty()) {
        media_folder = value;
        media_on_web = true;
    }
    if (options.Find(L"QV_OriginalLauncher:", 0, &value) != npos && !value.empty()) original_launcher = value;

    if (!media_on_web && media_folder.has_url_scheme()) {
        media_on_web = true;
    } else if (!media_on_web && qv::text::starts_with_nocase(media_folder.view(), L"file:")) {
        media_folder = zString(media_folder.view().substr(5)).file_url_to_path();
    }
    media_folder = folder_with_backslash(media_folder);
}

bool CSetupSettings::ReadSettings(const zString& setupIniPath, zString& commandLine)
{
    setup_ini_path = setupIniPath;
    if (!ReadSetupIni()) return false;

    // The package's own options come first, so the command line's win.
    zString package_rest = StartupCmdline;
    if (!package_rest.empty()) ParseOptions(package_rest);
    ParseOptions(commandLine);

    pass_through_arguments.clear();
    for (const zString* rest : {&package_rest, &commandLine}) {
        if (rest->empty()) continue;
        engine_arguments += L" " + *rest;
        pass_through_arguments += L" " + *rest;
    }
    // Without a product code the key would name the whole Uninstall branch.
    uninstall_key = ProductCode.empty() ? zString() : zString(uninstall_root) + ProductCode;
    ChooseLanguage();
    return true;
}

bool CSetupSettings::ReadSetupIni()
{
    if (setup_ini_path.empty() || !setup_ini_.load(setup_ini_path, L"=", false)) return false;
    const qv::inifilex& ini = setup_ini_;
    const auto text = [&](const wchar_t* key, zString& field) {
        const zString value = ini.get_string(L"Startup", key, L"");
        if (!value.empty()) field = value;
    };

    ScriptDriven = ini.get_int(L"Startup", L"ScriptDriven", ScriptDriven);
    if (ScriptDriven == 4) {
        text(L"ProductGUID", ProductCode);
        MediaFormat = ini.get_int(L"Startup", L"MediaFormat", MediaFormat);
    } else {
        text(L"ProductCode", ProductCode);
    }
    text(L"Product", Product);
    LogMode = ini.get_int(L"Startup", L"LogMode", LogMode);
    SplashTime = std::max(0, ini.get_int(L"Startup", L"SplashTime", SplashTime));
    AllUsers = ini.get_int(L"Startup", L"AllUsers", AllUsers);
    SmallProgress = ini.get_bool(L"Startup", L"SmallProgress", SmallProgress);
    ShowPasswordDialog = ini.get_bool(L"Startup", L"ShowPasswordDialog", ShowPasswordDialog);
    CheckMD5 = ini.get_bool(L"Startup", L"CheckMD5", CheckMD5);
    text(L"CompanyName", CompanyName);
    text(L"CompanyURL", CompanyURL);
    text(L"Skin", Skin);
    text(L"ErrorReportURL", ErrorReportURL);
    text(L"InstallGUID", InstallGUID);
    text(L"LauncherName", LauncherName);
    text(L"cmdline", StartupCmdline);
    ReadLanguages(ini);
    return true;
}

void CSetupSettings::ReadLanguages(const qv::inifilex& ini)
{
    ParseLanguageId(ini.get_string(L"Languages", L"Default", L"").view(), DefaultLanguage);
    languages = ParseLanguageList(ini.get_string(L"Languages", L"Supported", L"").view());
    if (languages.empty() && DefaultLanguage != 0) languages.push_back(DefaultLanguage);
    EnableLangDlg = ini.get_bool(L"Languages", L"EnableLangDlg", EnableLangDlg);
    RequireExactLangMatch = ParseExactLanguageMatch(ini.get_string(L"Languages", L"RequireExactLangMatch", L"").view());
    const std::vector<LANGID> rtl = ParseLanguageList(ini.get_string(L"Languages", L"RTLLangs", L"").view());
    rtl_languages = std::set<LANGID>(rtl.begin(), rtl.end());
}

void CSetupSettings::ParseOptions(zString& commandLine)
{
    CSetupOptionList options(commandLine.view());
    zString value;
    for (const COptionRow& row : SetupOptionTable()) {
        switch (row.kind) {
        case COptionKind::flag:
            if (options.Has(row.name, exact | consume)) this->*row.flag = true;
            break;
        case COptionKind::flag_prefix:
            if (options.Has(row.name, consume)) this->*row.flag = true;
            break;
        case COptionKind::text:
            if (options.Find(row.name, consume, &value) != npos) this->*row.text = value;
            break;
        case COptionKind::language:
            if (options.Find(row.name, consume, &value, is_language_value) != npos)
                ParseLanguageId(value.view(), requested_language);
            break;
        case COptionKind::consume:
            options.Find(row.name, exact | consume);
            break;
        case COptionKind::consume_prefix:
            options.Find(row.name, consume);
            break;
        }
    }
    commandLine = options.Remainder();
}

void CSetupSettings::ChooseLanguage()
{
    language = ChooseSetupLanguage({requested_language, DefaultLanguage, qv::GetUiLanguage()}, languages,
                                   RequireExactLangMatch);
}

zString CSetupSettings::GetRelaunchSwitches() const
{
    std::vector<zString> parts;
    const auto quoted = [&](const wchar_t* name, const zString& value) {
        parts.push_back(zString(name) + L"\"" + value + L"\"");
    };
    if (qv_temp) parts.emplace_back(L"-QV_temp");
    if (no_selfdeleter) parts.emplace_back(L"-no_selfdeleter");
    if (tempdisk1folder_given) quoted(L"-tempdisk1folder:", folder_with_backslash(disk1_folder_));
    if (runfromtemp) parts.emplace_back(L"-runfromtemp");
    if (!media_folder.empty() && !(media_folder == GetLauncherFolder())) quoted(L"-media_path:", media_folder);
    if (package) parts.emplace_back(L"-package:");
    if (!original_launcher.empty()) quoted(L"-QV_OriginalLauncher:", original_launcher);
    zString out;
    return out.join_list(parts, L' ');
}

zString LanguageFileName(LANGID id)
{
    return language_key(id) + L".ini";
}

zString CSetupSettings::GetLanguageFilePath(LANGID id) const
{
    // Without setup.ini there is no folder: a bare name would be looked for wherever the
    // process happens to stand.
    const zString folder = setup_ini_path.folder_part(false);
    if (folder.empty()) return zString();
    return folder.combine_path(LanguageFileName(id).c_str());
}

zString CSetupSettings::LoadLocalizedString(UINT id) const
{
    zString value;
    const zString path = GetLanguageFilePath(language);
    qv::inifilex file;
    if (!path.empty() && file.load(path, L"=", false)) {
        zString key;
        key.format(L"%ld", static_cast<long>(id));
        value = file.get_string(language_key(language), key, L"");
    }
    // The table holds United States English only; a language it lacks reads that.
    if (value.empty() && !qv::FindStringResource(value, id, language, instance))
        qv::FindStringResource(value, id, default_language, instance);
    return value;
}

zString CSetupSettings::FormatText(const zString& format, const wchar_t* a1, const wchar_t* a2, const wchar_t* a3)
{
    if (format.empty()) return zString();
    if (!a1 && !a2 && !a3) return format;
    if (!is_safe_text_format(format.view())) return format;
    zString out;
    out.format(format.c_str(), a1 ? a1 : L"", a2 ? a2 : L"", a3 ? a3 : L"");
    return out;
}

zString CSetupSettings::FormatLocalizedString(UINT id, const wchar_t* a1, const wchar_t* a2, const wchar_t* a3) const
{
    return FormatText(LoadLocalizedString(id), a1, a2, a3);
}

zString CSetupSettings::GetFontName(LANGID id) const
{
    const zString path = GetLanguageFilePath(id);
    qv::inifilex file;
    if (!path.empty() && file.load(path, L"=", false)) {
        const zString name = file.get_string(L"Properties", L"FontName", L"");
        if (!name.empty()) return name;
    }
    return zString(default_font_name);
}

WORD CSetupSettings::GetFontSize(LANGID id) const
{
    const zString path = GetLanguageFilePath(id);
    qv::inifilex file;
    if (path.empty() || !file.load(path, L"=", false)) return default_font_size;
    const int size = file.get_int(L"Properties", L"FontSize", default_font_size);
    return size > 0 && size <= 0x7FFF ? static_cast<WORD>(size) : default_font_size;
}

bool CSetupSettings::IsRtlLanguage(LANGID id) const
{
    // An entry without a sublanguage stands for every language of its primary language.
    return rtl_languages.count(id) != 0 || rtl_languages.count(PRIMARYLANGID(id)) != 0;
}

zString CSetupSettings::GetLanguageDisplayName(LANGID id) const
{
    const zString key = language_key(id);
    std::vector<LANGID> files = {language};
    for (const LANGID more : {id, default_language})
        if (std::find(files.begin(), files.end(), more) == files.end()) files.push_back(more);
    for (const LANGID file_language : files) {
        const zString path = GetLanguageFilePath(file_language);
        qv::inifilex file;
        if (path.empty() || !file.load(path, L"=", false)) continue;
        const zString name = file.get_string(L"Languages", key, L"");
        if (!name.empty()) return name;
    }
    wchar_t name[260] = L"";
    if (VerLanguageNameW(id, name, 260) == 0) name[0] = L'\0';
    name[259] = L'\0';
    return zString(name);
}

zString CSetupSettings::GetLauncherFolder() const
{
    return launcher_path.folder_part(true);
}

zString CSetupSettings::GetProductName() const
{
    if (ScriptDriven != 4) {
        const zString installed = qv::GetInstalledProductName(ProductCode);
        if (!installed.empty()) return installed;
    }
    return Product;
}

void CSetupSettings::SetDisk1Folder(const zString& folder)
{
    disk1_folder_ = folder_with_backslash(folder);
}

zString CSetupSettings::GetSetupIniString(const zString& section, const zString& key) const
{
    return setup_ini_.get_string(section, key, L"");
}
