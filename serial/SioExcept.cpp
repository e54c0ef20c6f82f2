#include "SioExcept.h"

#include "SioStrMap.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr size_t kMaxSystemText = 255;
constexpr int kFirstSystemNumber = 2;
constexpr int kLastSystemNumber = 162;

struct TLocalFree {
    void operator()(char* p) const { LocalFree(p); }
};

std::string SystemText(unsigned number)
{
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, number, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    const std::unique_ptr<char, TLocalFree> owned(buffer);
    if (length == 0 || !buffer) return "";
    return SioSystemTextLine(std::string(buffer, length));
}

unsigned Magnitude(int code)
{
    return code < 0 ? 0u - static_cast<unsigned>(code) : static_cast<unsigned>(code);
}

std::string MessageFor(int code)
{
    std::string text = SioMessageText(code);
    return text.empty() ? SystemText(Magnitude(code)) : text;
}

using TRaiser = void (*)(int code);

template <class E>
void Raise(int code)
{
    throw E(code);
}

struct TClassCodes {
    TRaiser raise;
    int codes[4];  // unused places stay 0
};

#define SIO_LEAF_ROW(name, branch, ...) {&Raise<name>, {__VA_ARGS__}},
#define SIO_BRANCH_ROW(name, ...) {&Raise<name>, {__VA_ARGS__}},
constexpr TClassCodes kClassCodes[] = {SIO_CODE_CLASSES(SIO_LEAF_ROW, SIO_BRANCH_ROW)};
#undef SIO_LEAF_ROW
#undef SIO_BRANCH_ROW

#define SIO_TAPI_ROW(suffix) &Raise<ETapi##suffix>,
constexpr TRaiser kTapiRaisers[] = {SIO_TAPI_LEAVES(SIO_TAPI_ROW)};
#undef SIO_TAPI_ROW

constexpr int TapiCodeCount()
{
    int n = 0;
    for (const SioCodeSpan& span : SioTapiCodeSpans) n += span.first - span.last + 1;
    return n;
}
static_assert(TapiCodeCount() == std::size(kTapiRaisers), "one modem-line code per modem-line leaf");

std::vector<std::pair<int, TRaiser>> BuildRaisers()
{
    std::vector<std::pair<int, TRaiser>> raisers;
    for (const TClassCodes& row : kClassCodes)
        for (int code : row.codes)
            if (code != 0) raisers.emplace_back(code, row.raise);
    const TRaiser* tapi = std::begin(kTapiRaisers);
    for (const SioCodeSpan& span : SioTapiCodeSpans)
        for (int code = span.first; code >= span.last; --code) raisers.emplace_back(code, *tapi++);
    std::sort(raisers.begin(), raisers.end());
    return raisers;
}

TRaiser FindRaiser(int code)
{
    static const std::vector<std::pair<int, TRaiser>> raisers = BuildRaisers();
    const auto at = std::lower_bound(raisers.begin(), raisers.end(), code,
                                     [](const auto& entry, int c) { return entry.first < c; });
    return at != raisers.end() && at->first == code ? at->second : nullptr;
}

}  // namespace

std::string SioSystemTextLine(const std::string& text)
{
    std::string line = text.substr(0, kMaxSystemText);
    // The system's texts end in CR LF, some break lines inside; a message is one line.
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    return line;
}

ESioException::ESioException(int code) : Exception(MessageFor(code)), ErrorCode(code) {}

ESioException::ESioException(const std::string& message) : Exception(message), ErrorCode(0) {}

int SioCheck(const TComponent* component, int code)
{
    if (code >= 0) return code;
    // A form being read in must load even when a stored property cannot be applied yet.
    if (component && (component->ComponentState() & csLoading)) return code;
    if (const TRaiser raise = FindRaiser(code)) raise(code);
    if (code <= -kFirstSystemNumber && code >= -kLastSystemNumber) {
        if (code == -ERROR_NOT_ENOUGH_MEMORY) throw EOutOfMemory();
        throw EInOutError(SioMessageText(code), -code);
    }
    throw ESioException(std::string("Serial library exception"));
}
