#include "Setup.h"

#include "DialogHelper.h"
#include "ErrorReport.h"
#include "LanguageDialog.h"
#include "SetupSettings.h"
#include "SplashWindow.h"
#include "appended_offset.h"
#include "disk1_files.h"
#include "file_copy.h"
#include "file_system.h"
#include "pending_file_operations.h"
#include "process_launch.h"
#include "resource.h"
#include "rights.h"
#include "system_folders.h"
#include "trace_log.h"

namespace {

HINSTANCE g_instance = nullptr;

// Bytes behind the image that still count as a plain launcher (a signature, padding).
constexpr ULONGLONG appended_package_slack = 51200;

HRESULT LastErrorResult(DWORD fallback = ERROR_GEN_FAILURE)
{
    const DWORD error = qv::LastFileOpError() ? qv::LastFileOpError() : GetLastError();
    return HRESULT_FROM_WIN32(error ? error : fallback);
}

void EnableItem(HWND window, int item, bool enable)
{
    if (window) EnableWindow(GetDlgItem(window, item), enable);
}

// A folder of the temporary folder that nothing else uses yet.
zString NewTempFolder()
{
    const zString folder = qv::CreateTempFileName(zString(), false, zString());
    if (folder.empty() || !qv::CreateFolderTree(folder)) return {};
    return folder;
}

}  // namespace

HINSTANCE SetupInstance() noexcept
{
    return g_instance ? g_instance : GetModuleHandleW(nullptr);
}

CSetup::CSetup(Deleter* deleter) : deleter_(deleter)
{
    setup_state::resume_value = -1;
}

CSetup::~CSetup()
{
    CloseProgressDialog();
    DestroyWizard();
    splash_.CloseSplash(true);
    if (engine_module_) {
        if (auto remove = reinterpret_cast<RemoveEngineTypelibProc>(
                reinterpret_cast<void*>(GetProcAddress(engine_module_.get(), "RemoveEngineTypelib"))))
            remove();
    }
    listener_.reset();
    sink_.reset();
    controller_.reset();
    engine_.reset();
    engine_module_.reset();
    if (settings_) settings_->Destroy();
    settings_.reset();
}

HRESULT CSetup::RecordFailure(HRESULT code, int line)
{
    if (code == 0) return 0;
    if (failure_code_ == 0) {
        failure_code_ = code;
        failure_line_ = line;
        qv::TraceRecord(L"RecordFailure", L"RURavurDLLOp", L"File=%s\tLine=%d\tCode=0x%08lx", failure_source_.c_str(),
            line, static_cast<unsigned long>(code));
    }
    throw launcher_failure{code};
}

template <class Step>
HRESULT CSetup::NumberedStep(LONG number, Step&& step)
{
    try {
        const HRESULT result = step();
        if (result) launcher_error_ = number;
        return result;
    } catch (const launcher_failure& failure) {
        launcher_error_ = number;
        return failure.code;
    }
}

int CSetup::Run(HINSTANCE instance, const zString& launcher_path, const zString& command_line)
{
    instance_ = instance;
    try {
        return RunSequence(launcher_path, command_line);
    } catch (const launcher_failure& failure) {
        return ErrorPath(failure.code);
    } catch (...) {
        // A library exception that no step turned into a code.
        if (failure_code_ == 0) {
            failure_code_ = E_UNEXPECTED;
            failure_line_ = 0;
        }
        return ErrorPath(failure_code_);
    }
}

