#include "media_player_adaptors.h"

#include <cmath>

#include <QGuiApplication>
#include <QUrl>

#include "desktop_link.h"

namespace velmora::desktop {
namespace {

using Action = playback::TransportAction;
namespace ps = playback::play_state;

bool isGoing(std::int32_t playState) {
    return playbackStatusOf(playState) == QStringLiteral("Playing");
}

}  // namespace

MediaPlayer2Adaptor::MediaPlayer2Adaptor(DesktopLink& link)
    : QDBusAbstractAdaptor(&link), link_(link) {}

QString MediaPlayer2Adaptor::identity() const { return QStringLiteral("Velmora"); }

QString MediaPlayer2Adaptor::desktopEntry() const { return QGuiApplication::desktopFileName(); }

QStringList MediaPlayer2Adaptor::supportedUriSchemes() const {
    return {QStringLiteral("http"), QStringLiteral("https")};
}

QStringList MediaPlayer2Adaptor::supportedMimeTypes() const {
    return {QStringLiteral("audio/mpeg"),    QStringLiteral("audio/x-mpegurl"),
            QStringLiteral("audio/mpegurl"), QStringLiteral("application/vnd.apple.mpegurl"),
            QStringLiteral("audio/x-scpls"), QStringLiteral("application/xspf+xml"),
            QStringLiteral("audio/x-ms-asx")};
}

void MediaPlayer2Adaptor::Raise() { link_.window().raise(); }

void MediaPlayer2Adaptor::Quit() {
    // The main window first: it takes its notices down and ends playback. The
    // program ends too, though an open about window would keep it running.
    link_.window().close();
    QCoreApplication::quit();
}

PlayerAdaptor::PlayerAdaptor(DesktopLink& link) : QDBusAbstractAdaptor(&link), link_(link) {}

QString PlayerAdaptor::playbackStatus() const { return link_.playbackStatus(); }

QVariantMap PlayerAdaptor::metadata() const { return link_.metadata(); }

double PlayerAdaptor::volume() const { return link_.volume(); }

void PlayerAdaptor::setVolume(double volume) {
    link_.player().setVolume(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
    link_.refresh();
}

bool PlayerAdaptor::canPause() const { return link_.canPause(); }

void PlayerAdaptor::Play() {
    const std::int32_t state = link_.player().playState();
    if (state == ps::Paused) {
        link_.window().perform(Action::Continue);
    } else if (!isGoing(state)) {
        link_.window().perform(Action::Play);
    }
}

void PlayerAdaptor::Pause() {
    if (isGoing(link_.player().playState())) {
        link_.window().perform(Action::Pause);
    }
}

void PlayerAdaptor::PlayPause() {
    if (isGoing(link_.player().playState())) {
        link_.window().perform(Action::Pause);
    } else {
        Play();
    }
}

void PlayerAdaptor::Stop() {
    const std::int32_t state = link_.player().playState();
    if (state != ps::Stopped && state != ps::Undefined) {
        link_.window().perform(Action::Stop);
    }
}

void PlayerAdaptor::OpenUri(const QString& uri) {
    const QString scheme = QUrl(uri).scheme().toLower();
    if (scheme == QStringLiteral("http") || scheme == QStringLiteral("https")) {
        link_.window().playAddress(uri.toStdString());
    }
}

}  // namespace velmora::desktop
