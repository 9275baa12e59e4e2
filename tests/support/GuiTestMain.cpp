// Widget tests need one QApplication for the whole process, on the offscreen platform.
#include "support/TestEnvironment.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    SetTestEnvironment();
    QApplication app(argc, argv);
    // One style everywhere, so sizes and click positions are the same on Linux and Windows.
    QApplication::setStyle(QStringLiteral("Fusion"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
