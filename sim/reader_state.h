#pragma once

#include "sim/reader_settings.h"
#include "sim/tag_field.h"

namespace zendrik::sim {

// Everything a command can read or change. The reader guards it with its one mutex; the command
// handlers work on it unguarded.
struct ReaderState {
    ReaderIdentity identity;
    ReaderSettings settings;
    TagField tags;
};

}  // namespace zendrik::sim
