// The printer: a print job on the default printer. What the job does goes through a
// replaceable backend, since a test machine has no printer.
#pragma once

#include "SysUtils.h"

#include <windows.h>

#include <memory>
#include <string>

class EPrinter : public Exception {
public:
    using Exception::Exception;
};

// Where a print job goes: the system's spooler, or a test's recorder.
class TPrinterBackend {
public:
    virtual ~TPrinterBackend() = default;
    // Starts a job; the DC to draw on (may be nullptr for a recorder).
    virtual HDC BeginDoc(const std::string& title) = 0;
    virtual void NewPage() = 0;
    virtual void EndDoc() = 0;
    virtual void Abort() = 0;
};

class TPrinter {
public:
    TPrinter();
    ~TPrinter();

    std::string Title;
    bool Printing() const { return printing_; }
    bool Aborted() const { return aborted_; }
    HDC Handle() const { return dc_; }

    // Raise EPrinter "Printing in progress" / "Printer is not currently printing".
    void BeginDoc();
    void NewPage();
    void EndDoc();
    void Abort();

    // Replaces the backend and returns the one before; nullptr restores the spooler.
    std::unique_ptr<TPrinterBackend> SetBackend(std::unique_ptr<TPrinterBackend> backend);

private:
    std::unique_ptr<TPrinterBackend> backend_;
    bool printing_ = false;
    bool aborted_ = false;
    HDC dc_ = nullptr;
};

TPrinter* Printer();
