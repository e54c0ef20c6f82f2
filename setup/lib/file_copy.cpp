#include "file_copy.h"
