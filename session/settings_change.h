#pragma once

#include <cstdint>
#include <string>

#include "rules/settings_table.h"
#include "session/reader_session.h"

// Settings changed as a whole on a session's link: written in the configuration tool's Save order
// and read back, and the tool's factory-default sequence.
namespace zendrik::session {

struct ChangeOutcome {
    int32_t result = 0;
    std::string message;  // what went wrong; empty on success
};

// Reads every setting; on failure the message names the setting that could not be read.
ChangeOutcome ReadSettings(ReaderSession& session, rules::ReaderSettings& settings);

// Writes the plan's commands in the tool's order (stopping at the first that fails), then reads
// every setting back (into a non-null `readBack`): ZENDRIK_ERR_VERIFY when a named setting reads
// back otherwise.
ChangeOutcome ApplyPlan(ReaderSession& session, const rules::ChangePlan& plan,
                        rules::ReaderSettings* readBack = nullptr);

// Every step of the factory-default sequence for the reader's kind is tried, as the tool does;
// unlike the tool, the first failure of any step is reported, not only the steps the tool looks at.
ChangeOutcome RestoreFactoryDefaults(ReaderSession& session);

}  // namespace zendrik::session
