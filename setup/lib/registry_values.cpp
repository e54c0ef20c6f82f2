#include "registry_values.h"

namespace qv {

}  // namespace qv
