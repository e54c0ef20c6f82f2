// The instrument's serial port: the library's port with a transmit delay setting and the
// flushes the download sequence and the close use.
#pragma once

#include "SioPort.h"
#include "StringList.h"

#include <string>

class TRUVComm : public TSioComPort {
public:
    explicit TRUVComm(TComponent* owner);

    int TxDelay() const { return txDelay_; }
    // Stored only: negative values become 0, values above the bound become the bound.
    void SetTxDelay(int ms);

    // Flushes the input buffer, then the output buffer.
    void FlushBuffers();
    // Run before the main window closes the port.
    void BeginClose() { FlushBuffers(); }

private:
    int txDelay_ = 20;
    int txDelayBound_ = 1000;
    TStringList lines_;
    std::string text1_, text2_;
};
