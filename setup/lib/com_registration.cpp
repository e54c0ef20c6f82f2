#include "com_registration.h"

#include "file_system.h"
#include "handle.h"
#include "process_launch.h"
#include "registry_script_registrar.h"
#include "system_folders.h"
#include "system_info.h"

#include <oleauto.h>

namespace qv {

namespace {

bool register_type_library(const zString& path, bool register_it)
{
    ITypeLib* library = nullptr;
    HRESULT result = LoadTypeLib(path.c_str(), &library);
    if (SUCCEEDED(result)) {
        if (register_it) {
            result = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()), nullptr);
        } else {
            TLIBATTR* attributes = nullptr;
            result = library->GetLibAttr(&attributes);
            if (SUCCEEDED(result)) {
                result = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                    attributes->lcid, attributes->syskind);
                library->ReleaseTLibAttr(attributes);
            }
        }
        library->Release();
    }
    if (FAILED(result)) SetLastFileOpError(static_cast<DWORD>(result));
    return SUCCEEDED(result);
}

bool register_library(const zString& path, bool register_it)
{
    const module_handle library(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) {
        CaptureLastError();
        return false;
    }
    using entry_fn = HRESULT(STDAPICALLTYPE*)();
    const auto entry = reinterpret_cast<entry_fn>(reinterpret_cast<void*>(
        GetProcAddress(library.get(), register_it ? "DllRegisterServer" : "DllUnregisterServer")));
    if (!entry) {
        SetLastFileOpError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    const HRESULT result = entry();
    if (FAILED(result)) SetLastFileOpError(static_cast<DWORD>(result));
    return SUCCEEDED(result);
}

// An .EXE server registers itself when started with the switch, in a process of its own.
bool register_executable(const zString& path, bool register_it)
{
    LaunchRequest request;
    request.program = path;
    request.arguments = register_it ? L" /REGSERVER" : L" /UNREGSERVER";
    request.verb = L"open";
    request.wait_flags = wait_for_program;
    request.time_out = 5000;
    return LaunchProcess(request) == launch_done;
}

}  // namespace

bool RegisterModuleByType(zString path, bool register_it, bool per_user)
{
    SetLastFileOpError(0);
    RecordFailedPath(path);
    if (path.empty()) return false;
    const zString extension = path.extension_part();
    if (extension.equals(L".EXE")) return register_executable(path, register_it);
    const bool type_library = extension.equals(L".TLB");
    if (!type_library && !extension.equals(L".DLL") && !extension.equals(L".OCX")) return false;
    // Classes root points at the user's classes for the registration and back afterwards,
    // whatever the registration answered. Before NT 5 Windows has no classes of the user.
    const bool redirected = per_user && IsNt5OrLater() && RedirectClassesRoot();
    const bool done = type_library ? register_type_library(path, register_it) : register_library(path, register_it);
    if (redirected) RestoreClassesRoot();
    return done;
}

bool RegisterModuleByScript(zString path, bool register_it)
{
    SetLastFileOpError(0);
    RecordFailedPath(path);
    if (path.empty()) return false;
    const zString script = zString(path).replace_extension(L".rgs");
    RegistryScriptRegistrar registrar;
    if (!registrar.load(script)) {
        SetLastFileOpError(OsGetFileAttributes(script) == INVALID_FILE_ATTRIBUTES ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_DATA);
        RecordFailedPath(script);
        return false;
    }
    // The script is 8-bit text: the path goes in in the ANSI code page.
    registrar.placeholders["MODULEPATH"] = path.narrow();
    const bool done = register_it ? registrar.register_tree(true, false) : registrar.unregister_tree(true);
    if (!done) SetLastFileOpError(ERROR_CANTWRITE);
    return done;
}

}  // namespace qv
