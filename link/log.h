#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// The library's messages: frame traces, devices that cannot be opened, links lost and restored.
// They go to one handler, which a program may set; the default one writes to standard error, with
// a local time stamp, only while the environment variable ZENDRIK_TRACE is set (to anything but ""
// or "0"). The variable is read on every message, so a program may switch it on after loading the
// library.
namespace zendrik::log {

// Lower is more severe; the values are those of the public ZENDRIK_LOG_* levels.
enum class Level : int32_t { kError = 0, kWarning = 1, kInfo = 2, kDebug = 3 };

using Handler = void (*)(int32_t level, const char* message, void* user);

// Messages at `threshold` and more severe go to `handler` with `user`; a null handler brings the
// default back (whatever the threshold).
void SetHandler(Level threshold, Handler handler, void* user);

// Whether a message at `level` would go anywhere: callers skip formatting what nobody reads.
bool Wanted(Level level);

// Hands `message` to the handler, on the calling thread and with no lock of the library held.
void Write(Level level, std::string_view message);

// While it lives, the messages the calling thread logs are held back and handed to the handler
// when it goes: made before a lock is taken, so that no handler is ever called with a lock of
// the library held. Scopes nest; the outermost hands the messages on.
class HeldBack {
  public:
    HeldBack();
    ~HeldBack();
    HeldBack(const HeldBack&) = delete;
    HeldBack& operator=(const HeldBack&) = delete;
};

// The line the default handler writes for `message`: "<local time with ms> <message>\n".
std::string StampedLine(std::chrono::system_clock::time_point when, std::string_view message);

}  // namespace zendrik::log
