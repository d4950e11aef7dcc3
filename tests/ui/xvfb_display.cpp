#include "xvfb_display.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <stdexcept>

namespace velmora::ui::test {
namespace {

constexpr int kServerStartTimeoutMs = 15000;
constexpr int kServerStopTimeoutMs = 5000;

}  // namespace

XvfbDisplay::XvfbDisplay() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (program.isEmpty()) throw std::runtime_error("Xvfb is not installed (Debian package xvfb)");
    // -displayfd 1: the server writes the display number it chose to stdout.
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.start(program, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    const QDeadlineTimer deadline(kServerStartTimeoutMs);
    QByteArray output;
    while (!output.contains('\n') && server_.waitForReadyRead(deadline.remainingTime())) {
        output += server_.readAllStandardOutput();
    }
    if (!output.contains('\n')) {
        server_.kill();
        server_.waitForFinished(kServerStopTimeoutMs);
        throw std::runtime_error("Xvfb did not report a display");
    }
    name_ = QStringLiteral(":") + QString::fromLatin1(output.trimmed());
}

XvfbDisplay::~XvfbDisplay() {
    server_.terminate();
    if (!server_.waitForFinished(kServerStopTimeoutMs)) {
        server_.kill();
        server_.waitForFinished(kServerStopTimeoutMs);
    }
}

}  // namespace velmora::ui::test
