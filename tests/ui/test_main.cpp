#include <gtest/gtest.h>
#include <QApplication>

#include "ui/application_icon.h"
#include "ui/design_fonts.h"
#include "ui/toolkit_translation.h"
#include "ui/window_builder.h"

// The windows set up as the program sets itself up. Listing the tests must work without a
// display: the platform (offscreen, or the X server xvfb-run gives) comes from the environment.
int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    int exitCode = 0;
    {
        QApplication application(argc, argv);
        // Closing the last window would stop every later nested event loop.
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setWindowIcon(velmora::ui::applicationIcon());
        QApplication::setFont(velmora::ui::toFont(velmora::ui::userInterfaceFont()));
        velmora::ui::installToolkitTranslation(application);
        exitCode = RUN_ALL_TESTS();
    }
    return exitCode;
}
