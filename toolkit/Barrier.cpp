#include "Barrier.h"

#include "Application.h"

#include <windows.h>

void ReportCallbackException() noexcept
{
    try {
        if (InMainThread()) {
            Application->HandleException(nullptr);
            return;
        }
        try {
            throw;
        } catch (const std::exception& e) {
            OutputDebugStringA(e.what());
        }
    } catch (...) {
        OutputDebugStringA("exception in a callback");
    }
}
