#include "home_page.h"

#include <QDesktopServices>
#include <QUrl>

namespace velmora::ui {

void openHomePage() {
    static_cast<void>(QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePageUrl))));
}

}  // namespace velmora::ui
