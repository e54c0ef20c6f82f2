// Where the data appended behind a launcher's PE image begins.
#pragma once

#include "zString.h"

#include <windows.h>

namespace qv {

// The file offset behind the image, its debug data past the image and, unless left out, its
// certificate table; 0 when the file cannot be mapped or is not a well-formed image.
DWORD GetAppendedDataOffset(const zString& path, bool leave_out_certificate);

}  // namespace qv
