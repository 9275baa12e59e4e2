// What every test program sets before its first case: the torvik7ctl and journals that tests
// start keep their journal in the build tree, never in the user's; widgets draw offscreen.
// Set here rather than by ctest, so a test program run by hand behaves the same.
#pragma once

#include <QByteArray>
#include <QtGlobal>

inline void SetTestEnvironment() {
    if (qEnvironmentVariableIsEmpty("TORVIK7_JOURNAL"))
        qputenv("TORVIK7_JOURNAL", QByteArray(TORVIK7_TEST_JOURNAL));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
}
