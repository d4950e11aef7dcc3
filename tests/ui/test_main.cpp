#include <gtest/gtest.h>
#include <QApplication>

#include "ui/toolkit_translation.h"

// The windows need an application object, but listing the tests must work
// without a display: the platform comes from the test's environment.
int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication application(argc, argv);
    // Closing the last window would stop every later nested event loop.
    QApplication::setQuitOnLastWindowClosed(false);
    velmora::ui::installToolkitTranslation(application);
    return RUN_ALL_TESTS();
}
