#include "RUVComm.h"

TRUVComm::TRUVComm(TComponent* owner) : TSioComPort(owner) {}

void TRUVComm::SetTxDelay(int ms)
{
    if (ms == txDelay_) return;
    if (ms < 0) ms = 0;
    if (ms > txDelayBound_) ms = txDelayBound_;
    txDelay_ = ms;
}

void TRUVComm::FlushBuffers()
{
    FlushInput();
    FlushOutput();
}
