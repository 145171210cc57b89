#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <thread>

namespace zendrik::session {

// Starts a thread that blocks every signal from its first instruction on, so that a program's
// signals always reach one of its own threads and never interrupt the library's I/O. The caller's
// mask is set for the moment of the start and put back. Throws std::system_error as std::thread.
// The thread carries `name` (the kernel keeps its first kThreadNameMost characters), so that
// `top -H`, `ps -L` and /proc show which of a program's threads are the library's.
inline constexpr std::size_t kThreadNameMost = 15;
std::thread StartQuietThread(std::string name, std::function<void()> body);

}  // namespace zendrik::session
