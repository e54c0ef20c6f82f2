#include "qvmapfilex.h"
