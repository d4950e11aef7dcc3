#pragma once

#include <QDesktopServices>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace velmora::ui::test {

// Receives the http URLs the program hands to the desktop while it lives, so
// that no browser starts and the test sees each request.
class UrlCatcher : public QObject {
    Q_OBJECT

  public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    const QStringList& urls() const { return urls_; }

  public slots:
    void open(const QUrl& url) { urls_.append(url.toString()); }

  private:
    QStringList urls_;
};

}  // namespace velmora::ui::test
