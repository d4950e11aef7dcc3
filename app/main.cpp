#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>

#include <QApplication>
#include <QPointer>

#include "playback/application_title.h"
#include "playback/player_settings.h"
#include "ui/about_window.h"
#include "ui/application_icon.h"
#include "ui/design_fonts.h"
#include "ui/main_window.h"
#include "ui/message_box_notifier.h"
#include "ui/toolkit_translation.h"
#include "ui/window_builder.h"

#include "desktop_wiring.h"
#include "engine/player/media_player_factory.h"
#include "termination_requests.h"

namespace {

// How long the program's end waits for pipelines still winding down (a
// server that has not answered yet, a sound server that does not).
constexpr std::chrono::seconds kThreadsEndBound{1};

}  // namespace

// The program takes no arguments of its own: QApplication consumes the
// toolkit's (-platform, -display, ...) and the rest are ignored.
int main(int argc, char* argv[]) {
    velmora::engine::ThreadKeeper threads;  // outlives every player
    QApplication application(argc, argv);
    QApplication::setApplicationName(
        QString::fromUtf8(velmora::kApplicationTitle.data(), velmora::kApplicationTitle.size()));
    // No display name: the X11 platform would append it to every window title.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.telvaro.Velmora"));
    QApplication::setWindowIcon(velmora::ui::applicationIcon());
    QApplication::setFont(velmora::ui::toFont(velmora::ui::userInterfaceFont()));
    if (!velmora::ui::installToolkitTranslation(application)) {
        qWarning(
            "The toolkit's Chinese translation is not installed; dialogs show English buttons.");
    }

    velmora::ui::AboutWindow about;
    QPointer<velmora::ui::MainWindow> mainWindow;
    try {
        const auto createPlayer = [&threads](const velmora::playback::PlayerSettings& settings) {
            return velmora::engine::createMediaPlayer(settings, threads);
        };
        mainWindow = velmora::ui::openMainWindow(createPlayer, about);
    } catch (const std::exception& error) {
        // The notice is the program's only window: it ends when the user closes it.
        velmora::ui::MessageBoxNotifier notifier(nullptr);
        notifier.showNotice(std::string(velmora::kApplicationTitle), error.what());
        QApplication::exec();
        return 1;
    }
    // Whatever ends the program closes the main window first, which takes its
    // notices down and ends playback, then the about window. A session manager
    // ends the program by quitting its event loop, after which only the main
    // window is left to close.
    const auto closeWindows = [&mainWindow] {
        if (!mainWindow.isNull()) {
            mainWindow->close();
        }
        QApplication::closeAllWindows();
    };
    const velmora::TerminationRequests termination(closeWindows);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, closeWindows);
    velmora::linkToDesktop(*mainWindow);
    const int exitCode = QApplication::exec();
    delete mainWindow.data();
    if (threads.joinAll(kThreadsEndBound) > 0) {
        // Nothing is lost: whatever it still holds was already let go.
        qWarning("A pipeline did not wind down in time; the program ends without it.");
        std::_Exit(exitCode);
    }
    return exitCode;
}
