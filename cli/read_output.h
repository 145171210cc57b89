#pragma once

#include <zendrik_session.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zendrik::cli {

enum class ReadFormat { kText, kJson, kCsv };

// "text", "json" or "csv".
std::optional<ReadFormat> ParseReadFormat(std::string_view name);

// What a text line shows besides the event itself: the reader (when several are read) and the
// event's kind (when every kind is shown, not only reads).
struct TextLayout {
    bool reader = false;
    bool kind = false;
};

// The line that starts the output, if the format has one: the CSV header, whose columns are the
// fields of the event JSON in its order.
std::optional<std::string> ReadHeader(ReadFormat format);

// One event as one line, with its newline: JSON exactly as the library writes it, CSV with the
// same fields, or text for people (local time, card number, count, EPC).
std::string FormatEvent(ReadFormat format, const zendrik::Event& event, TextLayout layout);

// An event's JSON as one CSV row of the header's columns: a field the event does not carry, or
// carries as null, is empty; a text with a comma, a quote or a line break is quoted.
std::string CsvRow(std::string_view json);

}  // namespace zendrik::cli
