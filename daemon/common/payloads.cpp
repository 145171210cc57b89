#include "daemon/common/payloads.h"

#include <chrono>
#include <nlohmann/json.hpp>

#include "base/time_text.h"
#include "daemon/common/event_kinds.h"
#include "daemon/common/json_text.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {
namespace {

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

int64_t UnixNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string ReaderStatusJson(const ReaderStatus& status) {
    nlohmann::ordered_json json;
    json["state"] = status.offline ? "offline" : status.linkUp ? "online" : "link-lost";
    json["time"] = base::UtcText(status.timeMs);
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
    if (!status.profile.empty()) {
        json["profile"] = status.profile;
    }
    if (!status.deadReason.empty()) {
        json["dead_reason"] = status.deadReason;
    }
    return JsonText(json);
}

std::string SiteOnlineJson(int64_t timeMs, int64_t sinceMs, std::size_t readers) {
    nlohmann::ordered_json json;
    json["state"] = "online";
    json["time"] = base::UtcText(timeMs);
    json["since"] = base::UtcText(sinceMs);
    json["readers"] = readers;
    return JsonText(json);
}

std::string SpoolLostJson(const std::string& reader, uint64_t seq, int64_t timeMs, uint64_t missingFrom,
                          uint64_t missingTo) {
    nlohmann::ordered_json json;
    json["event"] = std::string(kSpoolLostEvent);
    json["reader"] = reader;
    json["seq"] = seq;
    json["time"] = base::UtcText(timeMs);
    json["missing_from"] = missingFrom;
    json["missing_to"] = missingTo;
    return JsonText(json);
}

std::string SiteOfflineJson() {
    return R"({"state":"offline"})";
}

}  // namespace zendrik::daemon
