#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

namespace velmora::desktop {

// Keeps the machine from suspending while wanted: not the screen saver, not
// idle dimming. Asks the desktop portal, else the PowerManagement service
// (KDE, Xfce), else GNOME's session manager, else logind for "idle". Every
// call is asynchronous; a release goes out as soon as the inhibit it undoes
// has been granted, and on destruction.
class SuspendInhibitor : public QObject {
    Q_OBJECT

  public:
    SuspendInhibitor(QDBusConnection sessionBus, QObject* parent = nullptr);
    ~SuspendInhibitor() override;

    void setWanted(bool wanted);

  private:
    enum class Way { Portal, PowerManagement, GnomeSession, Logind, None };

    void update();
    void request(Way way);
    void onGranted(QDBusPendingCallWatcher* call, Way way);
    void release();

    QDBusConnection sessionBus_;
    bool wanted_ = false;
    bool pending_ = false;
    // Nobody granted the inhibit; asked again only once it is wanted anew.
    bool refused_ = false;
    Way held_ = Way::None;
    QString portalHandle_;
    uint cookie_ = 0;
    QDBusUnixFileDescriptor logindLock_;
};

}  // namespace velmora::desktop
