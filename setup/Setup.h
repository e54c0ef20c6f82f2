// The launcher's top-level object: from the command line to a started installation engine
// and back to the exit code.
#pragma once

#include "Deleter.h"
#include "ISetupTransferEvents.h"
#include "RURavurEngine.h"
#include "SetupPrereqMgrCallback.h"
#include "SplashWindow.h"
#include "handle.h"
#include "zString.h"

#include <windows.h>

#include <memory>

class CSetupSettings;

// The launcher's failure "jump": thrown by RecordFailure with the first failure's code and
// caught at the innermost jump point, so every object of the sequences it leaves unwinds.
struct launcher_failure {
    HRESULT code;
};

// Codes of the launcher's own.
inline constexpr HRESULT setup_cancelled = static_cast<HRESULT>(0x80042000);
inline constexpr HRESULT setup_needs_administrator = static_cast<HRESULT>(0x80042002);
inline constexpr HRESULT setup_error_dialog_asked = static_cast<HRESULT>(0x8000FFFF);
inline constexpr HRESULT engine_not_loaded = -5003;

// The launcher error numbers: the exit code after a failure.
enum launcher_error : LONG {
    launcher_error_unnumbered = -5001,
    launcher_error_typelib = -5003,
    launcher_error_engine_object = -5004,
    launcher_error_cabinet = -5005,
    launcher_error_properties = -5006,
    launcher_error_command_line = -5008,
    launcher_error_initialisation = -5009,
    launcher_error_run = -5011,
    launcher_error_finish = -5012,
    launcher_error_relaunch = -5017,
    launcher_error_startup_dialogs = -6008,
};

// The bar's position after `total` of `expected` bytes, from `base` up to at most 95.
int ProgressPosition(int base, ULONGLONG total, ULONGLONG expected) noexcept;
// "1.5 KB/sec": one decimal, kilobytes up to 1 MB a second, megabytes above.
zString TransferRateText(ULONG bytes_per_second, const zString& kilobytes, const zString& megabytes,
    const zString& per_second);

// The instance of the running launcher, for the code that loads its resources.
HINSTANCE SetupInstance() noexcept;

class CSetup : public qv::ISetupTransferEvents, public CSetupPrereqMgrCallback {
public:
    explicit CSetup(Deleter* deleter);
    ~CSetup() override;  // tear-down
    CSetup(const CSetup&) = delete;
    CSetup& operator=(const CSetup&) = delete;

    int Run(HINSTANCE instance, const zString& launcher_path, const zString& command_line);

    // 0 passes through; any other code is kept when it is the first and thrown to the
    // innermost jump point.
    HRESULT RecordFailure(HRESULT code, int line);

    HRESULT LaunchWithUi();
    HRESULT LaunchAfterReboot();

    // What the error report reads.
    HRESULT FirstFailure() const noexcept { return failure_code_; }
    int FailureLine() const noexcept { return failure_line_; }
    const zString& FailureSource() const noexcept { return failure_source_; }
    LONG LauncherError() const noexcept { return launcher_error_; }
    void SetLauncherError(LONG number) noexcept { launcher_error_ = number; }
    CSetupSettings* Settings() const noexcept { return settings_.get(); }
    DWORD LauncherState() const noexcept { return state_; }

    // The progress bar of the main window; it never moves back.
    void SetProgressPosition(int position);
    // The splash time left; true when the user cancelled meanwhile.
    bool WaitForSplashTime();
    // Waits `milliseconds` while the window stays alive; true when cancelled.
    bool TimedWait(DWORD milliseconds);
    // Every waiting message, until none is left or the user cancels; true when cancelled.
    bool PumpMessages();
    void CloseProgressDialog();

