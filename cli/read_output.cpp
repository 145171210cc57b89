#include "cli/read_output.h"

#include <array>
#include <nlohmann/json.hpp>

#include "base/time_text.h"
#include "cli/result_words.h"
#include "rules/card_number.h"

namespace zendrik::cli {
namespace {

constexpr char kCsvSeparator = ',';
constexpr char kCsvQuote = '"';
constexpr std::string_view kCsvSpecials = ",\"\r\n";
constexpr std::string_view kNoCard = "-";

// Every field an event's JSON may carry, in the order the library writes them.
constexpr std::array<std::string_view, 12> kCsvColumns{"event",     "reader",  "seq",   "time",
                                                       "epc",       "card",    "count", "first_seen",
                                                       "last_seen", "antenna", "rssi",  "error"};

std::string CsvField(const std::string& text) {
    if (text.find_first_of(kCsvSpecials) == std::string::npos) {
        return text;
    }
    std::string quoted(1, kCsvQuote);
    for (const char c : text) {
        if (c == kCsvQuote) {
            quoted.push_back(kCsvQuote);
        }
        quoted.push_back(c);
    }
    quoted.push_back(kCsvQuote);
    return quoted;
}

std::string CsvValue(const nlohmann::ordered_json& value) {
    if (value.is_string()) {
        return CsvField(value.get<std::string>());
    }
    return value.is_null() ? std::string{} : value.dump();
}

std::string TagText(const zendrik::Event& event) {
    const std::string card = event.card();
    const std::vector<uint8_t> epc = event.epc();
    return "  card " + (card.empty() ? std::string(kNoCard) : card) + "  count " +
           std::to_string(event.count()) + "  epc " + rules::HexText(epc);
}

// What follows the time, the reader and the kind on a text line.
std::string TextDetails(const zendrik::Event& event) {
    switch (event.kind()) {
        case zendrik::EventKind::read: {
            std::string text = TagText(event);
            if (const std::optional<int> antenna = event.antenna()) {
                text += "  antenna " + std::to_string(*antenna);
            }
            if (const std::optional<int> rssi = event.rssi()) {
                text += "  rssi " + std::to_string(*rssi);
            }
            return text;
        }
        case zendrik::EventKind::arrived:
        case zendrik::EventKind::departed:
            return TagText(event);
        case zendrik::EventKind::link_lost:
            return "  " + zendrik::result_words(event.error());
        case zendrik::EventKind::link_restored:
        case zendrik::EventKind::link_up:
        case zendrik::EventKind::completed:
            break;
    }
    return {};
}

std::string TextLine(const zendrik::Event& event, TextLayout layout) {
    std::string line = base::LocalTimeStamp(event.time());
    if (layout.reader) {
        line += "  " + event.reader();
    }
    if (layout.kind) {
        line += "  " + event.kind_name();
    }
    return line + TextDetails(event) + "\n";
}

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
    if (format != ReadFormat::kCsv) {
        return std::nullopt;
    }
    std::string header;
    for (const std::string_view column : kCsvColumns) {
        header.append(header.empty() ? "" : std::string(1, kCsvSeparator)).append(column);
    }
    return header + "\n";
}

std::string FormatEvent(ReadFormat format, const zendrik::Event& event, TextLayout layout) {
    switch (format) {
        case ReadFormat::kJson:
            return event.json() + "\n";
        case ReadFormat::kCsv:
            return CsvRow(event.json());
        case ReadFormat::kText:
            break;
    }
    return TextLine(event, layout);
}

std::string CsvRow(std::string_view json) {
    const auto fields = nlohmann::ordered_json::parse(json, nullptr, false);
    std::string row;
    for (std::size_t i = 0; i < kCsvColumns.size(); ++i) {
        if (i != 0) {
            row.push_back(kCsvSeparator);
        }
        const std::string column(kCsvColumns[i]);
        if (fields.is_object() && fields.contains(column)) {
            row += CsvValue(fields[column]);
        }
    }
    return row + "\n";
}

}  // namespace zendrik::cli
