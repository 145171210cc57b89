#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zendrik::daemon {

// The daemon's own events about a reader's settings, on its events topic in its own seq.
inline constexpr std::string_view kSettingsDriftEvent = "settings-drift";
inline constexpr std::string_view kSettingsAppliedEvent = "settings-applied";
inline constexpr std::string_view kSettingsFailedEvent = "settings-failed";
// The numbers a lost spool held, told on a reader's (or a zone's, a door's) events topic.
inline constexpr std::string_view kSpoolLostEvent = "spool-lost";
// The zones' and doors' events, each on the events topic of its zone or door.
inline constexpr std::string_view kZoneEnteredEvent = "zone-entered";
inline constexpr std::string_view kZoneLeftEvent = "zone-left";
inline constexpr std::string_view kPassageEvent = "passage";

// The names of every kind of event the daemon publishes, streams and hands to its outputs, as
// their "event" says: a reader's own (read, arrived, departed and its link's), then the daemon's
// (settings, spool), then the zones' and doors'. The one list: /api/v1/site's event_kinds and the
// kinds an output's `events` may name are both this.
std::vector<std::string> PublishedEventKinds();

}  // namespace zendrik::daemon
