#pragma once

#include <cstdint>
#include <string>

#include "cli/link_options.h"
#include "rules/reader_codes.h"

namespace zendrik::cli {

// The address every command is sent to: the tool's own, which every reader answers whatever
// address it has been given.
inline constexpr uint8_t kReaderAddress = rules::kAnyReaderAddress;

// One conversation with the reader: the link opened, the reader greeted with a handshake, and on
// destruction the goodbye handshake and the serial port closed again, as the tool does.
class ReaderSession {
  public:
    ReaderSession() = default;
    ~ReaderSession();
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    // Opens the link and greets the reader. On failure `failure` says what went wrong in words
    // and the result is the library's code.
    int32_t Connect(const LinkOptions& options, std::string& failure);

    uint8_t kind() const { return kind_; }
    uint8_t low_value() const { return lowValue_; }

  private:
    bool connected_ = false;
    uint8_t kind_ = 0;
    uint8_t lowValue_ = 0;
};

}  // namespace zendrik::cli
