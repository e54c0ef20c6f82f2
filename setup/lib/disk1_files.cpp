#include "disk1_files.h"
