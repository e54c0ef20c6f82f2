#pragma once

#include "zString.h"

namespace qv {

}  // namespace qv
