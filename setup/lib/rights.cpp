#include "rights.h"

namespace qv {

}  // namespace qv
