#include "session/callback_scope.h"

namespace zendrik::session {
namespace {

thread_local bool insideCallback = false;

}  // namespace

CallbackScope::CallbackScope() {
    insideCallback = true;
}

CallbackScope::~CallbackScope() {
    insideCallback = false;
}

bool InsideEventCallback() {
    return insideCallback;
}

}  // namespace zendrik::session
