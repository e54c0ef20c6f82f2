#include "registry_script_registrar.h"

#include "handle.h"

#include <algorithm>

namespace qv {

namespace {

// KEY_READ with KEY_SET_VALUE and KEY_CREATE_SUB_KEY.
constexpr REGSAM write_access = 0x2001F;

using key_node = RegistryScriptRegistrar::key_node;
using placeholder_map = RegistryScriptRegistrar::placeholder_map;

// In the order of their codes.
enum class token {
    root,
    open_brace,
    close_brace,
    no_remove,
    force_remove,
    value,
    equals,
    string_type,
    number_type,
    line_end,
    end,
    text,
    unterminated_quote,
};

class scanner {
public:
    explicit scanner(std::string_view script) : s_(script) {}

    // The next token stays in place until it is taken.
    token peek()
    {
        if (!peeked_) {
            next_ = scan();
            peeked_ = true;
        }
        return next_;
    }
    void take() { peeked_ = false; }
    // The last text token's text.
    const std::string& text() const { return text_; }

private:
    // A position found once and kept while the scan has not passed it, so lines full of
    // braces are not searched again for every one.
    struct found {
        size_t at = 0;
        bool known = false;
    };

    size_t next_of(found& kept, std::string_view set)
    {
        if (!kept.known || kept.at < at_) {
            kept.at = s_.find_first_of(set, at_);
            kept.known = true;
        }
        return kept.at;
    }

    // A "{" with a "}" after it on its line starts a word: braced identifiers stay names.
    bool closed_on_its_line()
    {
        const size_t brace = next_of(brace_, "}");
        return brace != std::string_view::npos && brace < next_of(line_end_, "\r\n");
    }

    token scan()
    {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t')) ++at_;
        if (at_ >= s_.size()) return token::end;
        switch (s_[at_]) {
        case '\r':
            ++at_;
            if (at_ < s_.size() && s_[at_] == '\n') ++at_;
            after_equals_ = false;
            return token::line_end;
        case '\n':
            ++at_;
            after_equals_ = false;
            return token::line_end;
        case '}': ++at_; return token::close_brace;
        case '=':
            ++at_;
            after_equals_ = true;
            return token::equals;
        case '\'': {
            // No quote spans a line: a missing closing quote would otherwise swallow the
            // script's lines up to the next quote anywhere.
            const size_t close = s_.find_first_of("'\r\n", at_ + 1);
            if (close == std::string_view::npos || s_[close] != '\'') return token::unterminated_quote;
            text_.assign(s_.substr(at_ + 1, close - at_ - 1));
            at_ = close + 1;
            return token::text;
        }
        case '{':
            if (!closed_on_its_line()) {
                ++at_;
                return token::open_brace;
            }
            break;
        default: break;
        }
        const size_t end = std::min(s_.find_first_of(" \t\r\n=", at_), s_.size());
        text_.assign(s_.substr(at_, end - at_));
        at_ = end;
        if (text_ == "HKCR") return token::root;
        if (text_ == "NoRemove") return token::no_remove;
        if (text_ == "ForceRemove") return token::force_remove;
        if (text_ == "val") return token::value;
        if (after_equals_ && text_ == "s") return token::string_type;
        if (after_equals_ && text_ == "d") return token::number_type;
        return token::text;
    }

    std::string_view s_;
    size_t at_ = 0;
    bool after_equals_ = false;
    bool peeked_ = false;
    token next_ = token::end;
    std::string text_;
    found brace_, line_end_;
};

// One key per node: an empty name would open the parent itself, and removal would then delete
// the parent; a path would leave its upper keys behind when removed.
bool names_one_key(const std::string& name)
{
    return !name.empty() && name.find('\\') == std::string::npos;
}

class parser {
public:
    explicit parser(std::string_view script) : scan_(script) {}

    bool script(key_node& root)
    {
        if (!take(token::root) || !take(token::line_end) || !block(root, 1)) return false;
        // Only blank lines may follow: anything more would be left unregistered unseen.
        while (take(token::line_end)) {
        }
        return take(token::end);
    }

private:
    bool take(token t)
    {
        if (scan_.peek() != t) return false;
        scan_.take();
        return true;
    }
    bool take_text(std::string& out)
    {
        if (!take(token::text)) return false;
        out = scan_.text();
        return true;
    }

    // The keys and values of `node`; depth counts the key levels below HKCR.
    bool block(key_node& node, int depth)
    {
        if (depth > RegistryScriptRegistrar::max_depth) return false;
        if (!take(token::open_brace) || !take(token::line_end)) return false;
        for (;;) {
            switch (scan_.peek()) {
            case token::line_end: scan_.take(); break;  // users write blank lines
            case token::close_brace: scan_.take(); return take(token::line_end) || take(token::end);
            case token::value:
                scan_.take();
                if (!value_line(node)) return false;
                break;
            default:
                if (!key_line(node, depth)) return false;
                break;
            }
        }
    }