int CSetup::ErrorPath(HRESULT code)
{
    try {
        mutex_.reset();
        if (code == setup_needs_administrator) {
            if (launcher_error_ == 0) launcher_error_ = launcher_error_unnumbered;
            if (settings_) {
                CDialogHelper(settings_.get()).ShowSetupMessageBox(nullptr, settings_->LoadLocalizedString(IDS_NEEDS_ADMINISTRATOR),
                    MB_ICONERROR | MB_OK, IDOK, 0);
                // A silent run must leave its result even where no report is shown.
                WriteSilentResultLog(*this, launcher_error_, zString());
            }
        } else if (code != setup_cancelled) {
            ReportUnhandledError(*this, false);
        }
        if (sink_) {
            state_ = 5;
            sink_->OnLauncherEnding(static_cast<qv::ISetupTransferEvents*>(this));
        }
        if (controller_) {
            qv::com_ptr<IRURavurStop> stop;
            if (SUCCEEDED(controller_->QueryInterface(IID_IRURavurStop, reinterpret_cast<void**>(stop.put()))) && stop)
                stop->Stop();
            controller_.reset();
        }
    } catch (...) {
        // The error path itself must end the run; what it could not show stays unshown.
    }
    if (code == setup_cancelled) return static_cast<int>(setup_cancelled);
    if (launcher_error_ == 0) launcher_error_ = launcher_error_unnumbered;
    return static_cast<int>(launcher_error_);
}

int CSetup::RunSequence(const zString& launcher_path, const zString& command_line)
{
    g_instance = instance_;
    admin_or_power_user_ = qv::IsAdminOrPowerUser();
    settings_ = std::make_unique<CSetupSettings>(instance_);
    settings_->ParseLauncherSwitches(launcher_path, command_line);
    CSetupSettings& settings = *settings_;

    if (settings.delayed_start > 0) Sleep(static_cast<DWORD>(settings.delayed_start) * 1000);

    if (settings.GetDisk1Folder().empty()) {
        const zString folder = admin_or_power_user_ && qv::IsAdministrator() ? qv::CreateSecureTempFolder() : NewTempFolder();
        if (folder.empty()) RecordFailure(LastErrorResult(ERROR_CANNOT_MAKE), 118);
        settings.SetDisk1Folder(folder);
    } else if (!qv::PathExists(settings.GetDisk1Folder(), qv::path_is_folder) && !qv::CreateFolderTree(settings.GetDisk1Folder())) {
        RecordFailure(LastErrorResult(ERROR_CANNOT_MAKE), 118);
    }
    deleter_->folders.push_back(settings.GetDisk1Folder());
    // Only a launcher that runs from the Disk1 folder, away from its media, is a temporary
    // copy that may remove itself: a hand-typed folder must never cost the media its own
    // setup.exe.
    const zString disk1 = settings.GetDisk1Folder().add_backslash();
    if (settings.tempdisk1folder_given && qv::pending_path::same(launcher_path.folder_part(true), disk1) &&
        !qv::pending_path::same(settings.GetMediaFolder().add_backslash(), disk1))
        deleter_->self_delete = 1;

    const bool appended = HasAppendedPackage();
    if (appended) {
        RecordFailure(LocateMedia(), 128);
        if (settings.extract_all_given) {
            deleter_->skip = 1;
            return 0;
        }
    }

    RecordFailure(CopyDisk1FileToTemp(L"setup.ini", 142), 142);
    setup_ini_ = (settings.no_engine ? settings.GetMediaFolder() : settings.GetDisk1Folder()).add_backslash() + L"setup.ini";

    zString remaining = command_line;
    if (!settings.ReadSettings(setup_ini_, remaining)) RecordFailure(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 146);
    if (settings.no_deleter) deleter_->skip = 1;
    if (settings.no_selfdeleter) deleter_->self_delete = 0;

    if (settings.show_err_dlg) {
        launcher_error_ = launcher_error_unnumbered;
        RecordFailure(setup_error_dialog_asked, 168);
    }
    if (settings.show_err_msg) {
        launcher_error_ = launcher_error_unnumbered;
        ReportUnhandledError(*this, true);
        return 0;
    }

    if (!appended && !settings.tempdisk1folder_given) {
        if (settings.runfromtemp) deleter_->skip = 1;
        deleter_->self_delete = 0;
        if (!settings.runfromtemp) settings.clone_wait = true;
        zString relaunch_command = command_line;
        if (!settings.runfromtemp && relaunch_command.find_nocase(L"no_selfdeleter") == zString::npos)
            relaunch_command += L" -no_selfdeleter -QV_temp";
        return RelaunchFromTemp(relaunch_command);
    }

    RecordFailure(CopyLanguageFile(settings.GetLanguage()), 205);

    const zString product_code = settings.GetProductCode();
    mutex_.reset(CreateMutexW(nullptr, FALSE, product_code.empty() ? nullptr : product_code.c_str()));
    if (mutex_ && WaitForSingleObject(mutex_.get(), 0) == WAIT_TIMEOUT) {
        zString text = settings.LoadLocalizedString(IDS_SECOND_INSTANCE);
        if (text.empty())
            text = L"Another instance of this setup is already running. Please wait for the other instance to "
                   L"finish and then try again.";
        CDialogHelper(&settings).ShowSetupMessageBox(nullptr, text, MB_ICONINFORMATION | MB_OK, IDOK, 0);
        mutex_.reset();
        return 0;
    }

    RecordFailure(LoadEngine(), 236);

    if (settings.reboot)
        RecordFailure(LaunchAfterReboot(), 242);
    else
        RecordFailure(LaunchWithUi(), 244);

    if (mutex_) ReleaseMutex(mutex_.get());
    mutex_.reset();

    LONG result = 0;
    RecordFailure(EngineResult(result), 248);
    return static_cast<int>(result);
}

