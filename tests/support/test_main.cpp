// Test main shared by every test binary: GoogleTest inside a QApplication on the offscreen
// platform, so that timers, posted events and widgets work without a display.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "platform/aspi/backend.h"

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    // Join the manager's worker before the statics it touches go away.
    aspi::ShutdownManager();
    return status;
}
