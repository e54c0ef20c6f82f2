#include "Printers.h"

#include "Application.h"

#include <winspool.h>

#include <vector>

namespace {

bool printerAborted = false;

// The spooler asks this while it prints: the messages go on (the abort dialog's Cancel
// among them), and the answer stops the job once aborted.
BOOL CALLBACK AbortProc(HDC, int)
{
    try {
        Application->ProcessMessages();
    } catch (...) {
        Application->HandleException(nullptr);
    }
    return !printerAborted;
}

class TSpoolerBackend : public TPrinterBackend {
public:
    HDC BeginDoc(const std::string& title) override
    {
        DWORD size = 0;
        GetDefaultPrinterA(nullptr, &size);
        std::vector<char> name(size + 1, '\0');
        if (size == 0 || !GetDefaultPrinterA(name.data(), &size))
            throw EPrinter("There is no default printer currently selected");
        dc_ = CreateDCA("WINSPOOL", name.data(), nullptr, nullptr);
        if (!dc_) throw EPrinter("Printer selected is not valid");
        SetAbortProc(dc_, AbortProc);
        DOCINFOA info = {};
        info.cbSize = sizeof info;
        info.lpszDocName = title.c_str();
        if (StartDocA(dc_, &info) <= 0 || StartPage(dc_) <= 0) {
            DeleteDC(dc_);
            dc_ = nullptr;
            throw EPrinter("Printing could not start");
        }
        return dc_;
    }
    void NewPage() override
    {
        EndPage(dc_);
        StartPage(dc_);
    }
    void EndDoc() override
    {
        EndPage(dc_);
        ::EndDoc(dc_);
        Release();
    }
    void Abort() override
    {
        AbortDoc(dc_);
        Release();
    }

private:
    void Release()
    {
        if (dc_) DeleteDC(dc_);
        dc_ = nullptr;
    }
    HDC dc_ = nullptr;
};

}  // namespace

TPrinter::TPrinter() : backend_(std::make_unique<TSpoolerBackend>()) {}

TPrinter::~TPrinter() = default;

TPrinter* Printer()
{
    static TPrinter printer;
    return &printer;
}

void TPrinter::BeginDoc()
{
    if (printing_) throw EPrinter("Printing in progress");
    aborted_ = printerAborted = false;
    dc_ = backend_->BeginDoc(Title);
    printing_ = true;
}

void TPrinter::NewPage()
{
    if (!printing_) throw EPrinter("Printer is not currently printing");
    backend_->NewPage();
}

void TPrinter::EndDoc()
{
    if (!printing_) throw EPrinter("Printer is not currently printing");
    printing_ = false;
    dc_ = nullptr;
    if (!aborted_) backend_->EndDoc();
}

void TPrinter::Abort()
{
    if (!printing_) throw EPrinter("Printer is not currently printing");
    aborted_ = printerAborted = true;
    printing_ = false;
    dc_ = nullptr;
    backend_->Abort();
}

std::unique_ptr<TPrinterBackend> TPrinter::SetBackend(std::unique_ptr<TPrinterBackend> backend)
{
    auto previous = std::move(backend_);
    backend_ = backend ? std::move(backend) : std::make_unique<TSpoolerBackend>();
    return previous;
}
