#include "process_launch.h"

namespace qv {

}  // namespace qv
