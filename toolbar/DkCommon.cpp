#include "DkCommon.h"
