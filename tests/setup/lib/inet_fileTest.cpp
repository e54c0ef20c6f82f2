// Transfers against tools/httppeer.py on loopback, which every case runs under.
#include "ISetupTransferEvents.h"
#include "file.h"
#include "inet_file.h"
#include "win32_exception.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring port(const char* variable)
{
    const char* value = std::getenv(variable);
    return value ? std::wstring(value, value + strlen(value)) : L"0";
}

std::wstring http(const wchar_t* path)
{
    return L"http://127.0.0.1:" + port("TAVRIN_HTTP_PORT") + path;
}

std::wstring https(const wchar_t* path)
{
    return L"https://127.0.0.1:" + port("TAVRIN_HTTPS_PORT") + path;
}

// The peer's log of every request's headers, written before its answer.
std::string request_log()
{
    const char* path = std::getenv("TAVRIN_HTTP_LOG");
    if (!path) return {};
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

unsigned char data_byte(DWORD offset)
{
    return static_cast<unsigned char>(offset % 251);
}

::testing::AssertionResult matches_data(const unsigned char* got, DWORD count, DWORD offset)
{
    for (DWORD i = 0; i < count; ++i)
        if (got[i] != data_byte(offset + i))
            return ::testing::AssertionFailure() << "byte " << i << " at offset " << offset + i << " is " << int(got[i]);
    return ::testing::AssertionSuccess();
}

qv::http_file_ptr make_file(DWORD timeout = 10000)
{
    return qv::http_file_ptr(new qv::http_file(L"setup tests", timeout));
}

// A sink that answers transfer errors as told and counts what it was asked.
class Sink : public qv::ISetupTransferEvents {
public:
    explicit Sink(LONG answer) : answer_(answer) {}
    std::vector<DWORD> errors;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnTransferBegin(LPCWSTR, LPCWSTR) override { return 1; }
    HRESULT STDMETHODCALLTYPE OnTransferEnd(LPCWSTR, HRESULT) override { return 1; }
    HRESULT STDMETHODCALLTYPE OnFileBegin(LPCWSTR, ULONGLONG) override { return 1; }
    HRESULT STDMETHODCALLTYPE OnFileEnd(LPCWSTR, HRESULT) override { return 1; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG) override { return 0; }
    HRESULT STDMETHODCALLTYPE QueryValueA(LONG* v) override { return *v = 6, S_OK; }
    HRESULT STDMETHODCALLTYPE QueryValueB(LONG* v) override { return *v = 5, S_OK; }
    HRESULT STDMETHODCALLTYPE QueryValueC(LONG* v) override { return *v = 3, S_OK; }
    HRESULT STDMETHODCALLTYPE OnFileQuery(LPCWSTR, LONG* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE QueryValueD(LONG, LONG, LONG, LONG* v) override { return *v = 3, S_OK; }
    HRESULT STDMETHODCALLTYPE QueryA(LONG) override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryB(LONG) override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryValueE(LONG, LONG* v) override { return *v = 6, S_OK; }
    HRESULT STDMETHODCALLTYPE OnTransferRate(ULONG) override { return 0; }
    HRESULT STDMETHODCALLTYPE OnTransferError(HWND, DWORD error, DWORD, LONG* answer) override
    {
        errors.push_back(error);
        *answer = answer_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ForwardQuery(IUnknown*) override { return 1; }
    HRESULT STDMETHODCALLTYPE GetSettingText(BSTR* text) override { return *text = nullptr, S_OK; }

private:
    LONG answer_;
};

TEST(inet_file, ASeekThenAReadAsksForTheRestByRange)
{
    auto f = make_file();
    ASSERT_TRUE(f->open(http(L"/data/5000").c_str())) << GetLastError();
    EXPECT_EQ(f->seek(1000, FILE_BEGIN), 1000u);
    unsigned char got[600];
    DWORD done = 0;
    ASSERT_TRUE(f->read(got, sizeof got, done)) << GetLastError();
    EXPECT_EQ(done, sizeof got);
    EXPECT_TRUE(matches_data(got, done, 1000));
    EXPECT_EQ(f->position(), 1600u);
    EXPECT_NE(request_log().find("Range: bytes=1000-\r\n"), std::string::npos) << request_log();

    // FILE_CURRENT and FILE_END count from the position and from the size.
    EXPECT_EQ(f->seek(-100, FILE_CURRENT), 1500u);
    EXPECT_EQ(f->seek(-10, FILE_END), 4990u);
    ASSERT_TRUE(f->read(got, sizeof got, done));
    EXPECT_EQ(done, 10u) << "the data ends 10 bytes after the position";
    EXPECT_TRUE(matches_data(got, done, 4990));
    EXPECT_TRUE(f->read(got, sizeof got, done));
    EXPECT_EQ(done, 0u);
}

TEST(inet_file, PositionsFrom2GBOnAreAskedForUnsigned)
{
    auto f = make_file();
    ASSERT_TRUE(f->open(http(L"/data/100").c_str()));
    EXPECT_EQ(f->seek(static_cast<LONG>(0x90000000u), FILE_BEGIN), 0x90000000u);
    unsigned char got[10];
    DWORD done = 0;
    EXPECT_FALSE(f->read(got, sizeof got, done)) << "the peer has no such range";
    EXPECT_EQ(GetLastError(), qv::http_status_error(416));
    EXPECT_NE(request_log().find("Range: bytes=2415919104-\r\n"), std::string::npos) << request_log();
}

TEST(inet_file, SizeComesFromContentLengthAndIsUnknownWithoutIt)
{
    auto f = make_file();
    ASSERT_TRUE(f->open(http(L"/data/12345").c_str()));
    EXPECT_EQ(f->size(), 12345u);
    f->seek(345, FILE_BEGIN);
    EXPECT_EQ(f->size(), 12345u) << "a request from a position adds the position";
    unsigned char got[100];
    DWORD done = 0;
    ASSERT_TRUE(f->read(got, sizeof got, done));
    EXPECT_TRUE(matches_data(got, done, 345));

    auto unsized = make_file();
    ASSERT_TRUE(unsized->open(http(L"/nolength/3000").c_str()));
    EXPECT_EQ(unsized->size(), INVALID_FILE_SIZE);
    std::vector<unsigned char> all(4000);
    ASSERT_TRUE(unsized->read(all.data(), 4000, done)) << GetLastError();
    EXPECT_EQ(done, 3000u);
    EXPECT_TRUE(matches_data(all.data(), done, 0));
}

TEST(inet_file, SuccessIsAStatusFrom200To299)
{
    struct Case {
        const wchar_t* path;
        DWORD status;
        bool ok;
    };
    const Case cases[] = {
        {L"/status/200", 200, true},
        {L"/status/206", 206, true},
        {L"/status/304", 304, false},
        {L"/status/404", 404, false},
        {L"/status/500", 500, false},
        {L"/missing", 404, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        auto f = make_file();
        const bool ok = f->open(http(c.path).c_str());
        EXPECT_EQ(ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(GetLastError(), 0x80040000u | (c.status + 54208));
            qv::file through;
            EXPECT_EQ(through.open(http(c.path).c_str(), GENERIC_READ), 0x80040000u | (c.status + 54208));
        }
    }
}

int ticks;
void CALLBACK count_tick(HWND, UINT, UINT_PTR, DWORD)
{
    ++ticks;
}

TEST(inet_file, AStallEndsAtItsDeadlineWhileMessagesKeepComing)
{
    // A timer of 50 ms keeps the message queue busy for the whole wait.
    UINT_PTR timer = SetTimer(nullptr, 0, 50, nullptr);
    ASSERT_NE(timer, 0u);
    ticks = 0;
    timer = SetTimer(nullptr, timer, 50, count_tick);
    auto f = make_file(2000);
    const ULONGLONG started = GetTickCount64();
    EXPECT_FALSE(f->open(http(L"/stall").c_str()));
    const DWORD error = GetLastError();
    const ULONGLONG took = GetTickCount64() - started;
    KillTimer(nullptr, timer);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 4000u) << "the time-out is a deadline, not a quiet spell";
    EXPECT_GE(ticks, 10) << "window messages were not dispatched during the wait";

    // The same object goes on with a new request after the timed-out one.
    ASSERT_TRUE(f->open(http(L"/data/3000").c_str())) << GetLastError();
    unsigned char got[3000];
    DWORD done = 0;
    ASSERT_TRUE(f->read(got, sizeof got, done));
    EXPECT_TRUE(matches_data(got, done, 0));
}

// Signals when the object is finally freed.
HANDLE gone;
struct watched_file : qv::http_file {
    using http_file::http_file;
    ~watched_file() override { SetEvent(gone); }
};

TEST(inet_file, ARequestClosedOnItsTimeOutLivesUntilWinINetLetsGo)
{
    gone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto* f = new watched_file(L"setup tests", 500);
    EXPECT_FALSE(f->open(http(L"/data/100?delay=1500").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    f->release();
    // WinINet still works on the request; its answer comes a second later, and its notices
    // then meet a live object, which goes after the closing notice.
    EXPECT_EQ(WaitForSingleObject(gone, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(gone, 15000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(gone);
}

BOOL WINAPI fail_without_error(HINTERNET, LPCWSTR, DWORD, LPVOID, DWORD)
{
    SetLastError(0);
    return FALSE;
}

TEST(inet_file, AStepIsJudgedByItsCallsResultNotByTheLastError)
{
    const qv::wininet_calls saved = qv::wininet();
    qv::wininet().send_request = fail_without_error;
    Sink refuse(ERROR_CANCELLED);
    auto f = make_file();
    f->set_transfer_events(&refuse);
    f->set_security_flags(SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
    const bool opened = f->open(https(L"/data/10").c_str());
    const DWORD error = GetLastError();
    qv::wininet() = saved;
    EXPECT_FALSE(opened) << "a failed send with no error code passed for a success";
    EXPECT_NE(error, 0u);
}

TEST(inet_file, AReadThatStallsEndsAtItsDeadline)
{
    auto f = make_file(2000);
    ASSERT_TRUE(f->open(http(L"/stallbody/20000").c_str()));
    std::vector<unsigned char> got(20000);
    DWORD done = 0;
    const ULONGLONG started = GetTickCount64();
    EXPECT_FALSE(f->read(got.data(), 20000, done));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    const ULONGLONG took = GetTickCount64() - started;
    EXPECT_LT(took, 4000u);
    // What came before the stall is kept, less what the read waiting for it had taken.
    EXPECT_LE(done, 10000u);
    EXPECT_GE(done, 10000u - 1500u);
    EXPECT_TRUE(matches_data(got.data(), done, 0));
}

TEST(inet_file, ADroppedConnectionFailsAndNeverPassesForTheEnd)
{
    for (const LONG retries : {0, 3}) {
        SCOPED_TRACE(retries);
        auto f = make_file();
        f->set_option(0, retries);
        ASSERT_TRUE(f->open(http(L"/drop/100000").c_str()));
        std::vector<unsigned char> got(100000);
        DWORD done = 0;
        EXPECT_FALSE(f->read(got.data(), 100000, done)) << "a cut-off body was taken for the whole";
        EXPECT_LT(done, 100000u);
        EXPECT_TRUE(matches_data(got.data(), done, 0));
        EXPECT_NE(GetLastError(), 0u);
    }
    auto none = make_file();
    none->set_option(0, -1);
    ASSERT_TRUE(none->open(http(L"/data/10").c_str()));
    unsigned char got[10];
    DWORD done = 5;
    EXPECT_FALSE(none->read(got, 10, done)) << "a negative retry limit reads nothing";
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(none->set_option(2, 1));
}

TEST(inet_file, AConnectionThatBreaksOffIsResumedFromWhereItStopped)
{
    auto f = make_file();
    ASSERT_TRUE(f->open(http(L"/dropfirst/100000?key=resume").c_str()));
    std::vector<unsigned char> got(100000);
    DWORD done = 0;
    ASSERT_TRUE(f->read(got.data(), 100000, done)) << GetLastError();
    EXPECT_EQ(done, 100000u);
    EXPECT_TRUE(matches_data(got.data(), done, 0));
    EXPECT_NE(request_log().find("Range: bytes=50000-\r\n"), std::string::npos) << request_log();
}

TEST(inet_file, ABodyThatComesInPiecesIsReadWhole)
{
    auto f = make_file();
    ASSERT_TRUE(f->open(http(L"/data/20000?piece=700&gap=20").c_str()));
    std::vector<unsigned char> got(20000);
    DWORD done = 0;
    ASSERT_TRUE(f->read(got.data(), 20000, done)) << GetLastError();
    EXPECT_EQ(done, 20000u);
    EXPECT_TRUE(matches_data(got.data(), done, 0));
}

TEST(inet_file, LastModifiedIsTheServersDate)
{
    auto f = make_file();
    ASSERT_TRUE(f->open(http(L"/modified").c_str()));
    FILETIME time = {};
    ASSERT_TRUE(f->last_modified(time));
    SYSTEMTIME st = {};
    FileTimeToSystemTime(&time, &st);
    EXPECT_EQ(st.wYear, 2015);
    EXPECT_EQ(st.wMonth, 10);
    EXPECT_EQ(st.wDay, 21);
    EXPECT_EQ(st.wHour, 7);
    EXPECT_EQ(st.wMinute, 28);
}

TEST(inet_file, ASelfSignedCertificateIsAnsweredByTheSinkAndNoDialog)
{
    {
        Sink refuse(ERROR_CANCELLED);
        auto f = make_file();
        f->set_transfer_events(&refuse);
        EXPECT_FALSE(f->open(https(L"/data/2000").c_str()));
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_INTERNET_INVALID_CA || error == ERROR_INTERNET_SEC_CERT_ERRORS
            || error == ERROR_INTERNET_SEC_INVALID_CERT)
            << error;
        ASSERT_EQ(refuse.errors.size(), 1u) << "the sink is asked once, before any dialog";
        EXPECT_EQ(refuse.errors[0], error);
    }
    {
        Sink accept(ERROR_INTERNET_FORCE_RETRY);
        auto f = make_file();
        f->set_transfer_events(&accept);
        ASSERT_TRUE(f->open(https(L"/data/2000").c_str())) << GetLastError();
        // One question per problem of the certificate (Wine finds its name wrong too),
        // none of them twice.
        ASSERT_FALSE(accept.errors.empty());
        EXPECT_LE(accept.errors.size(), 3u);
        for (size_t i = 0; i < accept.errors.size(); ++i)
            for (size_t j = i + 1; j < accept.errors.size(); ++j) EXPECT_NE(accept.errors[i], accept.errors[j]);
        unsigned char got[2000];
        DWORD done = 0;
        ASSERT_TRUE(f->read(got, sizeof got, done));
        EXPECT_TRUE(matches_data(got, done, 0));
    }
}

TEST(inet_file, TheIgnoreFlagsReadASelfSignedCertificateWithoutAQuestion)
{
    Sink refuse(ERROR_CANCELLED);
    auto f = make_file();
    f->set_transfer_events(&refuse);
    f->set_security_flags(SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
    ASSERT_TRUE(f->open(https(L"/data/3000").c_str())) << GetLastError();
    f->seek(1000, FILE_BEGIN);
    unsigned char got[2000];
    DWORD done = 0;
    ASSERT_TRUE(f->read(got, sizeof got, done)) << GetLastError();
    EXPECT_TRUE(matches_data(got, done, 1000));
    EXPECT_TRUE(refuse.errors.empty());
}

int sends;
BOOL WINAPI refuse_certificate(HINTERNET, LPCWSTR, DWORD, LPVOID, DWORD)
{
    ++sends;
    SetLastError(ERROR_INTERNET_INVALID_CA);
    return FALSE;
}

TEST(inet_file, ARetryAnswerIsBounded)
{
    // A certificate question that comes back however often the sink says "retry".
    sends = 0;
    const qv::wininet_calls saved = qv::wininet();
    qv::wininet().send_request = refuse_certificate;
    Sink always(ERROR_INTERNET_FORCE_RETRY);
    auto f = make_file();
    f->set_transfer_events(&always);
    const bool opened = f->open(https(L"/data/10").c_str());
    const DWORD error = GetLastError();
    qv::wininet() = saved;
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
    EXPECT_EQ(always.errors.size(), 3u);
    EXPECT_EQ(sends, 4) << "the first send and one per answer";
}

std::vector<DWORD> flagsSeen;
HINTERNET WINAPI refuse_nocache(HINTERNET s, LPCWSTR url, LPCWSTR headers, DWORD length, DWORD flags, DWORD_PTR context)
{
    flagsSeen.push_back(flags);
    if (flags & INTERNET_FLAG_PRAGMA_NOCACHE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return InternetOpenUrlW(s, url, headers, length, flags, context);
}

TEST(inet_file, AFlagTheServerRefusesIsDroppedOnce)
{
    flagsSeen.clear();
    const qv::wininet_calls saved = qv::wininet();
    qv::wininet().open_url = refuse_nocache;
    auto f = make_file();
    const bool opened = f->open(http(L"/data/100").c_str());
    qv::wininet() = saved;
    ASSERT_TRUE(opened) << GetLastError();
    ASSERT_EQ(flagsSeen.size(), 2u);
    EXPECT_EQ(flagsSeen[0], 0x80400100u);
    EXPECT_EQ(flagsSeen[1], 0x80400000u);
    unsigned char got[100];
    DWORD done = 0;
    ASSERT_TRUE(f->read(got, sizeof got, done));
    EXPECT_TRUE(matches_data(got, done, 0));
}

TEST(inet_file, AnUnknownSchemeIsRefused)
{
    auto f = make_file();
    EXPECT_FALSE(f->open(L"gopherx://127.0.0.1/x"));
    EXPECT_NE(GetLastError(), 0u);
}

TEST(inet_file, RateAndChunkSizeFollowTheMeasuringWindow)
{
    struct Case {
        DWORD bytes, ms, left, rate, chunk;
    };
    const Case cases[] = {
        {0, 0, 100000, 0, 1500},             // nothing measured yet
        {5000, 0, 100000, 5000, 1500},       // a window of 0 ms gives its byte count
        {1000000, 9000, 100000000, 111111, 1500},  // 10 s have not passed: still 1500
        {1000000, 10001, 100000000, 99990, 1499850},
        {1000000, 10001, 700, 99990, 700},   // never more than what is left
        {0, 20000, 100000, 0, 1500},         // time but no bytes
        {4000000000u, 20000, 0xFFFFFFFFu, 200000000, 3000000000u},  // no overflow on the way
        {10, 20000, 100000, 0, 1},           // a rate under 1 byte per second reads 1 byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(qv::inet_file::measured_rate(c.bytes, c.ms), c.rate);
        EXPECT_EQ(qv::inet_file::next_chunk(c.bytes, c.ms, c.left), c.chunk);
    }
}

TEST(file, AnAddressIsReadThroughTheInternetFile)
{
    qv::file f;
    ASSERT_EQ(f.open(http(L"/data/70000").c_str(), GENERIC_READ), 0u);
    EXPECT_TRUE(f.is_internet());
    EXPECT_EQ(f.size(), 70000u);
    std::unique_ptr<unsigned char[]> all;
    EXPECT_EQ(f.read_all(all), 70000u);
    EXPECT_TRUE(matches_data(all.get(), 70000, 0));
    EXPECT_EQ(f.seek(69990, FILE_BEGIN), 69990u);
    unsigned char one = 0;
    EXPECT_EQ(f.read(&one, qv::file::one), 1u);
    EXPECT_EQ(one, data_byte(69990));
    EXPECT_THROW(f.write("x", 1), qv::internet_file_exception);

    qv::file unsized;
    ASSERT_EQ(unsized.open(http(L"/nolength/10").c_str(), GENERIC_READ), 0u);
    try {
        unsized.size();
        FAIL() << "an unknown size did not throw";
    } catch (const qv::internet_file_exception& e) {
        EXPECT_EQ(e.path(), http(L"/nolength/10").c_str());
    }

    qv::file_lite lite;
    ASSERT_TRUE(lite.open_read(http(L"/data/300").c_str()));
    lite.seek(200, FILE_BEGIN);
    unsigned char got[200];
    EXPECT_EQ(lite.read(got, 200), 100);
    EXPECT_TRUE(matches_data(got, 100, 200));
    EXPECT_FALSE(lite.open_read(http(L"/status/404").c_str()));
}

TEST(inet_file, ComparesAnAddressesBodyWithAText)
{
    // Bytes 65.. of a data body are "ABCDEFG..." (offset mod 251).
    EXPECT_EQ(qv::CompareUrlContent(http(L"/data/300").c_str(), 65, 5, L"ABCDE"), 1);
    EXPECT_EQ(qv::CompareUrlContent(http(L"/data/300").c_str(), 65, 5, L"ABCDX"), 0);
    EXPECT_EQ(qv::CompareUrlContent(http(L"/status/500").c_str(), 0, 5, L"ABCDE"), 255);
}

}  // namespace
