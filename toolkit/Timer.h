// A timer component over SetTimer: OnTimer runs on the thread that made it, every
// Interval ms while Enabled.
#pragma once

#include "Classes.h"
#include "UtilWindow.h"

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned interval);

    TNotifyEvent OnTimer;

private:
    void UpdateTimer();

    TUtilWindow window_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
    bool running_ = false;
};
