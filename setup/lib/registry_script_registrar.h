// Registration scripts: a tree of class keys under "HKCR", read from 8-bit text, written below
// Software\Classes of the machine or of the user, and removed from there again.
#pragma once

#include "zString.h"

#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

class RegistryScriptRegistrar {
public:
    struct key_node {
        std::string name;
        bool no_remove = false;
        // Read and kept; neither writing nor removal acts on it.
        bool force_remove = false;
        // (name, data) in script order; an empty name is the key's default value.
        std::vector<std::pair<std::string, std::string>> values;
        std::vector<key_node> children;
    };
    using placeholder_map = std::map<std::string, std::string>;

    // Key levels below HKCR; a deeper script is refused rather than recursed into.
    static constexpr int max_depth = 64;
    // A larger file is refused before it is read.
    static constexpr LONGLONG max_script_bytes = 1 << 20;

    // Opens (making it when missing) Software\Classes of HKLM or HKCU. Tests point it at a key
    // of their own; the program never does.
    using open_classes_key_fn = LONG (*)(bool machine, REGSAM access, HKEY* out);
    static LONG open_real_classes_key(bool machine, REGSAM access, HKEY* out);
    open_classes_key_fn open_classes_key = open_real_classes_key;

    // Names between "%" signs in the data and their replacements, such as the module's path.
    placeholder_map placeholders;

    // The whole file parsed; false when it cannot be read or breaks the grammar. A failed load
    // leaves no tree, so nothing half-read is ever written.
    bool load(const zString& script_path);
    // The same for a script already in memory; it ends at its first zero.
    bool parse(std::string_view script);

    // Not `register`, which is a keyword. With continue_flag a failed key or value is passed
    // over and the rest still written; the answer is true only when everything was written.
    bool register_tree(bool machine, bool continue_flag);
    // Removes what the tree names, children first, keeping NoRemove keys; false when a key it
    // should remove is left, though it removes all it can.
    bool unregister_tree(bool machine);

    // The nameless node standing for HKCR: its values land on Software\Classes itself.
    const key_node& tree() const { return root_; }

    // The datum with its first placeholder, "%" name "%", replaced when the map knows the name;
    // any later one is kept as written.
    static std::string expand_placeholder(std::string_view datum, const placeholder_map& placeholders);

private:
    key_node root_;
};

}  // namespace qv
