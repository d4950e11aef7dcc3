#include "error_notices.h"

#include <string>

#include "application_title.h"

namespace velmora::playback {

void ErrorNotices::warning() {
    notifier_.showNotice(std::string(kApplicationTitle), std::string(kWarningNotice));
}

void ErrorNotices::mediaError() {
    notifier_.showNotice(std::string(kApplicationTitle), std::string(kMediaErrorNotice));
}

}  // namespace velmora::playback
