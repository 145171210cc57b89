#pragma once

#include <zendrik_session.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/link_options.h"

namespace zendrik::cli {

// How a reader is opened: `several` when it is one of several, so that every message names it;
// `waitIfAbsent` to open a reader that cannot be reached now all the same, for an inventory that
// connects once it answers (read --watch).
struct OpenManner {
    bool several = false;
    bool waitIfAbsent = false;
};

// A reader opened, and whether it was absent then (opened to connect once it answers).
struct OpenedReader {
    std::optional<zendrik::Reader> reader;
    bool absent = false;
};

// Opens the reader a choice names (its link opened, the reader greeted with a handshake; closing
// the Reader says goodbye and closes the link, as the tool does). Reports a failure in words, with
// the device and the system's reason when the link could not be opened, and gives the exit
// status; kExitOk with the reader set on success.
int OpenReader(const ReaderChoice& choice, const OpenManner& manner, OpenedReader& opened);
int OpenReader(const ReaderChoice& choice, std::optional<zendrik::Reader>& reader);

// "NAME: " or "ADDRESS: " before the messages about one of several readers; empty for one.
std::string ReaderPrefix(const ReaderChoice& choice, bool several);

// The one reader that the subcommands on a single reader work on; nothing, reported, when
// --reader was given more than once.
std::optional<ReaderChoice> SingleReader(const LinkOptions& link, std::string_view subcommand);

// What a subcommand on a single reader starts from: that reader, opened, and its kind. Gives
// kExitOk, or the exit status of a failure already reported in words.
int OpenSingleReader(const LinkOptions& link, std::string_view subcommand,
                     std::optional<zendrik::Reader>& reader, uint8_t& kind);

}  // namespace zendrik::cli
