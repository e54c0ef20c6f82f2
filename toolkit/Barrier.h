// Every window procedure, hook, thread procedure, timer and enumeration callback runs its
// body through Guarded: a C++ exception must never unwind into Windows (mingw's DWARF
// unwinder cannot cross a Win32 frame and the process dies silently).
#pragma once

#include <exception>
#include <utility>

// Reports the exception being handled: on the GUI thread through Application's exception
// handler, elsewhere to the debugger output. Never throws.
void ReportCallbackException() noexcept;

template <class R, class F>
R Guarded(R onFailure, F&& body) noexcept
{
    try {
        return std::forward<F>(body)();
    } catch (...) {
        ReportCallbackException();
        return onFailure;
    }
}

template <class F>
void Guarded(F&& body) noexcept
{
    try {
        std::forward<F>(body)();
    } catch (...) {
        ReportCallbackException();
    }
}
