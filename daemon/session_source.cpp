#include "daemon/session_source.h"

#include <stdexcept>
#include <vector>

namespace zendrik::daemon {
namespace {

// The session's queue is the only buffer between a reader and the spool; it must never drop,
// so it holds far more than the loop can fall behind by between two wake-ups.
constexpr uint32_t kEventQueueCapacity = 1u << 18;
constexpr std::size_t kWhyCapacity = 256;
constexpr std::size_t kEventJsonCapacity = 512;

}  // namespace

std::string ResultWords(int32_t code) {
    return std::string(zendrik_result_text(code)) + " (" + std::to_string(code) + ")";
}

SessionSource::SessionSource(ReaderConfig reader) : config_(std::move(reader)) {}

SessionSource::~SessionSource() = default;

std::optional<std::string> SessionSource::Open() {
    zendrik_open_options open;
    zendrik_open_options_init(&open);
    open.name = config_.name.c_str();
    open.flags = ZENDRIK_OPEN_ABSENT_OK;
    zendrik_reader* opened = nullptr;
    const int32_t code = zendrik_reader_open(config_.address.c_str(), &open, &opened);
    reader_.reset(opened);
    if (code != ZENDRIK_OK) {
        return "cannot open: " + ResultWords(code);
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
        return "cannot start reading: " + ResultWords(code);
    }
    return std::nullopt;
}

int SessionSource::eventFd() const {
    return zendrik_reader_event_fd(reader_.get());
}

bool SessionSource::Next(zendrik_event& event) {
    return zendrik_next_event(reader_.get(), &event, sizeof event, 0) == ZENDRIK_OK;
}

std::optional<ReaderIdentity> SessionSource::Identify() {
    zendrik_reader_info info{};
    info.size = sizeof info;
    if (zendrik_reader_info_get(reader_.get(), &info) != ZENDRIK_OK) {
        return std::nullopt;
    }
    return ReaderIdentity{info.kind, info.version, info.serial};
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

std::string EventJson(const zendrik_event& event) {
    std::vector<char> text(kEventJsonCapacity);
    size_t length = 0;
    int32_t code = zendrik_event_json(&event, text.data(), text.size(), &length);
    if (code == ZENDRIK_ERR_TOO_SMALL) {
        text.resize(length + 1);
        code = zendrik_event_json(&event, text.data(), text.size(), &length);
    }
    if (code != ZENDRIK_OK) {
        throw std::runtime_error(std::string("cannot write an event as JSON: ") + zendrik_result_text(code));
    }
    return std::string(text.data(), length);
}

}  // namespace zendrik::daemon
