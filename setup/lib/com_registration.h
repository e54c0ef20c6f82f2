// A COM server registered or unregistered by what its file is: a type library, a DLL or
// OCX through its own entry points, an .EXE started with its switch; or by its registry
// script.
#pragma once

#include "zString.h"

namespace qv {

// The answer of the registration; the reason of a failure is in LastFileOpError. With
// per_user a DLL, OCX or type library registers for the current user only (on NT 5 or
// later). An .EXE must end within 5 seconds to count as registered.
bool RegisterModuleByType(zString path, bool register_it, bool per_user);

// The registry script beside a module (its name with ".rgs") registered in, or removed from,
// the machine's classes, with "%MODULEPATH%" standing for the module's path. A script that
// is missing or does not parse answers false and names the script.
bool RegisterModuleByScript(zString path, bool register_it);

}  // namespace qv
