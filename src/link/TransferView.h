// What a transfer session needs from whoever shows it: the main window, or the
// command-line tool's progress bar. Sessions know nothing else of either.
#pragma once

#include "link/Message.h"

#include <string>

class TransferView {
public:
    virtual ~TransferView() = default;

    // Refreshes the view's own values from its controls and returns the selected port's
    // name as the operator knows it ("COM3", "/dev/ttyUSB0", a pseudo-terminal path). The
    // port opener finds the system's device for it; messages name the port this way.
    virtual std::string PortName() = 0;

    // These change the view's values; the status text shows only on Refresh().
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgress(int percent) = 0;
    virtual void ShowProgress(bool visible) = 0;
    virtual void ShowStop(bool visible) = 0;
    virtual void Refresh() = 0;

    // Called before each block, just before TransferRunning is read: a view on the
    // session's own thread lets the operator's input run here ("Стоп" clears
    // TransferRunning); a view whose window turns on a thread of its own has nothing to
    // pump, and may clear TransferRunning for a stop asked for before the block loop began.
    virtual void PumpMessages() = 0;

    // Shows a message and returns when the operator has closed it.
    virtual void ShowMessage(const Message& message) = 0;
};
