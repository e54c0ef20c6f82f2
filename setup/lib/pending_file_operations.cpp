#include "pending_file_operations.h"

namespace qv {

}  // namespace qv
