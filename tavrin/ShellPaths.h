// The user's special folders, as the shell names them.
#pragma once

#include "Classes.h"

#include <string>

class TSpecialFolders : public TComponent {
public:
    using TComponent::TComponent;

    // Each asks the shell; "Path not available on this system" when it has none.
    static std::string Folder(int csidl);

    std::string Desktop() const { return Folder(0); }
    std::string Programs() const { return Folder(2); }
    std::string Controls() const { return Folder(3); }
    std::string Printers() const { return Folder(4); }
    std::string Personal() const { return Folder(5); }
    std::string Startup() const { return Folder(7); }
    std::string Recent() const { return Folder(8); }
    std::string SendTo() const { return Folder(9); }
    std::string BitBucket() const { return Folder(10); }
    std::string StartMenu() const { return Folder(11); }
    std::string DesktopDirectory() const { return Folder(16); }
    std::string Drives() const { return Folder(17); }
    std::string Network() const { return Folder(18); }
    std::string NetHood() const { return Folder(19); }
    std::string Fonts() const { return Folder(20); }
    std::string Templates() const { return Folder(21); }
    std::string AppData() const { return Folder(26); }
    std::string CommonAppData() const { return Folder(35); }
    std::string CommonDocuments() const { return Folder(46); }
};