    // ISetupTransferEvents
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnTransferBegin(LPCWSTR source, LPCWSTR target) override;
    HRESULT STDMETHODCALLTYPE OnTransferEnd(LPCWSTR source, HRESULT result) override;
    HRESULT STDMETHODCALLTYPE OnFileBegin(LPCWSTR name, ULONGLONG size) override;
    HRESULT STDMETHODCALLTYPE OnFileEnd(LPCWSTR name, HRESULT result) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG bytes) override;
    HRESULT STDMETHODCALLTYPE QueryValueA(LONG* value) override;
    HRESULT STDMETHODCALLTYPE QueryValueB(LONG* value) override;
    HRESULT STDMETHODCALLTYPE QueryValueC(LONG* value) override;
    HRESULT STDMETHODCALLTYPE OnFileQuery(LPCWSTR file_name, LONG* value) override;
    HRESULT STDMETHODCALLTYPE QueryValueD(LONG a, LONG b, LONG c, LONG* value) override;
    HRESULT STDMETHODCALLTYPE QueryA(LONG a) override;
    HRESULT STDMETHODCALLTYPE QueryB(LONG a) override;
    HRESULT STDMETHODCALLTYPE QueryValueE(LONG a, LONG* value) override;
    HRESULT STDMETHODCALLTYPE OnTransferRate(ULONG bytes_per_second) override;
    HRESULT STDMETHODCALLTYPE OnTransferError(HWND owner, DWORD error, DWORD flags, LONG* answer) override;
    HRESULT STDMETHODCALLTYPE ForwardQuery(IUnknown* argument) override;
    HRESULT STDMETHODCALLTYPE GetSettingText(BSTR* text) override;

    // CSetupPrereqMgrCallback
    int GetInstallMode() override { return 0; }
    void AddFileToDelete(const zString& path) override;
    void AddFolderToDelete(const zString& path) override;
    HWND GetMainWindow() override { return wizard_; }
    bool CancelRequested() override { return setup_state::cancel_flag != 0; }
    void SetProgress(int position) override;
    void SetProperty(const zString&, const zString&) override {}
    zString GetString(UINT) override { return {}; }
    void SetResumeIndex(LONG value) override { setup_state::resume_value = value; }
    LONG GetResumeIndex() override { return setup_state::resume_value; }
    bool GetLauncherOption(int) override { return false; }
    CSetupSettings* GetSettings() override { return settings_.get(); }
    int LocatePrqFile(const zString&, const zString&, zString*, DWORD) override { return 1; }
    int OnPrerequisitesDone() override;
    zString GetSetupIniString(const zString& section, const zString& key) override;
    int ReservedA(int) override { return 1; }
    int ReservedB() override { return 1; }
    void ReservedC(int) override {}
    zString ReservedD() override { return {}; }
    bool ReservedE() override { return false; }
    void ReservedF(int) override {}
    void SetStatusText(const zString& text) override;
    int ReservedG(int) override { return 0; }
    void ReservedH(int, int) override {}
    bool ReservedI() override { return true; }
    zString GetRelaunchSwitches() override;

    // What a transfer's progress is measured against; the base is where the bar starts.
    void SetExpectedTransfer(ULONGLONG total, int base) noexcept;

private:
    // Runs one numbered step: a failure that passes through it sets its launcher error
    // number.
    template <class Step>
    HRESULT NumberedStep(LONG number, Step&& step);

    int RunSequence(const zString& launcher_path, const zString& command_line);
    // The run's result after a failure: 0x80042000 for a cancel, else the launcher error
    // number.
    int ErrorPath(HRESULT code);
    bool HasAppendedPackage() const;
    HRESULT LocateMedia();
    HRESULT CopyDisk1FileToTemp(const zString& name, int line);
    HRESULT RelaunchFromTemp(const zString& command_line);
    HRESULT CopyLanguageFile(LANGID language);
    HRESULT LoadEngine();
    HRESULT StartupUi(bool& go_on);
    HRESULT CheckAllUsers();
    HRESULT EngineTypelib();
    HRESULT EngineObject();
    HRESULT HeaderFiles();
    HRESULT OpenCabinet();
    HRESULT EngineProperties();
    HRESULT EngineCommandLine();
    HRESULT EngineInitialisation();
    HRESULT RunEngine(bool with_wizard);
    HRESULT FinishLaunch();
    HRESULT ShowProgressDialog();
    void DestroyWizard();
    HRESULT EngineResult(LONG& result);

    zString failure_source_ = L"setup";
    HRESULT failure_code_ = 0;
    int failure_line_ = 0;
    bool admin_or_power_user_ = false;
    std::unique_ptr<CSetupSettings> settings_;
    HINSTANCE instance_ = nullptr;
    HWND wizard_ = nullptr;
    qv::com_ptr<IRURavurEngine> engine_;
    qv::com_ptr<IUnknown> controller_;
    qv::com_ptr<IRURavurNotify> sink_;
    DWORD state_ = 3;
    zString setup_ini_;
    zString web_user_, web_password_, web_proxy_user_, web_proxy_password_;
    LONG launcher_error_ = 0;
    DWORD splash_tick_ = 0;
    qv::module_handle engine_module_;
    Deleter* deleter_;
    qv::kernel_handle mutex_;

    // Transfers.
    qv::com_ptr<qv::ISetupTransferEvents> listener_;
    ULONGLONG transferred_ = 0;
    ULONGLONG expected_ = 0;
    int base_position_ = 0;
    int last_position_ = -1;
    int support_program_queries_ = 0;
    DWORD last_rate_tick_ = 0;
    ULONG last_rate_ = 0;
    CSplashWindow splash_;

    // The progress dialog.
    HWND progress_dialog_ = nullptr;
    int highest_position_ = 0;
};
