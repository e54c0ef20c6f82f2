#include "inifilex.h"
