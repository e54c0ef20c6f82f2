#include "DkView.h"
