#include "application_icon.h"

#include <QFile>
#include <QString>

#include "design_resources.h"

namespace velmora::ui {

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : kIconSizes) {
        const QString path = QString::fromLatin1(kIconResourcePattern).arg(size);
        if (QFile::exists(path)) {
            icon.addFile(path, QSize(size, size));
        }
    }
    return icon;
}

}  // namespace velmora::ui
