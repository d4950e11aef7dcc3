#include "suspend_inhibitor.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace velmora::desktop {
namespace {

constexpr char kReason[] = "Playing audio";
constexpr char kApplication[] = "Velmora";
// A service that is there answers at once; one being started on demand may
// take a moment, but a stream should not wait long for its inhibit.
constexpr int kCallTimeoutMs = 5000;
// org.freedesktop.portal.Inhibit and org.gnome.SessionManager: suspend only.
constexpr uint kInhibitSuspend = 4;

constexpr char kPortalService[] = "org.freedesktop.portal.Desktop";
constexpr char kPmService[] = "org.freedesktop.PowerManagement";
constexpr char kPmPath[] = "/org/freedesktop/PowerManagement/Inhibit";
constexpr char kPmInterface[] = "org.freedesktop.PowerManagement.Inhibit";
constexpr char kGnomeService[] = "org.gnome.SessionManager";
constexpr char kGnomePath[] = "/org/gnome/SessionManager";

QDBusMessage inhibitCall(const char* service, const char* path, const char* interface) {
    return QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                          QString::fromLatin1(interface),
                                          QStringLiteral("Inhibit"));
}

}  // namespace

SuspendInhibitor::SuspendInhibitor(QDBusConnection sessionBus, QObject* parent)
    : QObject(parent), sessionBus_(std::move(sessionBus)) {}

SuspendInhibitor::~SuspendInhibitor() { release(); }

void SuspendInhibitor::setWanted(bool wanted) {
    if (!wanted) {
        refused_ = false;
    }
    wanted_ = wanted;
    update();
}

void SuspendInhibitor::update() {
    if (pending_) {
        return;  // decided again when the answer comes
    }
    if (wanted_ && held_ == Way::None && !refused_) {
        request(Way::Portal);
    } else if (!wanted_ && held_ != Way::None) {
        release();
    }
}

void SuspendInhibitor::request(Way way) {
    QDBusMessage call;
    QDBusConnection bus = sessionBus_;
    switch (way) {
        case Way::Portal:
            call = inhibitCall(kPortalService, "/org/freedesktop/portal/desktop",
                               "org.freedesktop.portal.Inhibit");
            call << QString() << kInhibitSuspend
                 << QVariantMap{{QStringLiteral("reason"), QString::fromLatin1(kReason)}};
            break;
        case Way::PowerManagement:
            call = inhibitCall(kPmService, kPmPath, kPmInterface);
            call << QString::fromLatin1(kApplication) << QString::fromLatin1(kReason);
            break;
        case Way::GnomeSession:
            call = inhibitCall(kGnomeService, kGnomePath, kGnomeService);
            call << QString::fromLatin1(kApplication) << 0U << QString::fromLatin1(kReason)
                 << kInhibitSuspend;
            break;
        case Way::Logind:
            // "idle" stops the suspend that idling would bring, not one the
            // user asks for.
            bus = QDBusConnection::systemBus();
            call = inhibitCall("org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager");
            call << QStringLiteral("idle") << QString::fromLatin1(kApplication)
                 << QString::fromLatin1(kReason) << QStringLiteral("block");
            break;
        case Way::None:
            refused_ = true;  // the machine may suspend as it would
            return;
    }
    if (!bus.isConnected()) {
        request(static_cast<Way>(static_cast<int>(way) + 1));
        return;
    }
    pending_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, way](QDBusPendingCallWatcher* done) { onGranted(done, way); });
}

void SuspendInhibitor::onGranted(QDBusPendingCallWatcher* call, Way way) {
    call->deleteLater();
    pending_ = false;
    const QDBusMessage reply = call->reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        request(static_cast<Way>(static_cast<int>(way) + 1));
        return;
    }
    const QVariant token = reply.arguments().constFirst();
    held_ = way;
    switch (way) {
        case Way::Portal:
            portalHandle_ = qvariant_cast<QDBusObjectPath>(token).path();
            break;
        case Way::PowerManagement:
        case Way::GnomeSession:
            cookie_ = token.toUInt();
            break;
        case Way::Logind:
            logindLock_ = qvariant_cast<QDBusUnixFileDescriptor>(token);
            break;
        case Way::None:
            break;
    }
    update();
}

void SuspendInhibitor::release() {
    QDBusMessage call;
    switch (held_) {
        case Way::Portal:
            call = QDBusMessage::createMethodCall(
                QString::fromLatin1(kPortalService), portalHandle_,
                QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"));
            break;
        case Way::PowerManagement:
            call = QDBusMessage::createMethodCall(
                QString::fromLatin1(kPmService), QString::fromLatin1(kPmPath),
                QString::fromLatin1(kPmInterface), QStringLiteral("UnInhibit"));
            call << cookie_;
            break;
        case Way::GnomeSession:
            call = QDBusMessage::createMethodCall(
                QString::fromLatin1(kGnomeService), QString::fromLatin1(kGnomePath),
                QString::fromLatin1(kGnomeService), QStringLiteral("Uninhibit"));
            call << cookie_;
            break;
        case Way::Logind:
            logindLock_ = QDBusUnixFileDescriptor();  // closing the lock releases it
            break;
        case Way::None:
            return;
    }
    if (held_ != Way::Logind) {
        sessionBus_.send(call);
    }
    held_ = Way::None;
    portalHandle_.clear();
    cookie_ = 0;
}

}  // namespace velmora::desktop
