// A whole file mapped into memory for reading, or a file of a given size created and mapped
// for writing and cut to the size actually used when it is closed. Every kernel32 entry point
// is looked up by name when it is needed; failures are results and LastFileOpError.
#pragma once

#include "zString.h"

#include <windows.h>

namespace qv {

class qvmapfilex {
public:
    qvmapfilex() noexcept = default;
    qvmapfilex(const zString& path, DWORD& size, bool writable);
    qvmapfilex(const qvmapfilex&) = delete;
    qvmapfilex& operator=(const qvmapfilex&) = delete;
    virtual ~qvmapfilex();

    // size 0 maps the whole file and gives back its length; a writable map creates the file
    // (replacing one of that name) with `size` bytes. On failure nothing stays open.
    bool open(const zString& path, DWORD& size, bool writable);
    // A writable file is cut to `size` here: set it to the bytes filled before closing.
    void close() noexcept;

    void* view = nullptr;  // the file's first byte while mapped
    bool mapped = false;
    HANDLE file = nullptr;
    HANDLE mapping = nullptr;
    bool writable = false;
    DWORD size = 0;

private:
    void release(DWORD end) noexcept;
};

}  // namespace qv
