#include "DkImageList.h"
