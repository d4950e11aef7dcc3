#include <gtest/gtest.h>
#include <QApplication>

#include "ui/application_icon.h"
#include "ui/design_fonts.h"
#include "ui/toolkit_translation.h"
#include "ui/window_builder.h"
#include "xvfb_display.h"

// The windows on a real X server, set up as the program sets itself up.
int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    velmora::ui::test::XvfbDisplay display;
    qputenv("DISPLAY", display.name().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    int exitCode = 0;
    {
        QApplication application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setWindowIcon(velmora::ui::applicationIcon());
        QApplication::setFont(velmora::ui::toFont(velmora::ui::userInterfaceFont()));
        velmora::ui::installToolkitTranslation(application);
        exitCode = RUN_ALL_TESTS();
    }
    return exitCode;
}
