#include "DkLayout.h"
