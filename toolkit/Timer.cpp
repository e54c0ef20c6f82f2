#include "Timer.h"

#include "Application.h"
#include "SysUtils.h"

namespace {
const UINT_PTR TimerId = 1;
}

TTimer::TTimer(TComponent* owner)
    : TComponent(owner),
      window_([this](UINT message, WPARAM, LPARAM, LRESULT& result) {
          if (message != WM_TIMER) return false;
          try {
              if (OnTimer) OnTimer(this);
          } catch (...) {
              Application->HandleException(this);
          }
          result = 0;
          return true;
      })
{
    UpdateTimer();
}

TTimer::~TTimer()
{
    if (running_) KillTimer(window_.Handle(), TimerId);
}

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == enabled_) return;
    enabled_ = enabled;
    UpdateTimer();
}

void TTimer::SetInterval(unsigned interval)
{
    if (interval == interval_) return;
    interval_ = interval;
    UpdateTimer();
}

void TTimer::UpdateTimer()
{
    // Restarting makes a re-enabled timer wait its full interval again.
    if (running_) KillTimer(window_.Handle(), TimerId);
    running_ = false;
    if (!enabled_ || interval_ == 0) return;
    if (!SetTimer(window_.Handle(), TimerId, interval_, nullptr)) throw EOutOfResources("Not enough timers available");
    running_ = true;
}
