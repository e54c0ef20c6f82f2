// The sink that the launcher hands to its file transfers and to the installation engine:
// progress, rates and the questions a transfer may ask. The order of the operations is the
// interface's binary layout; the launcher implements it, the transfer code only calls it.
// What the fixed answers of the value queries mean belongs to their callers in the engine.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace qv {

// {DFFF6DB3-B18B-4A5E-B55C-218197FEE0BA}
inline constexpr IID IID_ISetupTransferEvents = {
    0xdfff6db3, 0xb18b, 0x4a5e, {0xb5, 0x5c, 0x21, 0x81, 0x97, 0xfe, 0xe0, 0xba}};

// What a transfer error may be answered with: try again, or give up.
inline constexpr DWORD transfer_answer_retry = 0x2f00;  // ERROR_INTERNET_FORCE_RETRY
inline constexpr DWORD transfer_answer_cancel = ERROR_CANCELLED;

struct ISetupTransferEvents : public IUnknown {
    // Four events, forwarded by the launcher to an attached listener.
    virtual HRESULT STDMETHODCALLTYPE OnTransferBegin(LPCWSTR source, LPCWSTR target) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnTransferEnd(LPCWSTR source, HRESULT result) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnFileBegin(LPCWSTR name, ULONGLONG size) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnFileEnd(LPCWSTR name, HRESULT result) = 0;
    // Bytes moved since the last call; a failure code stops the transfer.
    virtual HRESULT STDMETHODCALLTYPE OnProgress(ULONG bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryValueA(LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryValueB(LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryValueC(LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnFileQuery(LPCWSTR file_name, LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryValueD(LONG a, LONG b, LONG c, LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryA(LONG a) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryB(LONG a) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryValueE(LONG a, LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnTransferRate(ULONG bytes_per_second) = 0;
    // Asked before the system's error dialog: an answer of transfer_answer_retry or
    // transfer_answer_cancel is taken as the user's; any other answer shows the dialog.
    virtual HRESULT STDMETHODCALLTYPE OnTransferError(HWND owner, DWORD error, DWORD flags, LONG* answer) = 0;
    virtual HRESULT STDMETHODCALLTYPE ForwardQuery(IUnknown* argument) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSettingText(BSTR* text) = 0;
};

}  // namespace qv
