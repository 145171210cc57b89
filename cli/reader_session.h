#pragma once

#include <zendrik_session.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

#include "cli/link_options.h"

namespace zendrik::cli {

// Opens the reader a choice names (its link opened, the reader greeted with a handshake; closing
// the Reader says goodbye and closes the link, as the tool does). Reports a failure in words and
// gives the exit status; kExitOk with `reader` set on success.
int OpenReader(const ReaderChoice& choice, std::optional<zendrik::Reader>& reader);

// The one reader that the subcommands on a single reader work on; nothing, reported, when
// --reader was given more than once.
std::optional<ReaderChoice> SingleReader(const LinkOptions& link, std::string_view subcommand);

// What a subcommand on a single reader starts from: that reader, opened, and its kind. Gives
// kExitOk, or the exit status of a failure already reported in words.
int OpenSingleReader(const LinkOptions& link, std::string_view subcommand,
                     std::optional<zendrik::Reader>& reader, uint8_t& kind);

}  // namespace zendrik::cli
