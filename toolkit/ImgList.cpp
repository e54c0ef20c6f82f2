#include "ImgList.h"
