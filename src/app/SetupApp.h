// The application: Russian texts for Qt's own dialogs, the main window run modally, and
// the end of the program when it closes.
#pragma once

class QApplication;

class CSetupApp {
public:
    // Runs the utility; the process's exit code.
    int InitInstance(QApplication& app);
};

// Loads Qt's Russian translations when they are installed; false when they are missing
// (our own dialogs and message boxes carry Russian button texts all the same).
bool InstallRussianTranslations(QApplication& app);
