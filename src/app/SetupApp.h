// The application: Russian texts for Qt's own dialogs, the main window run modally, and
// the end of the program when it closes.
#pragma once

class QApplication;
#include <QString>

class CSetupApp {
public:
    // Runs the utility; the process's exit code. `file`: a settings file to open at start
    // (the desktop's "open with"), or empty.
    int InitInstance(QApplication& app, const QString& file = {});
};

// Loads Qt's Russian translations when they are installed; false when they are missing
// (our own dialogs and message boxes carry Russian button texts all the same).
bool InstallRussianTranslations(QApplication& app);
