#include "xvfb_display.h"

#include <chrono>
#include <stdexcept>

#include <QElapsedTimer>
#include <QStandardPaths>

namespace velmora::ui::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kServerStartTimeout = 15s;
constexpr auto kServerStopTimeout = 5s;

int milliseconds(std::chrono::milliseconds duration) { return static_cast<int>(duration.count()); }

}  // namespace

XvfbDisplay::XvfbDisplay() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (program.isEmpty()) {
        throw std::runtime_error("Xvfb is not installed (Debian package xvfb)");
    }
    // -displayfd 1: the server writes the display number it chose to stdout.
    server_.setProgram(program);
    server_.setArguments(
        {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.start();

    QElapsedTimer waited;
    waited.start();
    QByteArray output;
    while (!output.contains('\n')) {
        const auto left = milliseconds(kServerStartTimeout) - waited.elapsed();
        if (left <= 0 || !server_.waitForReadyRead(static_cast<int>(left))) {
            server_.kill();
            server_.waitForFinished(milliseconds(kServerStopTimeout));
            throw std::runtime_error("Xvfb did not report a display");
        }
        output += server_.readAllStandardOutput();
    }
    name_ = QStringLiteral(":") + QString::fromLatin1(output.trimmed());
}

XvfbDisplay::~XvfbDisplay() {
    server_.terminate();
    if (!server_.waitForFinished(milliseconds(kServerStopTimeout))) {
        server_.kill();
        server_.waitForFinished(milliseconds(kServerStopTimeout));
    }
}

}  // namespace velmora::ui::test
