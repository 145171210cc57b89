#include "daemon/common/event_kinds.h"

#include <zendrik_session.h>

namespace zendrik::daemon {

std::vector<std::string> PublishedEventKinds() {
    // A request's completion (ZENDRIK_EVENT_COMPLETED) answers a command; it is not published.
    std::vector<std::string> kinds;
    for (int32_t kind = ZENDRIK_EVENT_READ; kind <= ZENDRIK_EVENT_LINK_UP; ++kind) {
        kinds.emplace_back(zendrik_event_kind_name(kind));
    }
    for (const std::string_view own : {kSettingsDriftEvent, kSettingsAppliedEvent, kSettingsFailedEvent,
                                       kSpoolLostEvent, kZoneEnteredEvent, kZoneLeftEvent, kPassageEvent}) {
        kinds.emplace_back(own);
    }
    return kinds;
}

}  // namespace zendrik::daemon
