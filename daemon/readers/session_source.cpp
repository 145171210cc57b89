#include "daemon/readers/session_source.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <thread>

namespace zendrik::daemon {
namespace {

// The session's queue is the only buffer between a reader and the spool; it must never drop,
// so it holds far more than the loop can fall behind by between two wake-ups.
constexpr uint32_t kEventQueueCapacity = 1u << 18;
// The reader's own thread (started by the open, and so with the opening thread's priority) runs
// this much nicer than the daemon's loop: a reader that answers faster than the loop can store and
// send then slows down itself, instead of taking the processor from the loop that must empty its
// queue. As nice as a thread can be: with 32 readers at 10 their threads together still
// outweighed the loop, which then fell behind for good.
constexpr int kReaderThreadNiceness = 19;
constexpr std::size_t kWhyCapacity = 256;
constexpr std::size_t kEventJsonCapacity = 512;

// Lowers the calling thread's priority alone (Linux keeps a nice value per thread, and a thread
// starts with its creator's). A failure leaves it as it was: the daemon works either way.
void LowerThisThreadsPriority() {
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0) {
        (void)::setpriority(PRIO_PROCESS, thread, now + kReaderThreadNiceness);
    }
}

}  // namespace

SessionSource::SessionSource(ReaderConfig reader) : config_(std::move(reader)) {}

SessionSource::~SessionSource() = default;

std::optional<std::string> SessionSource::Open() {
    zendrik_open_options open;
    zendrik_open_options_init(&open);
    open.name = config_.name.c_str();
    open.flags = ZENDRIK_OPEN_ABSENT_OK;
    zendrik_reader* opened = nullptr;
    int32_t code = ZENDRIK_OK;
    // Opened from a thread of a lower priority, which the reader's thread that the open starts
    // inherits. It is waited for here, off the loop: a thread of low priority can take long to
    // end on a busy processor, and priority once given up cannot be taken back without privilege.
    std::thread opener([&] {
        LowerThisThreadsPriority();
        code = zendrik_reader_open(config_.address.c_str(), &open, &opened);
    });
    opener.join();
    reader_.reset(opened);
    if (code != ZENDRIK_OK) {
        return "cannot open: " + zendrik::result_words(code);
    }
    return std::nullopt;
}

zendrik_inventory_options SessionSource::InventoryOptions() const {
    zendrik_inventory_options inventory;
    zendrik_inventory_options_init(&inventory);
    inventory.absence_ms = config_.absenceMs;
    inventory.queue_capacity = kEventQueueCapacity;
    return inventory;
}

std::optional<std::string> SessionSource::Start() {
    const zendrik_inventory_options inventory = InventoryOptions();
    const int32_t code = zendrik_inventory_start(reader_.get(), &inventory, nullptr, nullptr);
    if (code != ZENDRIK_OK) {
        return "cannot start reading: " + zendrik::result_words(code);
    }
    return std::nullopt;
}

int SessionSource::eventFd() const {
    return zendrik_reader_event_fd(reader_.get());
}

bool SessionSource::Next(zendrik_event& event) {
    return zendrik_next_event(reader_.get(), &event, sizeof event, 0) == ZENDRIK_OK;
}

std::size_t SessionSource::NextEvents(std::span<zendrik_event> events) {
    size_t got = 0;
    const int32_t code =
        zendrik_next_events(reader_.get(), events.data(), sizeof(zendrik_event), events.size(), &got, 0);
    return code == ZENDRIK_OK ? got : 0;
}

void SessionSource::Stop() {
    zendrik_inventory_stop(reader_.get());
}

std::variant<uint64_t, int32_t> SessionSource::Submit(const ReaderRequest& request) {
    std::vector<const char*> assignments;
    for (const std::string& assignment : request.assignments) {
        assignments.push_back(assignment.c_str());
    }
    // The library copies everything the request points at before it returns.
    const zendrik_inventory_options inventory = InventoryOptions();
    zendrik_request submitted;
    zendrik_request_init(&submitted, request.kind);
    submitted.assignments = assignments.data();
    submitted.assignment_count = assignments.size();
    submitted.inventory = &inventory;
    uint64_t id = 0;
    if (const int32_t code = zendrik_reader_submit(reader_.get(), &submitted, &id); code != ZENDRIK_OK) {
        return code;
    }
    return id;
}

std::optional<std::string> SessionSource::WholeResult(const zendrik_event& completed) {
    if ((completed.cut & ZENDRIK_CUT_JSON) == 0) {
        return ReaderSource::WholeResult(completed);
    }
    std::string whole(std::size_t{completed.json_length} + 1, '\0');
    size_t length = 0;
    if (zendrik_completion_json(reader_.get(), completed.request_id, whole.data(), whole.size(), &length) !=
        ZENDRIK_OK) {
        return std::nullopt;
    }
    whole.resize(length);
    return whole;
}

uint64_t SessionSource::dropped() const {
    return zendrik_inventory_dropped(reader_.get());
}

std::optional<std::string> CheckReaderAddress(const std::string& address) {
    char why[kWhyCapacity] = {};
    if (zendrik_address_check(address.c_str(), why, sizeof why) == ZENDRIK_OK) {
        return std::nullopt;
    }
    return std::string(why);
}

// Written straight into the string it returns: one allocation for a read.
std::string EventJson(const zendrik_event& event) {
    std::string text(kEventJsonCapacity, '\0');
    size_t length = 0;
    int32_t code = zendrik_event_json(&event, text.data(), text.size(), &length);
    if (code == ZENDRIK_ERR_TOO_SMALL) {
        text.resize(length + 1);
        code = zendrik_event_json(&event, text.data(), text.size(), &length);
    }
    if (code != ZENDRIK_OK) {
        throw std::runtime_error(std::string("cannot write an event as JSON: ") + zendrik_result_text(code));
    }
    text.resize(std::min(length, text.size()));
    return text;
}

}  // namespace zendrik::daemon
