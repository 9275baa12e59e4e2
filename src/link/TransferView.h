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

    // Shows a message. Every message a session shows has only an OK button: a view may
    // return before the operator closes it, as long as what the session shows after it
    // appears only once it is closed.
    virtual void ShowMessage(const Message& message) = 0;
};
