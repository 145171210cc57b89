#include "cli/read_output.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace zendrik::cli {
namespace {

constexpr int kMillisecondsPerSecond = 1000;

}  // namespace

std::optional<ReadFormat> ParseReadFormat(std::string_view name) {
    if (name == "text") {
        return ReadFormat::kText;
    }
    if (name == "json") {
        return ReadFormat::kJson;
    }
    if (name == "csv") {
        return ReadFormat::kCsv;
    }
    return std::nullopt;
}

std::optional<std::string> ReadHeader(ReadFormat format) {
    if (format == ReadFormat::kCsv) {
        return "time,card,count,epc_length,epc\n";
    }
    return std::nullopt;
}

std::string FormatReadRow(ReadFormat format, const ReadRow& row) {
    switch (format) {
        case ReadFormat::kJson: {
            nlohmann::ordered_json json;
            json["time"] = row.time;
            json["card"] = row.card;
            json["count"] = row.count;
            json["epc_length"] = row.epcLength;
            json["epc"] = row.epc;
            return json.dump() + "\n";
        }
        case ReadFormat::kCsv:
            // Every field is digits, hex or the time stamp: nothing needs quoting.
            return row.time + "," + row.card + "," + std::to_string(row.count) + "," +
                   std::to_string(row.epcLength) + "," + row.epc + "\n";
        case ReadFormat::kText:
            break;
    }
    return row.time + "  card " + row.card + "  count " + std::to_string(row.count) + "  epc " + row.epc +
           "\n";
}

std::string LocalTimeStamp(std::chrono::system_clock::time_point when) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count() % kMillisecondsPerSecond;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[sizeof "2000-01-01T00:00:00.000"];
    const std::size_t used = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + used, sizeof text - used, ".%03d", static_cast<int>(millis));
    return text;
}

}  // namespace zendrik::cli
