#pragma once

#include <memory>
#include <string>

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

#include "controlled_window.h"

namespace velmora::desktop {

class SuspendInhibitor;

// The MPRIS2 state for a play-state code: playing, buffering, connecting and
// reconnecting are all "Playing" to the desktop.
QString playbackStatusOf(std::int32_t playState);

// What the desktop shows of the media: xesam:artist and xesam:title from a
// stream title holding exactly one " - ", the station as xesam:album.
QVariantMap metadataOf(const playback::MediaDetails& details, int trackNumber);

// The program on the session bus: org.mpris.MediaPlayer2.velmora (or
// ….instance<pid> when that name is taken) and the suspend inhibit while it
// plays. Lives on the user-interface thread, as a child of the window it
// controls; every bus call is asynchronous. Call refresh() after anything
// the desktop shows may have changed: the changes go out once, from the main
// loop, and only those that are real.
class DesktopLink : public QObject {
    Q_OBJECT

  public:
    static constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
    static constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";

    DesktopLink(std::unique_ptr<ControlledWindow> window, QDBusConnection bus,
                QObject* parent = nullptr);
    ~DesktopLink() override;

    void refresh();

    ControlledWindow& window() { return *window_; }
    playback::Player& player() const { return window_->player(); }
    QString playbackStatus() const { return playbackStatusOf(player().playState()); }
    QVariantMap metadata() const { return metadataOf(shownMedia_, trackNumber_); }
    double volume() const { return player().volume() / 100.0; }
    // KDE's play/pause key pauses only when this is true.
    bool canPause() const;
    // What the Player interface announces when it changes.
    QVariantMap changingProperties() const;

  private:
    void requestName(const QString& name, bool lastTry);
    void announce();

    std::unique_ptr<ControlledWindow> window_;
    QDBusConnection bus_;
    std::unique_ptr<SuspendInhibitor> inhibitor_;
    bool refreshPosted_ = false;
    QVariantMap announced_;
    playback::MediaDetails shownMedia_;
    int trackNumber_ = 0;
    QString ownedName_;
};

}  // namespace velmora::desktop
