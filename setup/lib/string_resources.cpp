#include "string_resources.h"

namespace qv {

}  // namespace qv
