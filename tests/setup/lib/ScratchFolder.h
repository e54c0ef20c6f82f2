// A fresh folder of the case's own under the temp folder, removed with all that the case left
// in it when the case ends. Without gtest: trace_writer.cpp, a plain program, includes it too.
#pragma once

#include "handle.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

class scratch_folder {
public:
    // <temp>\<tag>_<process id>_<n>: n counts the folders of this process, so two never meet.
    explicit scratch_folder(std::wstring_view tag)
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static LONG made = 0;
        path_ = std::wstring(temp) + std::wstring(tag) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_"
                + std::to_wstring(InterlockedIncrement(&made));
        remove_tree(path_);  // left by an earlier process of the same id that did not get to its end
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~scratch_folder() { remove_tree(path_); }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    // Without the closing backslash.
    const std::wstring& path() const { return path_; }
    std::wstring join(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

    // The file `name` holding exactly `content`; its path.
    std::wstring write(std::wstring_view name, const std::vector<unsigned char>& content) const
    {
        const std::wstring path = join(name);
        const qv::file_handle file(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        if (file && !content.empty())
            WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &done, nullptr);
        return path;
    }

    // The names of the files and folders in it.
    std::vector<std::wstring> names() const
    {
        std::vector<std::wstring> out;
        for_each_entry(path_, [&](const WIN32_FIND_DATAW& found) { out.push_back(found.cFileName); });
        return out;
    }

private:
    template <class Visit>
    static void for_each_entry(const std::wstring& folder, Visit visit)
    {
        WIN32_FIND_DATAW found;
        const qv::find_handle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
        if (!find) return;
        do {
            if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) visit(found);
        } while (FindNextFileW(find.get(), &found));
    }

    // Each level's search is closed before anything in it goes.
    static void remove_tree(const std::wstring& folder)
    {
        std::vector<std::wstring> files, folders;
        for_each_entry(folder, [&](const WIN32_FIND_DATAW& found) {
            const bool descend = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                                 && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            (descend ? folders : files).push_back(folder + L"\\" + found.cFileName);
        });
        for (const std::wstring& file : files)
            if (!DeleteFileW(file.c_str())) RemoveDirectoryW(file.c_str());  // a linked folder is removed, not entered
        for (const std::wstring& sub : folders) remove_tree(sub);
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
};
