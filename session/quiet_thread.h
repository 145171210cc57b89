#pragma once

#include <functional>
#include <thread>

namespace zendrik::session {

// Starts a thread that blocks every signal from its first instruction on, so that a program's
// signals always reach one of its own threads and never interrupt the library's I/O. The caller's
// mask is set for the moment of the start and put back. Throws std::system_error as std::thread.
std::thread StartQuietThread(std::function<void()> body);

}  // namespace zendrik::session