bool CSetup::HasAppendedPackage() const
{
    const zString launcher = settings_->GetLauncherPath();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(launcher.c_str(), GetFileExInfoStandard, &data) || data.nFileSizeHigh != 0) return false;
    const DWORD offset = qv::GetAppendedDataOffset(launcher, true);
    return offset != 0 && data.nFileSizeLow > offset + appended_package_slack;
}

HRESULT CSetup::LocateMedia()
{
    CSetupSettings& settings = *settings_;
    const zString disk1 = settings.GetDisk1Folder();
    const int result = qv::CopyDisk1Files(
        settings.GetLauncherPath(), disk1, &deleter_->files, &deleter_->folders, settings.extract_all_given);
    if (result != 0) return result;
    // The media is what the launcher carried: it now lies in the Disk1 folder.
    settings.media_folder = disk1.add_backslash();
    return 0;
}

HRESULT CSetup::CopyDisk1FileToTemp(const zString& name, int line)
{
    CSetupSettings& settings = *settings_;
    const zString source = settings.GetMediaFolder().add_backslash() + name;
    const zString target = settings.GetDisk1Folder().add_backslash() + name;
    qv::TraceRecord(L"CopyDisk1FileToTempBegin", L"RURavurDLLOp", L"SourceFile=%s\tTargetFile=%s", source.c_str(),
        target.c_str());
    HRESULT result = 0;
    // A Disk1 folder that is the media folder holds the file already; it is the media's own
    // and must not be handed to the deleter.
    if (!qv::pending_path::same(source, target)) {
        if (qv::CopyFileWithProgress(source, target, 0x10000, true))
            deleter_->files.push_back(target);
        else
            result = LastErrorResult();
    }
    qv::TraceRecord(L"CopyDisk1FileToTempEnd", L"RURavurDLLOp", L"SourceFile=%s\tTargetFile=%s\tResult=0x%08lx\tLine=%d",
        source.c_str(), target.c_str(), static_cast<unsigned long>(result), line);
    return result;
}

HRESULT CSetup::CopyLanguageFile(LANGID language)
{
    const zString name = LanguageFileName(language);
    // A package without the language's file shows the program's own texts.
    if (!settings_->media_on_web && !qv::PathExists(settings_->GetMediaFolder().add_backslash() + name, qv::path_is_file))
        return 0;
    return CopyDisk1FileToTemp(name, 205);
}

