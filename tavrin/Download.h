// The download and erase sequences with the VR7: three commands, each answered by a reply
// line, with the 3000 ms time-out. The main window gives it the port of the current kind
// through the callbacks; replies come back, one line per call, through Reply.
#pragma once

#include "Classes.h"
#include "Timer.h"

#include <functional>
#include <string>

class TDownloadProtocol : public TComponent {
public:
    explicit TDownloadProtocol(TComponent* owner);

    // The port of the current kind: writes one command line (raises on failure).
    std::function<void(const std::string& command)> Send;
    // On the serial port: flush the input, then the output (after a time-out).
    std::function<void()> FlushPort;
    std::function<void()> EnableCollector;
    // What the instrument's lines say may be shown at a pace a person can read; the
    // program's own steps call FlushDisplay, so that they show at once.
    std::function<void(const std::string& text)> ShowHint;    // the hint box
    std::function<void(const std::string& text)> ShowStatus;  // status panel 2
    std::function<void()> FlushDisplay;
    std::function<void(bool enabled)> EnableSendErase;

    // The instrument's version, 12 until a "TXT" reply says otherwise.
    int Version = 12;

    // Runs the three steps; false when a step timed out, was refused or was ended.
    bool Download(int slot, const std::string& modeCode, const std::string& name, const std::string& pgm);
    // The same steps with the name "EMPTY", mode "00" and the fixed erase line; the test
    // being edited is not touched.
    bool Erase(int slot);
    // Ends a wait under way (the window closes, the port changes).
    void Abort() { aborted_ = true; }
    bool Busy() const { return busy_; }

    // The reply handler: one received line, CR LF and all.
    void Reply(const std::string& data);

    TTimer* Timer1;

private:
    // Takes its own copies: what the user edits meanwhile is not sent halfway through.
    bool UpControl(int slot, std::string modeCode, std::string name, std::string pgm, std::string second,
                   std::string third);
    bool SendStrg(const std::string& command, const std::string& progress);
    void Finish();
    void StartTimer();
    void StopTimer();
    void TimerFired();
    void TimeOut();

    bool replied_ = false;
    bool timedOut_ = false;
    bool refused_ = false;
    bool aborted_ = false;
    bool busy_ = false;
    bool waiting_ = false;  // a step waits for its reply
    // A status line moves the step's time-out on by a note of the time: the timer, when it
    // fires, goes on for what is left (restarting it per line would cost more than the
    // line). Timer1 runs shortened meanwhile; its own interval is kept here.
    unsigned interval_ = 3000;
    bool shortened_ = false;
    DWORD armedAt_ = 0;    // when the time-out running now started
    DWORD lastLine_ = 0;   // the send, or the last status line since
};
