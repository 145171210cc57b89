#pragma once

#include "exports/zendrik_session.h"
#include "rules/reader_settings.h"

// The settings record of the session header and the rules' own record hold the same values; these
// carry them across, so that programs on the public header use the rules' tables on what they read.
namespace zendrik::rules {

ReaderSettings FromPublicSettings(const zendrik_settings& settings);

// Fills every value of `settings`; its size field is left as the caller set it.
void ToPublicSettings(const ReaderSettings& values, zendrik_settings& settings);

}  // namespace zendrik::rules
