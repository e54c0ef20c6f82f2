#include "DkItem.h"
