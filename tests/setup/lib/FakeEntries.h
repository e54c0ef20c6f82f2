// The resolver of a case: entry points looked up by name are taken away or replaced, the
// rest resolve as they really do; the real resolver is back when the object goes.
#pragma once

#include "os_entry.h"

#include <map>
#include <string>
#include <vector>

class fake_entries {
public:
    fake_entries() : kept_(qv::os_seams::resolve)
    {
        current_ = this;
        qv::os_seams::resolve = resolve;
    }
    ~fake_entries()
    {
        qv::os_seams::resolve = kept_;
        current_ = nullptr;
    }
    fake_entries(const fake_entries&) = delete;
    fake_entries& operator=(const fake_entries&) = delete;

    void hide(const char* name) { replaced_[name] = nullptr; }
    // A WINAPI function of the test's own in place of the entry point.
    template <class Fn>
    void replace(const char* name, Fn fn)
    {
        replaced_[name] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fn));
    }
    // Every name looked up while the object stood, in order.
    std::vector<std::string> asked;

private:
    static FARPROC resolve(const wchar_t* module, const char* name)
    {
        current_->asked.push_back(name);
        const auto found = current_->replaced_.find(name);
        return found != current_->replaced_.end() ? found->second : current_->kept_(module, name);
    }
    static inline fake_entries* current_ = nullptr;
    FARPROC (*kept_)(const wchar_t*, const char*);
    std::map<std::string, FARPROC> replaced_;
};
