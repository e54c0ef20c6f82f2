#pragma once

#include "zString.h"

namespace qv {

// Platform NT and a major version above 4; false when Windows gives no version.
bool IsNt5OrLater();

}  // namespace qv
