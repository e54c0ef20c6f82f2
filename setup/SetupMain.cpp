// setup's entry point: the process's error mode, COM and its security, the common controls,
// the trace, the run, and the deletion of what the run left in temporary folders.
#include "Deleter.h"
#include "Setup.h"
#include "system_info.h"
#include "trace_log.h"

#include <windows.h>
#include <aclapi.h>
#include <commctrl.h>
#include <objbase.h>

namespace {

// Only administrators, the service accounts, the caller itself and the system may call into
// the launcher's COM objects, and none of them with custom marshalling.
bool SetProcessComSecurity()
{
    SECURITY_DESCRIPTOR descriptor{};
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) return false;
    constexpr WELL_KNOWN_SID_TYPE kinds[] = {
        WinBuiltinAdministratorsSid, WinLocalServiceSid, WinNetworkServiceSid, WinSelfSid, WinLocalSystemSid};
    constexpr size_t count = sizeof kinds / sizeof kinds[0];
    alignas(DWORD) BYTE sids[count][72] = {};
    EXPLICIT_ACCESSW entries[count] = {};
    for (size_t i = 0; i < count; ++i) {
        DWORD size = sizeof sids[i];
        if (!CreateWellKnownSid(kinds[i], nullptr, sids[i], &size)) return false;
        entries[i].grfAccessPermissions = COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = NO_INHERITANCE;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = TRUSTEE_IS_GROUP;
        entries[i].Trustee.ptstrName = reinterpret_cast<LPWSTR>(sids[i]);
    }
    PACL list = nullptr;
    if (SetEntriesInAclW(count, entries, nullptr, &list) != ERROR_SUCCESS) return false;
    bool done = SetSecurityDescriptorOwner(&descriptor, sids[0], FALSE) &&
                SetSecurityDescriptorGroup(&descriptor, sids[0], FALSE) &&
                SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE);
    if (done)
        done = SUCCEEDED(CoInitializeSecurity(&descriptor, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
            RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NO_CUSTOM_MARSHAL, nullptr));
    LocalFree(list);
    return done;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int)
{
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (qv::GetOsMajorVersion() >= 6) SetProcessComSecurity();
    InitCommonControls();

    wchar_t module[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    qv::InitTracing(instance);
    qv::TraceRecord(L"EXEProcessBegin", L"RURavurInit", L"EXE=%s", module);

    Deleter deleter;
    int result = launcher_error_unnumbered;
    try {
        CSetup setup(&deleter);
        result = setup.Run(instance, module, command_line ? command_line : L"");
    } catch (...) {
        // The run keeps its own failures; only a fault of its tear-down ends up here.
    }
    RunDeleter(deleter);
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
