#pragma once

namespace zendrik::session {

// Marks the thread as running an event callback for as long as the scope lives, so that the
// calls a callback must not make (those that block, or wait for the very thread the callback runs
// on) can refuse with ZENDRIK_ERR_IN_CALLBACK instead of deadlocking.
class CallbackScope {
  public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

// Whether the calling thread is inside an event callback, of any reader.
bool InsideEventCallback();

}  // namespace zendrik::session