HRESULT CSetup::RelaunchFromTemp(const zString& command_line)
{
    CSetupSettings& settings = *settings_;
    const zString launcher = settings.GetLauncherPath();
    const zString disk1 = settings.GetDisk1Folder().add_backslash();
    const zString copy = disk1 + launcher.file_name_part();
    qv::TraceRecord(L"RelaunchFromTempBegin", L"RURavurDLLOp", L"Launcher=%s\tCopy=%s", launcher.c_str(), copy.c_str());
    if (!CopyFileW(launcher.c_str(), copy.c_str(), FALSE)) {
        qv::TraceRecord(L"RelaunchFromTempEnd", L"RURavurDLLOp", L"Result=%ld\tError=%lu",
            static_cast<long>(launcher_error_relaunch), GetLastError());
        return launcher_error_relaunch;
    }
    deleter_->files.push_back(copy);

    qv::LaunchRequest request;
    request.program = copy;
    request.arguments = command_line + L" -media_path:\"" + settings.GetMediaFolder().add_backslash() +
                        L"\" -tempdisk1folder:\"" + disk1 + L"\" -QV_OriginalLauncher:\"" + launcher + L"\"";
    request.arguments.trim(L" ");
    request.verb = L"open";
    request.show_command = SW_SHOWNORMAL;
    request.wait_flags = qv::launch_through_shell | (settings.clone_wait ? DWORD{qv::wait_for_program} : DWORD{0});
    const int launched = qv::LaunchProcess(request);
    int result = 0;
    if (launched != qv::launch_done)
        result = launcher_error_relaunch;
    else if (settings.clone_wait)
        result = static_cast<int>(qv::LaunchExitCode());
    qv::CloseLaunchedProcess();
    qv::TraceRecord(L"RelaunchFromTempEnd", L"RURavurDLLOp", L"Result=%ld", static_cast<long>(result));
    return result;
}

HRESULT CSetup::LoadEngine()
{
    CSetupSettings& settings = *settings_;
    zString engine;
    if (settings.media_on_web || settings.tempdisk1folder_given) {
        RecordFailure(CopyDisk1FileToTemp(L"RURavur.dll", 232), 232);
        engine = settings.GetDisk1Folder().add_backslash() + L"RURavur.dll";
    } else {
        engine = settings.GetMediaFolder().add_backslash() + L"RURavur.dll";
    }
    if (settings.no_engine) engine = settings.GetLauncherFolder().add_backslash() + L"RURavur.dll";
    settings.SetEnginePath(engine);
    engine_module_.reset(LoadLibraryW(engine.c_str()));
    qv::TraceRecord(L"LoadEngine", L"RURavurDLLOp", L"Engine=%s\tLoaded=%d\tError=%lu", engine.c_str(),
        engine_module_ ? 1 : 0, engine_module_ ? 0ul : GetLastError());
    return engine_module_ ? 0 : engine_not_loaded;
}

HRESULT CSetup::LaunchWithUi()
{
    try {
        bool go_on = true;
        RecordFailure(NumberedStep(launcher_error_startup_dialogs, [&] { return StartupUi(go_on); }), 411);
        EnableItem(wizard_, IDC_PROGRESS_SECOND, false);
        EnableItem(wizard_, IDCANCEL, false);
        splash_tick_ = GetTickCount();
        SetProgressPosition(5);
        RecordFailure(CheckAllUsers(), 418);
        SetProgressPosition(10);
        if (!go_on) {
            DestroyWizard();
            return 0;
        }
        RecordFailure(NumberedStep(launcher_error_typelib, [&] { return EngineTypelib(); }), 421);
        SetProgressPosition(15);
        SetProgressPosition(20);
        RecordFailure(NumberedStep(launcher_error_engine_object, [&] { return EngineObject(); }), 424);
        SetProgressPosition(25);
        SetProgressPosition(30);
        if (settings_->media_on_web) {
            RecordFailure(HeaderFiles(), 428);
            SetProgressPosition(35);
            SetProgressPosition(40);
        }
        RecordFailure(NumberedStep(launcher_error_cabinet, [&] { return OpenCabinet(); }), 431);
        SetProgressPosition(45);
        SetProgressPosition(50);
        RecordFailure(NumberedStep(launcher_error_properties, [&] { return EngineProperties(); }), 434);
        SetProgressPosition(75);
        SetProgressPosition(80);
        RecordFailure(NumberedStep(launcher_error_command_line, [&] { return EngineCommandLine(); }), 437);
        SetProgressPosition(85);
        SetProgressPosition(90);
        RecordFailure(NumberedStep(launcher_error_initialisation, [&] { return EngineInitialisation(); }), 440);
        SetProgressPosition(95);
        SetProgressPosition(100);

        if (WaitForSplashTime()) {
            DestroyWizard();
            return setup_cancelled;
        }
        splash_.CloseSplash(true);
        CloseProgressDialog();
        if (settings_->IsUiShown()) DestroyWizard();

        RecordFailure(NumberedStep(launcher_error_run, [&] { return RunEngine(true); }), 454);
        RecordFailure(NumberedStep(launcher_error_finish, [&] { return FinishLaunch(); }), 456);
        DestroyWizard();
        return 0;
    } catch (const launcher_failure& failure) {
        splash_.CloseSplash(true);
        DestroyWizard();
        return failure.code;
    }
}