    bool key_line(key_node& parent, int depth)
    {
        key_node key;
        if (take(token::force_remove)) key.force_remove = true;
        else if (take(token::no_remove)) key.no_remove = true;
        if (!take_text(key.name) || !names_one_key(key.name)) return false;
        if (take(token::equals)) {
            std::string data;
            if (!take(token::string_type) || !take_text(data)) return false;
            key.values.emplace_back(std::string(), std::move(data));
        }
        if (!take(token::line_end)) return false;
        if (scan_.peek() == token::open_brace && !block(key, depth + 1)) return false;
        parent.children.push_back(std::move(key));
        return true;
    }

    // After "val": only string data is written, so "d" is refused here.
    bool value_line(key_node& node)
    {
        std::string name, data;
        if (!take_text(name) || !take(token::equals) || !take(token::string_type) || !take_text(data)
            || !take(token::line_end))
            return false;
        node.values.emplace_back(std::move(name), std::move(data));
        return true;
    }

    scanner scan_;
};

zString wide(const std::string& text)
{
    return zString(text.data(), static_cast<int>(text.size()), CP_ACP);
}

bool write_node(HKEY key, const key_node& node, const placeholder_map& placeholders, bool continue_flag)
{
    bool all = true;
    for (const auto& [name, datum] : node.values) {
        const zString data = wide(RegistryScriptRegistrar::expand_placeholder(datum, placeholders));
        const LONG result = RegSetValueExW(key, wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        if (result != ERROR_SUCCESS) {
            if (!continue_flag) return false;
            all = false;
        }
    }
    for (const key_node& child : node.children) {
        registry_key opened;
        const bool written = RegCreateKeyExW(key, wide(child.name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 write_access, nullptr, opened.put(), nullptr)
                                 == ERROR_SUCCESS
                             && write_node(opened.get(), child, placeholders, continue_flag);
        if (!written) {
            if (!continue_flag) return false;
            all = false;
        }
    }
    return all;
}

// The children of `node` below `key`, deepest first; false when one that should go is left.
bool remove_children(HKEY key, const key_node& node)
{
    bool all = true;
    for (const key_node& child : node.children) {
        const zString name = wide(child.name);
        {
            registry_key opened;
            const LONG result = RegOpenKeyExW(key, name.c_str(), 0, write_access, opened.put());
            if (result == ERROR_FILE_NOT_FOUND) continue;
            if (result != ERROR_SUCCESS) {
                all = false;
                continue;
            }
            if (!remove_children(opened.get(), child)) all = false;
        }
        // A key with subkeys the script does not name stays, and that is a failure.
        if (!child.no_remove && RegDeleteKeyW(key, name.c_str()) != ERROR_SUCCESS) all = false;
    }
    return all;
}

}  // namespace

LONG RegistryScriptRegistrar::open_real_classes_key(bool machine, REGSAM access, HKEY* out)
{
    return RegCreateKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
        REG_OPTION_NON_VOLATILE, access, nullptr, out, nullptr);
}

bool RegistryScriptRegistrar::load(const zString& script_path)
{
    root_ = key_node();
    const file_handle file(
        CreateFileW(script_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > max_script_bytes) return false;
    std::string script(static_cast<size_t>(size.QuadPart), '\0');
    DWORD done = 0;
    if (!script.empty()
        && (!ReadFile(file.get(), script.data(), static_cast<DWORD>(script.size()), &done, nullptr) || done != script.size()))
        return false;
    return parse(script);
}

bool RegistryScriptRegistrar::parse(std::string_view script)
{
    root_ = key_node();
    parser reader(script.substr(0, script.find('\0')));
    if (reader.script(root_)) return true;
    root_ = key_node();
    return false;
}

bool RegistryScriptRegistrar::register_tree(bool machine, bool continue_flag)
{
    registry_key classes;
    if (open_classes_key(machine, write_access, classes.put()) != ERROR_SUCCESS) return false;
    return write_node(classes.get(), root_, placeholders, continue_flag);
}

bool RegistryScriptRegistrar::unregister_tree(bool machine)
{
    registry_key classes;
    if (open_classes_key(machine, write_access, classes.put()) != ERROR_SUCCESS) return false;
    return remove_children(classes.get(), root_);
}

std::string RegistryScriptRegistrar::expand_placeholder(std::string_view datum, const placeholder_map& placeholders)
{
    const size_t first = datum.find('%');
    if (first == std::string_view::npos) return std::string(datum);
    const size_t second = datum.find('%', first + 1);
    if (second == std::string_view::npos) return std::string(datum);
    const auto found = placeholders.find(std::string(datum.substr(first + 1, second - first - 1)));
    if (found == placeholders.end()) return std::string(datum);
    return std::string(datum.substr(0, first)) + found->second + std::string(datum.substr(second + 1));
}

}  // namespace qv
