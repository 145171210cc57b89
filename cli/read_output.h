#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zendrik::cli {

enum class ReadFormat { kText, kJson, kCsv };

// "text", "json" or "csv".
std::optional<ReadFormat> ParseReadFormat(std::string_view name);

// One tag read as `read` reports it: when, the card number, how often that card number has been
// seen in this run (this read included), and the EPC it came from.
struct ReadRow {
    std::string time;
    std::string card;
    int count = 0;
    std::size_t epcLength = 0;
    std::string epc;
};

// The line that starts the output, if the format has one (the CSV header).
std::optional<std::string> ReadHeader(ReadFormat format);

// One line, with its newline.
std::string FormatReadRow(ReadFormat format, const ReadRow& row);

// Local time with milliseconds: 2024-05-01T12:34:56.789.
std::string LocalTimeStamp(std::chrono::system_clock::time_point when);

}  // namespace zendrik::cli
