// The deferred deletion of what a launcher run leaves in temporary places, and the removal of
// the launcher's own file and folder after its process has ended.
#pragma once

#include "zString.h"

#include <windows.h>

#include <vector>

// A local of the entry point: CSetup adds to it during the run, RunDeleter works it off
// after CSetup is gone.
struct Deleter {
    std::vector<zString> files;    // deleted in the order added
    std::vector<zString> folders;  // removed in reverse order of adding, when empty
    BYTE skip = 0;                 // set: nothing is deleted, the launcher itself neither
    BYTE self_delete = 0;          // set: the launcher's file and folder go after the process ends
};

// Deletes the files, then the folders, each tried up to 101 times 100 ms apart while it is
// there; arranges the self-removal when asked; empties both lists.
void RunDeleter(Deleter& deleter);

// Arranges that a removal process deletes the running executable (and, with `remove_folder`,
// its folder when empty) once this process has ended. True when the removal process was
// started; when it could not be handed its work, the executable is scheduled for deletion at
// the next restart instead. False when there is nothing to remove or no removal process.
bool RemoveSelfAfterExit(bool remove_folder);

namespace deleter_seams {
// The pause between two tries of a deletion: Sleep. Tests swap it; the program never does.
extern void (*wait)(DWORD milliseconds);
}  // namespace deleter_seams
