// One whole Send Test (three commands, each answered "READY") through tavrin's real main
// window, on the serial link and on the USB link, beside the floor: a minimal Win32 or D2XX
// program doing the same three writes and reads. Also the main window's start-up beside a
// bare top-level window. Run it under tools/vr7sim.py --ports 2 (tools/bench.sh).
#include "Application.h"
#include "KDGlob.h"
#include "Kdmain.h"
#include "SioSelCom.h"
#include "SysUtils.h"
#include "InstrumentSupport.h"
#include "TestSupport.h"
#include "ftd2xx.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace {

const int WarmUp = 5;
const int Count = 50;
const int StartUps = 5;
const int BurstLines = 5000;
const int BurstRuns = 10;
const char* const Serial = "VRBENCH";
const char* const Name = "BENCH";

double Now()
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

struct TFigures {
    double median = 0, mean = 0;
    int failures = 0;
};

// Runs `once` WarmUp times unmeasured, then `count` times timed; `once` says whether it worked.
TFigures Measure(const std::function<bool()>& once, int count = Count, int warmUp = WarmUp)
{
    TFigures f;
    for (int i = 0; i < warmUp; ++i) f.failures += !once();
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const double t0 = Now();
        f.failures += !once();
        ms.push_back((Now() - t0) * 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    f.median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    f.mean = std::accumulate(ms.begin(), ms.end(), 0.0) / static_cast<double>(ms.size());
    return f;
}

// Painted whole, then idle.
void Settle(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpPending();
}

// The converter wired to the instrument's USB link, mapped to a COM number; removed at the end.
class TConverter {
public:
    explicit TConverter(int com)
    {
        // No FTD2XX_STANDIN_LOG: a log line per call would weigh on both sides.
        const std::string config = PeerFile("ftd2xx.cfg");
        SetEnvironmentVariableA("FTD2XX_STANDIN", config.c_str());
        WriteWholeFile(config, std::string("device ") + Serial + " " + EnvText("TAVRIN_PEER_TCP") + "\n");
        registry_.Add(Serial, ("COM" + std::to_string(com)).c_str());
    }

private:
    TFtdiRegistry registry_;
};

// The settings file is the form's own: what was there before comes back at the end.
class TSettingsGuard {
public:
    TSettingsGuard() : path_(TSpecialFolders::Folder(26) + "\\RUV\\Tavrin\\V1\\tavrin.INI")
    {
        existed_ = FileExists(path_);
        saved_ = ReadWholeFile(path_);
        DeleteFileA(path_.c_str());
    }
    ~TSettingsGuard()
    {
        DeleteFileA(path_.c_str());
        if (existed_) WriteWholeFile(path_, saved_);
    }

private:
    std::string path_, saved_;
    bool existed_ = false;
};

// What the form sends for the test it holds.
std::vector<std::string> Commands(const TTestModel& test)
{
    return {"TXTHOST" + std::to_string(test.Slot()) + "\r", std::string("TXTNAME") + test.ModeCode() + test.Name() + "\r",
            test.PGM() + "\r"};
}

int IndexOfPort(TMOXLoadForm& form, int n)
{
    for (int i = 0; i < form.ComPortCb->Items().Count(); ++i)
        if (form.ComPortCb->Items()[i] == std::to_string(n)) return i;
    return -1;
}

// As the user picks a port: the box's index, then its change event.
void ChooseIndex(TMOXLoadForm& form, int index)
{
    form.ComPortCb->SetItemIndex(index);
    form.ComPortCb->OnChange(form.ComPortCb);
}

bool SendThroughForm(TMOXLoadForm& form, const std::vector<std::string>& messages)
{
    const size_t before = messages.size();
    form.Download->Execute();
    return form.memHints->Text() == "Done" && messages.size() == before && form.Download->Enabled();
}

// The reply is in once a line "READY" ends what came; status lines may come before it.
bool Answered(const std::string& reply)
{
    return reply == "READY\r\n" || (reply.size() > 7 && reply.compare(reply.size() - 8, 8, "\nREADY\r\n") == 0);
}

// The serial floor: blocking reads that return with the first bytes there.
class TSerialFloor {
public:
    explicit TSerialFloor(int com)
    {
        const std::string name = "\\\\.\\COM" + std::to_string(com);
        h_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h_ == INVALID_HANDLE_VALUE) return;
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        GetCommState(h_, &dcb);
        dcb.BaudRate = CBR_115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        ok_ = SetCommState(h_, &dcb) != FALSE;
        // A total time-out only: Wine 8 on a pty mishandles the "return at the first byte"
        // form (MAXDWORD, MAXDWORD, n), waiting out its time-out or for good.
        COMMTIMEOUTS t = {};
        t.ReadTotalTimeoutConstant = 3000;
        ok_ = ok_ && SetCommTimeouts(h_, &t);
        PurgeComm(h_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~TSerialFloor()
    {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    bool Ok() const { return ok_; }
    bool Exchange(const std::string& command)
    {
        DWORD n = 0;
        if (!WriteFile(h_, command.data(), static_cast<DWORD>(command.size()), &n, nullptr) || n != command.size())
            return false;
        std::string reply;
        char buffer[4096];
        while (!Answered(reply)) {
            // One byte waited for, or all that is queued: the read returns at once.
            COMSTAT status = {};
            DWORD errors = 0;
            ClearCommError(h_, &errors, &status);
            const DWORD want = std::clamp<DWORD>(status.cbInQue, 1, sizeof buffer);
            if (!ReadFile(h_, buffer, want, &n, nullptr) || n == 0) return false;
            reply.append(buffer, n);
        }
        return Answered(reply);
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
    bool ok_ = false;
};

// The USB floor: the driver's receive event, then its status and a read of what is there.
class TUsbFloor {
public:
    TUsbFloor() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr))
    {
        FT_STATUS s = FT_OpenEx(const_cast<char*>(Serial), FT_OPEN_BY_SERIAL_NUMBER, &h_);
        if (s == FT_OK) s = FT_SetBaudRate(h_, 115200);
        if (s == FT_OK) s = FT_SetEventNotification(h_, FT_EVENT_RXCHAR, event_);
        ok_ = s == FT_OK;
    }
    ~TUsbFloor()
    {
        if (h_) FT_Close(h_);
        CloseHandle(event_);
    }
    bool Ok() const { return ok_; }
    bool Exchange(const std::string& command)
    {
        DWORD n = 0;
        if (FT_Write(h_, const_cast<char*>(command.data()), static_cast<DWORD>(command.size()), &n) != FT_OK ||
            n != command.size())
            return false;
        std::string reply;
        char buffer[4096];
        for (;;) {
            DWORD rx = 0, tx = 0, events = 0;
            if (FT_GetStatus(h_, &rx, &tx, &events) != FT_OK) return false;
            if (rx > 0) {
                if (FT_Read(h_, buffer, std::min<DWORD>(rx, sizeof buffer), &n) != FT_OK) return false;
                reply.append(buffer, n);
                if (Answered(reply)) break;
                continue;
            }
            if (WaitForSingleObject(event_, 3000) != WAIT_OBJECT_0) return false;
        }
        return true;
    }

private:
    FT_HANDLE h_ = nullptr;
    HANDLE event_;
    bool ok_ = false;
};

LRESULT CALLBACK BareProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    return DefWindowProcA(window, message, w, l);
}

void Row(const char* link, const TFigures& tavrin, const TFigures& floor)
{
    std::printf("%-8s %9.3f %9.3f   %9.3f %9.3f   %6.1fx %6.1fx\n", link, tavrin.median, tavrin.mean, floor.median,
                floor.mean, tavrin.median / floor.median, tavrin.mean / floor.mean);
}

}  // namespace

