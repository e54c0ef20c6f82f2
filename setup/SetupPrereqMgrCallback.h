// The interface through which the prerequisite manager, each prerequisite and the
// prerequisite dialog report to the launcher and read its settings. The launcher implements
// it; the manager implements it too and forwards every operation, in this order, to its
// owner. The meaning of the reserved operations belongs to their callers.
#pragma once

#include "zString.h"

#include <windows.h>

class CSetupSettings;

// Two values shared by the launcher and the prerequisites for the whole process.
namespace setup_state {
// Where a prerequisite run resumes after a restart; -1 at start.
inline LONG resume_value = -1;
// Set by a dialog when the user cancels, cleared when it is reported.
inline BYTE cancel_flag = 0;
}  // namespace setup_state

class CSetupPrereqMgrCallback {
public:
    CSetupPrereqMgrCallback() { setup_state::resume_value = -1; }
    CSetupPrereqMgrCallback(const CSetupPrereqMgrCallback&) = delete;
    CSetupPrereqMgrCallback& operator=(const CSetupPrereqMgrCallback&) = delete;
    virtual ~CSetupPrereqMgrCallback() = default;

    virtual int GetInstallMode() = 0;
    virtual void AddFileToDelete(const zString& path) = 0;
    virtual void AddFolderToDelete(const zString& path) = 0;
    virtual HWND GetMainWindow() = 0;
    virtual bool CancelRequested() = 0;
    virtual void SetProgress(int position) = 0;
    virtual void SetProperty(const zString& name, const zString& value) = 0;
    virtual zString GetString(UINT id) = 0;
    virtual void SetResumeIndex(LONG value) = 0;
    virtual LONG GetResumeIndex() = 0;
    virtual bool GetLauncherOption(int number) = 0;
    virtual CSetupSettings* GetSettings() = 0;
    virtual int LocatePrqFile(const zString& name, const zString& folder, zString* found, DWORD flags) = 0;
    virtual int OnPrerequisitesDone() = 0;
    virtual zString GetSetupIniString(const zString& section, const zString& key) = 0;
    virtual int ReservedA(int value) = 0;
    virtual int ReservedB() = 0;
    virtual void ReservedC(int value) = 0;
    virtual zString ReservedD() = 0;
    virtual bool ReservedE() = 0;
    virtual void ReservedF(int value) = 0;
    virtual void SetStatusText(const zString& text) = 0;
    virtual int ReservedG(int value) = 0;
    virtual void ReservedH(int first, int second) = 0;
    virtual bool ReservedI() = 0;
    virtual zString GetRelaunchSwitches() = 0;
};
