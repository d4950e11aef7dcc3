#include "desktop_link.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QTimer>

#include "media_player_adaptors.h"
#include "suspend_inhibitor.h"

namespace velmora::desktop {
namespace {

namespace ps = playback::play_state;

constexpr char kBusName[] = "org.mpris.MediaPlayer2.velmora";
constexpr char kNoTrack[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr char kArtistSeparator[] = " - ";
// org.freedesktop.DBus.RequestName: fail rather than queue for the name.
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString playbackStatusOf(std::int32_t playState) {
    switch (playState) {
        case ps::Playing:
        case ps::Buffering:
        case ps::Transitioning:
        case ps::Reconnecting:
            return QStringLiteral("Playing");
        case ps::Paused:
            return QStringLiteral("Paused");
        default:
            return QStringLiteral("Stopped");
    }
}

QVariantMap metadataOf(const playback::MediaDetails& details, int trackNumber) {
    if (details.url.empty()) {
        return {{QStringLiteral("mpris:trackid"),
                 QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kNoTrack)))}};
    }
    QVariantMap metadata{
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(
             QDBusObjectPath(QStringLiteral("/org/velmora/track/%1").arg(trackNumber)))},
        {QStringLiteral("xesam:url"), fromUtf8(details.url)},
    };
    if (!details.title.empty()) {
        const QString title = fromUtf8(details.title);
        const QStringList parts = title.split(QString::fromLatin1(kArtistSeparator));
        if (parts.size() == 2) {
            metadata.insert(QStringLiteral("xesam:artist"), QStringList{parts[0]});
            metadata.insert(QStringLiteral("xesam:title"), parts[1]);
        } else {
            metadata.insert(QStringLiteral("xesam:title"), title);
        }
    }
    if (!details.stationName.empty()) {
        metadata.insert(QStringLiteral("xesam:album"), fromUtf8(details.stationName));
    }
    if (details.lengthUs) {
        metadata.insert(QStringLiteral("mpris:length"), qlonglong(*details.lengthUs));
    }
    return metadata;
}

DesktopLink::DesktopLink(std::unique_ptr<ControlledWindow> window, QDBusConnection bus,
                         QObject* parent)
    : QObject(parent),
      window_(std::move(window)),
      bus_(std::move(bus)),
      inhibitor_(std::make_unique<SuspendInhibitor>(bus_)) {
    new MediaPlayer2Adaptor(*this);
    new PlayerAdaptor(*this);
    announced_ = changingProperties();
    bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors);
    requestName(QString::fromLatin1(kBusName), false);
}

DesktopLink::~DesktopLink() {
    bus_.unregisterObject(QString::fromLatin1(kObjectPath));
    if (!ownedName_.isEmpty()) {
        QDBusMessage release = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReleaseName"));
        release << ownedName_;
        bus_.send(release);
    }
}

// Asked without waiting, so that a slow bus never holds up the window.
void DesktopLink::requestName(const QString& name, bool lastTry) {
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << name << kDoNotQueue;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(request), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, name, lastTry](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusPendingReply<uint> reply = *done;
                if (reply.isValid() && reply.value() == kPrimaryOwner) {
                    ownedName_ = name;
                } else if (!lastTry) {
                    requestName(QStringLiteral("%1.instance%2")
                                    .arg(QString::fromLatin1(kBusName))
                                    .arg(QCoreApplication::applicationPid()),
                                true);
                } else {
                    qInfo("The desktop's media controls cannot reach this player: %s",
                          qPrintable(reply.error().message()));
                }
            });
}

void DesktopLink::refresh() {
    if (refreshPosted_) {
        return;
    }
    refreshPosted_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshPosted_ = false;
        announce();
    });
}

bool DesktopLink::canPause() const {
    return window_->isPauseEnabled() || player().playState() == ps::Paused;
}

QVariantMap DesktopLink::changingProperties() const {
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Volume"), volume()},
        {QStringLiteral("CanPause"), canPause()},
    };
}

void DesktopLink::announce() {
    const playback::MediaDetails media = player().mediaDetails();
    if (media.url != shownMedia_.url || media.title != shownMedia_.title) {
        ++trackNumber_;
    }
    shownMedia_ = media;

    const QVariantMap now = changingProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (announced_.value(it.key()) != it.value()) {
            changed.insert(it.key(), it.value());
        }
    }
    announced_ = now;
    inhibitor_->setWanted(now.value(QStringLiteral("PlaybackStatus")) == QStringLiteral("Playing"));
    if (changed.isEmpty()) {
        return;
    }
    // Qt does not announce adaptor properties by itself.
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    bus_.send(signal);
}

}  // namespace velmora::desktop
