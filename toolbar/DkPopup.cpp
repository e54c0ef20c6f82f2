#include "DkPopup.h"
