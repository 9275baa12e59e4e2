// Widget tests need one QApplication for the whole process, on the offscreen platform.
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    SetTestEnvironment();
    // What the window keeps between runs (recent files, folders) goes to a folder of this
    // run, never into the user's settings (nor, under Wine, into the registry).
    const QTemporaryDir config;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    QApplication app(argc, argv);
    // One style everywhere, so sizes and click positions are the same on Linux and Windows.
    QApplication::setStyle(QStringLiteral("Fusion"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
