#include "appended_offset.h"
