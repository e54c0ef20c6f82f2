// A COM server registered or unregistered by what its file is: a type library, a DLL or
// OCX through its own entry points.
#pragma once

#include "zString.h"

namespace qv {

// The answer of the registration; the reason of a failure is in LastFileOpError. With
// per_user a DLL, OCX or type library registers for the current user only.
bool RegisterModuleByType(zString path, bool register_it, bool per_user);

}  // namespace qv
