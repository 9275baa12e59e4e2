// The window's transfers run on a worker and end in the window's event loop: a test (or a
// benchmark) turns that loop until the transfer has ended and the window has done its
// after-transfer work.
#pragma once

#include "app/SetupDlg.h"

#include <QCoreApplication>
#include <QEventLoop>

inline void WaitForTransfer(const CSetupDlg& window) {
    while (window.SessionRunning())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// Starts a transfer with `start` (a button's command) and waits for its end.
template <typename Start> void RunTransfer(CSetupDlg& window, Start start) {
    start();
    WaitForTransfer(window);
}
