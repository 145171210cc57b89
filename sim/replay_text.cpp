#include "sim/replay_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/time_text.h"
#include "sim/hex_bytes.h"

namespace zendrik::sim {
namespace {

constexpr unsigned kMaxRssi = 0xFF;

bool SameReader(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// One recorded read: its reader, its time and the sighting it gives.
struct RecordedRead {
    std::string reader;
    int64_t timeMs = 0;
    TagSighting sighting;
};

std::string StringField(const nlohmann::json& event, const char* key) {
    const auto field = event.find(key);
    return field != event.end() && field->is_string() ? field->get<std::string>() : std::string();
}

// The read on one line, nothing for an event of another kind, or the words for what is wrong.
std::optional<RecordedRead> ParseRead(const std::string& line, std::string& error) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object()) {
        error = "not an event's JSON object";
        return std::nullopt;
    }
    if (StringField(event, "event") != "read") {
        return std::nullopt;
    }
    RecordedRead read;
    read.reader = StringField(event, "reader");
    const std::optional<int64_t> time = base::ParseUtcText(StringField(event, "time"));
    const std::optional<std::vector<uint8_t>> epc = ParseHexBytes(StringField(event, "epc"));
    if (read.reader.empty()) {
        error = "a read without its reader";
    } else if (!time) {
        error = "a read without a time such as 2026-12-09T22:08:56.123Z";
    } else if (!epc || epc->empty() || epc->size() > kMaxEpcSize) {
        error = "a read without an EPC of 1 to " + std::to_string(kMaxEpcSize) + " bytes of hex";
    }
    if (!error.empty()) {
        return std::nullopt;
    }
    read.timeMs = *time;
    read.sighting.epc = *epc;
    const auto rssi = event.find("rssi");
    if (rssi != event.end() && rssi->is_number_unsigned() && rssi->get<uint64_t>() <= kMaxRssi) {
        read.sighting.rssi = static_cast<uint8_t>(rssi->get<uint64_t>());
    }
    return read;
}

}  // namespace

SceneText ParseReplay(std::string_view text, std::string_view name,
                      const std::optional<std::string>& readerId) {
    SceneText scene;
    std::optional<std::string> reader = readerId;
    std::optional<int64_t> startMs;
    std::istringstream lines{std::string(text)};
    unsigned number = 0;
    const auto refuse = [&](const std::string& what) {
        return SceneText{{}, std::string(name) + ":" + std::to_string(number) + ": " + what};
    };
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        std::string error;
        const std::optional<RecordedRead> read = ParseRead(line, error);
        if (!error.empty()) {
            return refuse(error);
        }
        if (!read || (readerId && !SameReader(read->reader, *readerId))) {
            continue;
        }
        if (!reader) {
            reader = read->reader;
        } else if (!SameReader(read->reader, *reader)) {
            return refuse("a read of reader " + read->reader + " among those of " + *reader +
                          ": choose one with --serial");
        }
        startMs = startMs.value_or(read->timeMs);
        const int64_t atMs = read->timeMs - *startMs;
        if (!scene.steps.empty() && atMs < scene.steps.back().atMs) {
            return refuse("a read earlier than the one before it");
        }
        scene.steps.push_back({atMs, SceneAction::kSeeOnce, read->sighting.epc, read->sighting.rssi});
    }
    if (scene.steps.empty()) {
        scene.error =
            std::string(name) + ": no reads" + (readerId ? " of reader " + *readerId : std::string());
    }
    return scene;
}

}  // namespace zendrik::sim
