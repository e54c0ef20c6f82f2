#include "text_files.h"
