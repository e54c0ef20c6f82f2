// Unpacks the package appended to the launcher into a folder.
#pragma once

#include "zString.h"

#include <vector>

namespace qv {

// 0, or -1 (the launcher cannot be read), -805 (not found), -800 (an entry cannot be
// created, or names a path outside the target folder), -806 (an entry cannot be written or
// read whole). Files and folders made are appended to the lists that are given.
int CopyDisk1Files(const zString& launcher, const zString& target_folder, std::vector<zString>* files,
    std::vector<zString>* folders, bool extract_all);

}  // namespace qv
