#include "Download.h"

#include "Application.h"
#include "SysUtils.h"

#include <cctype>
#include <utility>

namespace {

const char* const EraseLine = "PGM1000101100010000001011";
const char* const NotResponding =
    "VR7 not responding.\rMake sure the VR7 is connected to the chosen portand that it is at the download screen.";

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

}  // namespace

TDownloadProtocol::TDownloadProtocol(TComponent* owner) : TComponent(owner)
{
    Timer1 = new TTimer(this);
    Timer1->SetEnabled(false);
    Timer1->SetInterval(3000);
    Timer1->OnTimer = [this](TObject*) { TimerFired(); };
}

bool TDownloadProtocol::Download(int slot, const std::string& modeCode, const std::string& name, const std::string& pgm)
{
    const std::string n = std::to_string(slot);
    return UpControl(slot, modeCode, name, pgm, "Programming test no. " + n, "Done");
}

bool TDownloadProtocol::Erase(int slot)
{
    const std::string n = std::to_string(slot);
    return UpControl(slot, "00", "EMPTY", EraseLine, "Erasing test no. " + n, "Test no. " + n + " erased");
}

bool TDownloadProtocol::UpControl(int slot, std::string modeCode, std::string name, std::string pgm,
                                  std::string second, std::string third)
{
    if (busy_) return false;
    busy_ = true;
    aborted_ = refused_ = false;
    // Send and Erase stay off for the whole exchange, whatever a reply says meanwhile.
    if (EnableSendErase) EnableSendErase(false);
    bool ok = false;
    try {
        ok = SendStrg("TXTHOST" + std::to_string(slot) + "\r", "Initiating download") &&
             SendStrg("TXTNAME" + modeCode + name + "\r", second);
        if (ok) {
            if (Version < 12 && pgm.size() >= 5) pgm.erase(4, 1);
            ok = SendStrg(pgm + "\r", third);
        }
    } catch (...) {
        Finish();
        throw;
    }
    Finish();
    return ok;
}

void TDownloadProtocol::StartTimer()
{
    StopTimer();
    interval_ = Timer1->Interval();
    armedAt_ = lastLine_ = GetTickCount();
    Timer1->SetEnabled(true);
}

void TDownloadProtocol::StopTimer()
{
    Timer1->SetEnabled(false);
    if (std::exchange(shortened_, false)) Timer1->SetInterval(interval_);
}

void TDownloadProtocol::TimerFired()
{
    // Status lines came since it started: the time-out counts from the last of them.
    const DWORD since = GetTickCount() - lastLine_;
    if (waiting_ && !timedOut_ && lastLine_ != armedAt_ && since < interval_) {
        Timer1->SetEnabled(false);
        Timer1->SetInterval(interval_ - since);
        shortened_ = true;
        armedAt_ = lastLine_;
        Timer1->SetEnabled(true);
        return;
    }
    TimeOut();
}

void TDownloadProtocol::Finish()
{
    StopTimer();
    busy_ = waiting_ = false;
    if (FlushDisplay) FlushDisplay();
    if (EnableSendErase) EnableSendErase(true);
}

bool TDownloadProtocol::SendStrg(const std::string& command, const std::string& progress)
{
    replied_ = false;
    timedOut_ = false;
    if (EnableCollector) EnableCollector();
    StartTimer();
    if (Send) Send(command);
    if (ShowHint) ShowHint(progress);
    if (ShowStatus) ShowStatus(command);
    if (FlushDisplay) FlushDisplay();
    // Replies, the timer and the user's input are all handled while this waits.
    waiting_ = true;
    while (!replied_ && !timedOut_ && !refused_ && !aborted_ && !Application->Terminated()) Application->HandleMessage();
    waiting_ = false;
    return replied_ && !timedOut_ && !refused_ && !aborted_;
}

void TDownloadProtocol::Reply(const std::string& data)
{
    const size_t cr = data.find('\r');
    const std::string text = cr == std::string::npos ? "" : data.substr(0, cr);
    if (ShowStatus) ShowStatus(text);
    if (StartsWith(text, "???")) {
        StopTimer();
        if (ShowHint) ShowHint("Invalid parameters");
        refused_ = true;  // the sequence ends here; Send and Erase come back with its end
    } else if (StartsWith(text, "GDR")) {
        // A status line restarts the time-out of a step still waiting; at rest, or once the
        // step has timed out (its message may be on the screen), there is nothing to restart.
        if (waiting_ && !timedOut_) lastLine_ = GetTickCount();
        if (ShowHint) ShowHint("Test running");
        // The status digit, fourth from the end; a reply too short for it is ignored.
        if (text.size() >= 4 && std::isdigit(static_cast<unsigned char>(text[text.size() - 4])) && ShowStatus)
            ShowStatus(std::string(1, text[text.size() - 4]));
    } else if (StartsWith(text, "PGM")) {
        // Not an answer to a step: the step's own time-out keeps running.
        if (ShowHint) ShowHint("Test finished");
    } else if (StartsWith(text, "READY") || StartsWith(text, "OK")) {
        StopTimer();
        replied_ = true;
    } else if (StartsWith(text, "TXT")) {
        // The version in hex at characters 14 and 15; a reply without them keeps the version.
        if (text.size() >= 15 && std::isxdigit(static_cast<unsigned char>(text[13])) &&
            std::isxdigit(static_cast<unsigned char>(text[14])))
            Version = std::stoi(text.substr(13, 2), nullptr, 16);
    }
}

void TDownloadProtocol::TimeOut()
{
    StopTimer();
    // Set before the message: lines that come while it is shown see the step as ended.
    timedOut_ = true;
    Application->MessageBox(NotResponding, Application->Title, MB_OK | MB_ICONINFORMATION);
    if (FlushPort) FlushPort();
}
