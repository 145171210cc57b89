#include "link/log.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/time_text.h"

namespace zendrik::log {
namespace {

constexpr const char* kTraceVariable = "ZENDRIK_TRACE";

struct Registration {
    Level threshold = Level::kDebug;
    Handler handler = nullptr;  // null: the default
    void* user = nullptr;
};

std::mutex registrationMutex;
Registration registration;

struct Message {
    Level level;
    std::chrono::system_clock::time_point when;
    std::string text;
};

// The calling thread's HeldBack scopes, and the messages they hold.
thread_local int heldBackDepth = 0;
thread_local std::vector<Message> heldBackMessages;

Registration Current() {
    const std::lock_guard lock(registrationMutex);
    return registration;
}

bool TraceVariableSet() {
    const char* value = std::getenv(kTraceVariable);
    return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

// One write per line, so that lines from several processes sharing standard error stay whole.
void WriteToStandardError(const std::string& line) {
    const char* next = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, next, left);
        if (written <= 0) {
            return;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
}

void Deliver(const Message& message) {
    const Registration current = Current();
    if (current.handler == nullptr) {
        if (TraceVariableSet()) {
            WriteToStandardError(StampedLine(message.when, message.text));
        }
        return;
    }
    if (message.level <= current.threshold) {
        current.handler(static_cast<int32_t>(message.level), message.text.c_str(), current.user);
    }
}

}  // namespace

void SetHandler(Level threshold, Handler handler, void* user) {
    const std::lock_guard lock(registrationMutex);
    registration = handler != nullptr ? Registration{threshold, handler, user} : Registration{};
}

bool Wanted(Level level) {
    const Registration current = Current();
    if (current.handler == nullptr) {
        return TraceVariableSet();
    }
    return level <= current.threshold;
}

void Write(Level level, std::string_view message) {
    Message written{level, std::chrono::system_clock::now(), std::string(message)};
    if (heldBackDepth > 0) {
        heldBackMessages.push_back(std::move(written));
        return;
    }
    Deliver(written);
}

HeldBack::HeldBack() {
    ++heldBackDepth;
}

HeldBack::~HeldBack() {
    if (--heldBackDepth > 0) {
        return;
    }
    std::vector<Message> messages = std::exchange(heldBackMessages, {});
    for (const Message& message : messages) {
        Deliver(message);
    }
}

std::string StampedLine(std::chrono::system_clock::time_point when, std::string_view message) {
    std::string line = base::LocalTimeStamp(when);
    line.append(" ").append(message).append("\n");
    return line;
}

}  // namespace zendrik::log