int main()
{
    KDGlobStartup();
    Application->Title = "Tavrin";
    std::vector<std::string> messages;
    Application->SetMessageSink([&](const TMessageRequest& r) {
        // The test was given a name to send: its close asks to save it, which is no failure.
        if (r.Text == "The current program is not saved.  Do you wish to save it before continuing?") return IDNO;
        messages.push_back(r.Text);
        return IDOK;
    });
    const int com = std::stoi(EnvText("TAVRIN_TEST_COM"));
    const int com2 = std::stoi(EnvText("TAVRIN_TEST_COM2"));
    size_t expectedBytes = 0;
    int failures = 0;
    TSettingsGuard settings;
    // The form reads the converters once, at its start: attached before it.
    TConverter converter(com2);

    // Start-up: the form (it scans COM1..256) beside a bare window; the first of each cold.
    double formCold = 0, bareCold = 0, scan = 0;
    TFigures form0, bare;
    std::vector<double> built;  // CreateForm alone, without Show
    {
        bool first = true;
        form0 = Measure(
            [&] {
                const double t0 = Now();
                TMOXLoadForm* f = CreateForm<TMOXLoadForm>();
                if (!first) built.push_back((Now() - t0) * 1000.0);
                f->Show();
                Settle(f->Handle());
                if (first) formCold = (Now() - t0) * 1000.0;
                first = false;
                const bool ok = IsWindowVisible(f->Handle()) && IndexOfPort(*f, com2) > 0;
                delete f;
                PumpPending();
                return ok;
            },
            StartUps, 1);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = BareProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = "SendTestBenchBare";
        RegisterClassA(&wc);
        first = true;
        bare = Measure(
            [&] {
                const double t0 = Now();
                HWND w = CreateWindowExA(0, wc.lpszClassName, "bare", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                         670, 530, nullptr, nullptr, wc.hInstance, nullptr);
                ShowWindow(w, SW_SHOW);
                Settle(w);
                if (first) bareCold = (Now() - t0) * 1000.0;
                first = false;
                const bool ok = w && IsWindowVisible(w);
                DestroyWindow(w);
                PumpPending();
                return ok;
            },
            StartUps, 1);
        const double t0 = Now();
        for (int n = 1; n <= 256; ++n) CheckPortAvailable(n);
        scan = (Now() - t0) * 1000.0;
        failures += form0.failures + bare.failures;
    }

    // The Send Tests through the main window, then the floors with the port let go.
    TFigures formSerial, formUsb, floorSerial, floorUsb;
    TMOXLoadForm* form = CreateForm<TMOXLoadForm>();
    form->Show();
    Settle(form->Handle());
    form->Edit1->SetText(Name);
    const int serialIndex = IndexOfPort(*form, com), usbIndex = IndexOfPort(*form, com2);
    if (serialIndex < 1 || usbIndex < 1 || form->Test().Name() != Name) {
        std::printf("the form lists COM%d at %d and COM%d at %d; test name \"%s\"\n", com, serialIndex, com2, usbIndex,
                    form->Test().Name().c_str());
        delete form;
        return 1;
    }
    const std::vector<std::string> commands = Commands(form->Test());
    // Where the main window's time goes: its hint box and status bar, updated at each step.
    struct TUiClock {
        double ms = 0;
        int calls = 0;
    } hint, status;
    const auto clocked = [](TUiClock& clock, std::function<void(const std::string&)> show) {
        return [&clock, show](const std::string& text) {
            const double t0 = Now();
            show(text);
            clock.ms += (Now() - t0) * 1000.0;
            ++clock.calls;
        };
    };
    form->Protocol->ShowHint = clocked(hint, form->Protocol->ShowHint);
    form->Protocol->ShowStatus = clocked(status, form->Protocol->ShowStatus);
    TUiClock hintSerial, statusSerial;
    const size_t perSend = commands[0].size() + commands[1].size() + commands[2].size();
    const auto floorOnce = [&](auto& floor) {
        return [&] {
            bool ok = true;
            for (const std::string& c : commands) ok = ok && floor.Exchange(c);
            return ok;
        };
    };

    // Each link through the form, then its floor with the port let go.
    struct TLinkFigures {
        TFigures serial, usb, floorSerial, floorUsb;
    };
    const auto links = [&](const std::function<bool()>& send, int count, int warmUp) {
        TLinkFigures f;
        ChooseIndex(*form, serialIndex);
        if (form->PortMode() != PortModeSerial || !form->Download->Enabled()) ++failures;
        f.serial = Measure(send, count, warmUp);
        hintSerial = hint;
        statusSerial = status;
        hint = status = TUiClock();
        ChooseIndex(*form, 0);
        {
            TSerialFloor floor(com);
            if (!floor.Ok()) ++failures;
            f.floorSerial = Measure(floorOnce(floor), count, warmUp);
        }
        ChooseIndex(*form, usbIndex);
        if (form->PortMode() != PortModeUSB || !form->Download->Enabled()) ++failures;
        f.usb = Measure(send, count, warmUp);
        ChooseIndex(*form, 0);
        {
            TUsbFloor floor;
            if (!floor.Ok()) ++failures;
            f.floorUsb = Measure(floorOnce(floor), count, warmUp);
        }
        expectedBytes += 4 * static_cast<size_t>(warmUp + count) * perSend;
        failures += f.serial.failures + f.usb.failures + f.floorSerial.failures + f.floorUsb.failures;
        return f;
    };
    const TLinkFigures plain = links([&] { return SendThroughForm(*form, messages); }, Count, WarmUp);
    formSerial = plain.serial;
    formUsb = plain.usb;
    floorSerial = plain.floorSerial;
    floorUsb = plain.floorUsb;
    const TUiClock hintPlain = hintSerial, statusPlain = statusSerial, hintPlainUsb = hint, statusPlainUsb = status;

    // The same with a burst of status lines before each reply, as a running instrument
    // sends them: what the window's handling of a line costs.
    WriteWholeFile(PeerFile("script"),
                   "default stream " + std::to_string(BurstLines * 100) + " 0.01 GDR 0001 5 00\\r\\n && reply READY\\r\\n\n");
    // The reply handler's own share of a line, apart from the port's work to bring it.
    TUiClock handler;
    const auto clockedPacket = [&](auto inner) {
        return [&handler, inner](TObject* sender, const std::string& data) {
            const double t0 = Now();
            inner(sender, data);
            handler.ms += (Now() - t0) * 1000.0;
            ++handler.calls;
        };
    };
    form->InstrumentPortPacket->OnStringPacket = clockedPacket(form->InstrumentPortPacket->OnStringPacket);
    form->USBPort->OnPacket = clockedPacket(form->USBPort->OnPacket);
    const TLinkFigures burst = links(
        [&] {
            const size_t before = messages.size();
            form->Download->Execute();
            return messages.size() == before && form->Download->Enabled();
        },
        BurstRuns, 1);
    hintSerial = hintPlain;
    statusSerial = statusPlain;
    hint = hintPlainUsb;
    status = statusPlainUsb;

    // The close writes the settings; the guard puts the old ones back.
    form->Close();
    delete form;
    PumpPending();

    std::printf("one Send Test (3 commands, each answered READY), %d times after %d unmeasured, in ms\n", Count, WarmUp);
    std::printf("%-8s %9s %9s   %9s %9s   %7s %7s\n", "link", "tavrin", "mean", "floor", "mean", "median", "mean");
    std::printf("%-8s %9s %9s   %9s %9s   %7s %7s\n", "", "median", "", "median", "", "ratio", "ratio");
    Row("serial", formSerial, floorSerial);
    Row("USB", formUsb, floorUsb);
    std::printf("the same with %d status lines before each reply, %d times after one unmeasured, in ms\n", BurstLines,
                BurstRuns);
    Row("serial", burst.serial, burst.floorSerial);
    Row("USB", burst.usb, burst.floorUsb);
    std::printf("  per status line: tavrin %.1f us serial, %.1f us USB; floor %.1f us and %.1f us\n",
                burst.serial.median * 1000 / (3 * BurstLines), burst.usb.median * 1000 / (3 * BurstLines),
                burst.floorSerial.median * 1000 / (3 * BurstLines), burst.floorUsb.median * 1000 / (3 * BurstLines));
    std::printf("  of which the reply handler: %.1f us a line (%d lines on both links)\n",
                handler.calls ? handler.ms * 1000 / handler.calls : 0.0, handler.calls);
    const double runs = WarmUp + Count;
    std::printf("of tavrin's time per Send Test: the hint box %.1f ms (%.0f updates), the status bar %.1f ms (%.0f)"
                " on serial; %.1f ms and %.1f ms on USB\n",
                hintSerial.ms / runs, hintSerial.calls / runs, statusSerial.ms / runs, statusSerial.calls / runs,
                hint.ms / runs, status.ms / runs);
    std::printf("start-up, in ms (median of %d after one cold, which is in brackets)\n", StartUps);
    std::sort(built.begin(), built.end());
    std::printf("  main window: CreateForm .. shown and idle  %9.1f  (%.1f)\n", form0.median, formCold);
    std::printf("    of which CreateForm                      %9.1f\n", built.empty() ? 0.0 : built[built.size() / 2]);
    std::printf("    the port scan COM1..256 alone            %9.1f\n", scan);
    std::printf("  bare CreateWindow/ShowWindow               %9.1f  (%.1f)\n", bare.median, bareCold);

    const size_t got = Transcript().size();
    if (got != expectedBytes) {
        std::printf("the instrument received %zu bytes, not %zu\n", got, expectedBytes);
        ++failures;
    }
    for (const std::string& m : messages) std::printf("message box: %s\n", m.c_str());
    if (failures) std::printf("%d failed exchanges or checks\n", failures);
    return failures || !messages.empty() ? 1 : 0;
}
