#include "daemon/common/payloads.h"

#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>

#include "daemon/common/json_text.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {
namespace {

constexpr int64_t kMsPerSecond = 1000;

nlohmann::json OrNull(const std::optional<std::string>& text) {
    return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

}  // namespace

Topics::Topics(std::string prefix, std::string site)
    : siteLevel_(std::move(prefix) + "/" + std::move(site)), siteStatus_(siteLevel_ + "/status") {}

std::string Topics::ForEvent(const std::string& reader, int32_t kind) const {
    return kind == ZENDRIK_EVENT_READ ? Reads(reader) : Events(reader);
}

std::string Topics::ReaderOfCommand(const std::string& topic) const {
    const std::string start = siteLevel_ + "/";
    const std::string end = "/cmd";
    if (topic.size() <= start.size() + end.size() || topic.rfind(start, 0) != 0 ||
        topic.compare(topic.size() - end.size(), end.size(), end) != 0) {
        return {};
    }
    const std::string reader = topic.substr(start.size(), topic.size() - start.size() - end.size());
    return reader.find('/') == std::string::npos ? reader : std::string();
}

std::string UtcTimeText(int64_t unixMs) {
    // Floor division, so that times before 1970 still give a millisecond part from 0 to 999.
    int64_t seconds = unixMs / kMsPerSecond;
    int64_t millis = unixMs % kMsPerSecond;
    if (millis < 0) {
        millis += kMsPerSecond;
        --seconds;
    }
    const std::time_t whole = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char full[48];
    std::snprintf(full, sizeof full, "%.*s.%03dZ", static_cast<int>(length), text, static_cast<int>(millis));
    return full;
}

int64_t UnixNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string ReaderStatusJson(const ReaderStatus& status) {
    nlohmann::ordered_json json;
    json["state"] = status.offline ? "offline" : status.linkUp ? "online" : "link-lost";
    json["time"] = UtcTimeText(status.timeMs);
    json["kind"] = status.kind ? nlohmann::json(*status.kind) : nlohmann::json(nullptr);
    json["version"] = OrNull(status.version);
    json["serial"] = OrNull(status.serial);
    json["reads"] = status.reads;
    json["spooled"] = status.spooled;
    json["dropped"] = status.dropped;
    json["dead"] = status.dead;
    json["spool"] = status.spoolFull ? "full" : "ok";
    json["published"] = status.published;
    json["inventory"] = status.inventoryRunning ? "running" : "stopped";
    json["settings"] = status.settings;
    if (!status.driftJson.empty()) {
        json["drift"] = nlohmann::ordered_json::parse(status.driftJson, nullptr, false);
    }
    if (!status.deadReason.empty()) {
        json["dead_reason"] = status.deadReason;
    }
    return JsonText(json);
}

std::string SiteOnlineJson(int64_t timeMs, int64_t sinceMs, std::size_t readers) {
    nlohmann::ordered_json json;
    json["state"] = "online";
    json["time"] = UtcTimeText(timeMs);
    json["since"] = UtcTimeText(sinceMs);
    json["readers"] = readers;
    return JsonText(json);
}

std::string SpoolLostJson(const std::string& reader, uint64_t seq, int64_t timeMs, uint64_t missingFrom,
                          uint64_t missingTo) {
    nlohmann::ordered_json json;
    json["event"] = "spool-lost";
    json["reader"] = reader;
    json["seq"] = seq;
    json["time"] = UtcTimeText(timeMs);
    json["missing_from"] = missingFrom;
    json["missing_to"] = missingTo;
    return JsonText(json);
}

std::string SiteOfflineJson() {
    return R"({"state":"offline"})";
}

}  // namespace zendrik::daemon
