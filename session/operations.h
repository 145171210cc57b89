#pragma once

#include "session/reader_session.h"
#include "session/request.h"

// The reader operations a request runs on the session's link, on the handle's thread: identity,
// the settings read, planned, changed or restored, and the single reads. The inventory's start
// and stop belong to the handle's thread itself.
namespace zendrik::session {

CallResult Perform(ReaderSession& session, const Request& request);

}  // namespace zendrik::session
