#pragma once

class QCoreApplication;

namespace velmora::ui {

// Installs the toolkit's own Simplified Chinese texts, so that standard
// buttons read "确定" like the rest of the program. Returns false when the
// translation is not installed; the program then shows the toolkit's English.
bool installToolkitTranslation(QCoreApplication& application);

}  // namespace velmora::ui