HRESULT CSetup::LaunchAfterReboot()
{
    try {
        RecordFailure(qv::ProcessPendingFileOperations(), 363);
        RecordFailure(NumberedStep(launcher_error_typelib, [&] { return EngineTypelib(); }), 367);
        RecordFailure(NumberedStep(launcher_error_engine_object, [&] { return EngineObject(); }), 369);
        RecordFailure(NumberedStep(launcher_error_command_line, [&] { return EngineCommandLine(); }), 371);
        RecordFailure(NumberedStep(launcher_error_cabinet, [&] { return OpenCabinet(); }), 373);
        RecordFailure(NumberedStep(launcher_error_properties, [&] { return EngineProperties(); }), 374);
        RecordFailure(NumberedStep(launcher_error_run, [&] { return RunEngine(false); }), 376);
        RecordFailure(NumberedStep(launcher_error_finish, [&] { return FinishLaunch(); }), 378);
        return 0;
    } catch (const launcher_failure& failure) {
        return failure.code;
    }
}

HRESULT CSetup::StartupUi(bool& go_on)
{
    CSetupSettings& settings = *settings_;
    go_on = true;
    // The maintenance check runs the package's prerequisites here once they are read.
    if (!settings.hide_splash && settings.IsUiShown()) {
        const zString image = FindSplashImage(settings.GetMediaFolder(), settings.GetLanguage());
        if (!image.empty()) splash_.ShowSplashBitmap(image);
    }
    if (ShouldShowLanguageDialog(settings)) {
        const LANGID before = settings.GetLanguage();
        const HRESULT chosen = ShowLanguageDialog(settings);
        if (chosen) return chosen;
        // The texts of the chosen language come from its file beside setup.ini.
        if (settings.GetLanguage() != before) RecordFailure(CopyLanguageFile(settings.GetLanguage()), 205);
    }
    if (!settings.hide_progress) RecordFailure(ShowProgressDialog(), 411);
    wizard_ = progress_dialog_;
    return 0;
}

HRESULT CSetup::CheckAllUsers()
{
    if (settings_->AllUsers != 0 && !qv::IsAdministrator()) return setup_needs_administrator;
    return 0;
}

HRESULT CSetup::EngineTypelib()
{
    auto install = reinterpret_cast<InstallEngineTypelibProc>(
        reinterpret_cast<void*>(GetProcAddress(engine_module_.get(), "InstallEngineTypelib")));
    if (!install) RecordFailure(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), 508);
    if (!install(settings_->no_engine ? TRUE : FALSE)) RecordFailure(E_FAIL, 512);
    return 0;
}

HRESULT CSetup::EngineObject()
{
    using GetClassObjectProc = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get_class_object = reinterpret_cast<GetClassObjectProc>(
        reinterpret_cast<void*>(GetProcAddress(engine_module_.get(), "DllGetClassObject")));
    if (!get_class_object) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    qv::com_ptr<IClassFactory> factory;
    HRESULT result = get_class_object(CLSID_RURavurEngine, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
    if (FAILED(result)) return result;
    if (!factory) return E_NOINTERFACE;
    result = factory->CreateInstance(nullptr, IID_IRURavurEngine, reinterpret_cast<void**>(engine_.put()));
    if (FAILED(result)) return result;
    if (!engine_) return E_NOINTERFACE;
    const zString media = settings_->GetMediaFolder().add_backslash();
    const zString disk1 = settings_->GetDisk1Folder().add_backslash();
    result = engine_->Attach(static_cast<qv::ISetupTransferEvents*>(this), media.c_str(), disk1.c_str());
    if (FAILED(result)) return result;
    engine_->GetController(controller_.put());
    engine_->GetNotificationSink(sink_.put());
    return 0;
}

HRESULT CSetup::HeaderFiles()
{
    if (!engine_) return E_POINTER;
    const zString url = settings_->GetMediaFolder();
    return engine_->ReadHeaderFiles(url.c_str(), web_user_.c_str(), web_password_.c_str(), web_proxy_user_.c_str(),
        web_proxy_password_.c_str());
}

HRESULT CSetup::OpenCabinet()
{
    if (!engine_) return E_POINTER;
    const zString media = settings_->GetMediaFolder().add_backslash();
    return engine_->OpenCabinet(media.c_str());
}

HRESULT CSetup::EngineProperties()
{
    if (!engine_) return E_POINTER;
    CSetupSettings& settings = *settings_;
    const zString support = settings.GetDisk1Folder().add_backslash();
    HRESULT result = engine_->SetSupportFolder(support.c_str());
    if (FAILED(result)) return result;
    zString language;
    language.format(L"%u", static_cast<unsigned>(settings.GetLanguage()));
    const zString launcher = settings.GetOriginalLauncher().empty() ? settings.GetLauncherPath() : settings.GetOriginalLauncher();
    const struct {
        const wchar_t* name;
        zString value;
    } properties[] = {
        {L"ProductCode", settings.GetProductCode()},
        {L"ProductName", settings.GetProductName()},
        {L"InstallGUID", settings.GetInstallGuid()},
        {L"Language", language},
        {L"Silent", settings.silent ? L"1" : L"0"},
        {L"Launcher", launcher},
    };
    for (const auto& property : properties) {
        result = engine_->SetProperty(property.name, property.value.c_str());
        if (FAILED(result)) return result;
    }
    return 0;
}

HRESULT CSetup::EngineCommandLine()
{
    if (!engine_) return E_POINTER;
    CSetupSettings& settings = *settings_;
    zString command;
    command.format(L" -sel_lang%04x", static_cast<unsigned>(settings.GetLanguage()));
    command += settings.pass_through_arguments;
    if (settings.media_on_web) command += L" -internet";
    BSTR log_file = nullptr;
    const HRESULT result = engine_->SetCommandLine(command.c_str(), setup_ini_.c_str(), &log_file);
    const zString log = log_file ? zString(log_file) : zString();
    SysFreeString(log_file);
    if (FAILED(result)) return result;
    if (!log.empty()) qv::CreateFolderForFile(log);
    return 0;
}

HRESULT CSetup::EngineInitialisation()
{
    if (!engine_) return E_POINTER;
    return engine_->Initialize(wizard_);
}

HRESULT CSetup::RunEngine(bool with_wizard)
{
    if (!engine_) return E_POINTER;
    return engine_->Run(with_wizard ? TRUE : FALSE);
}

HRESULT CSetup::FinishLaunch()
{
    if (!engine_) return E_POINTER;
    return engine_->Finish();
}

HRESULT CSetup::EngineResult(LONG& result)
{
    if (!engine_) return E_POINTER;
    qv::com_ptr<IRURavurResult> answer;
    HRESULT hr = engine_->QueryInterface(IID_IRURavurResult, reinterpret_cast<void**>(answer.put()));
    if (FAILED(hr)) return hr;
    if (!answer) return E_NOINTERFACE;
    hr = answer->GetResult(&result);
    return FAILED(hr) ? hr : 0;
}

void CSetup::DestroyWizard()
{
    if (wizard_ && wizard_ == progress_dialog_) progress_dialog_ = nullptr;
    if (wizard_ && IsWindow(wizard_)) DestroyWindow(wizard_);
    wizard_ = nullptr;
}
