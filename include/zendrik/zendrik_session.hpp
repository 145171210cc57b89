/*
 * zendrik sessions for C++: a header-only wrapper over zendrik_session.h.
 *
 * A zendrik::Reader owns one reader handle (closed when the Reader goes) and is move-only. Every
 * failure throws zendrik::Error with the result code and the library's words for it; a time-out
 * is no failure (next_event gives std::nullopt). Nothing but the C functions of libzendrik.so.1
 * is used, so this header adds no link dependency of its own.
 *
 *   zendrik::Reader reader = zendrik::Reader::open("usb");
 *   reader.start_inventory();
 *   while (auto event = reader.next_event(std::chrono::seconds(1))) {
 *       std::cout << event->json() << '\n';
 *   }
 *
 * Requests may also be submitted: submit() returns at once with the request's id, and its end
 * arrives in the stream as an event of kind completed carrying that id:
 *
 *   const uint64_t id = reader.submit(zendrik::RequestKind::info);
 *   for (const zendrik::Event& event : reader.next_events(64, std::chrono::seconds(1))) {
 *       if (event.kind() == zendrik::EventKind::completed && event.request_id() == id) { ... }
 *   }
 */
#ifndef ZENDRIK_SESSION_HPP
#define ZENDRIK_SESSION_HPP

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "zendrik_session.h"

namespace zendrik {

// A result code of the library and its words.
class Error : public std::runtime_error {
  public:
    explicit Error(int32_t code) : std::runtime_error(zendrik_result_text(code)), code_(code) {}
    Error(int32_t code, const std::string& message) : std::runtime_error(message), code_(code) {}

    int32_t code() const noexcept { return code_; }

  private:
    int32_t code_;
};

inline void check(int32_t result) {
    if (result != ZENDRIK_OK) {
        throw Error(result);
    }
}

inline std::string result_text(int32_t code) {
    return zendrik_result_text(code);
}

// The words followed by the code itself, as the project's programs print a failure: "no USB reader
// was found (-136)".
inline std::string result_words(int32_t code) {
    return result_text(code) + " (" + std::to_string(code) + ")";
}

// A device as the library opens it: whether it is a device node (a virtual reader's socket is none),
// and the errno value of looking it up or of opening it for reading and writing (0: it opens).
struct DeviceProbe {
    bool node = false;
    int error = 0;
};

inline DeviceProbe probe_device(const std::string& device) {
    struct stat status {};
    if (::stat(device.c_str(), &status) != 0) {
        return {false, errno};
    }
    if (!S_ISCHR(status.st_mode)) {
        return {};
    }
    struct Opened {
        int fd;
        ~Opened() {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    };
    const Opened opened{::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)};
    return {true, opened.fd < 0 ? errno : 0};
}

// A USB reader that is plugged in (the system lists it) but cannot be opened, typically for want of
// the udev rule that gives access to its hidraw node: the device and the errno value.
struct UsbOpenProblem {
    std::string device;
    int error = 0;
};

// For "usb", the first reader the system lists, located as a session locates it (through the flat
// API's link, which sends nothing to the reader); for usb:PATH the node PATH. Nothing for any other
// address, a device that opens, or one that is not there at all. Asked after an open failed, it
// tells what the result code cannot: which device, and why the system refused it.
inline std::optional<UsbOpenProblem> usb_open_problem(const std::string& address) {
    constexpr std::size_t kDeviceCapacity = 4096;
    constexpr int32_t kUnusedLineSpeed = 115200;
    char device[kDeviceCapacity] = {};
    if (address == "usb") {
        OpenCom(ZENDRIK_USB_PORT, kUnusedLineSpeed);
        const int32_t error = GetUsbOpenError(device, static_cast<int32_t>(sizeof device));
        CloseCom();
        return error != 0 ? std::optional(UsbOpenProblem{device, error}) : std::nullopt;
    }
    if (address.rfind("usb:", 0) != 0 ||
        zendrik_address_device(address.c_str(), device, sizeof device, nullptr) != ZENDRIK_OK) {
        return std::nullopt;
    }
    const DeviceProbe probe = probe_device(device);
    return probe.node && probe.error != 0 ? std::optional(UsbOpenProblem{device, probe.error}) : std::nullopt;
}

// Throws Error(ZENDRIK_ERR_BAD_ADDRESS) with the reason when the address does not parse.
inline void check_address(const std::string& address) {
    char why[256] = {};
    const int32_t result = zendrik_address_check(address.c_str(), why, sizeof why);
    if (result == ZENDRIK_ERR_BAD_ADDRESS) {
        throw Error(result, std::string(zendrik_result_text(result)) + ": " + why);
    }
    check(result);
}

enum class EventKind : int32_t {
    read = ZENDRIK_EVENT_READ,
    arrived = ZENDRIK_EVENT_ARRIVED,
    departed = ZENDRIK_EVENT_DEPARTED,
    link_lost = ZENDRIK_EVENT_LINK_LOST,
    link_restored = ZENDRIK_EVENT_LINK_RESTORED,
    link_up = ZENDRIK_EVENT_LINK_UP,
    completed = ZENDRIK_EVENT_COMPLETED,
};

enum class RequestKind : int32_t {
    info = ZENDRIK_REQUEST_INFO,
    read_settings = ZENDRIK_REQUEST_READ_SETTINGS,
    plan_change = ZENDRIK_REQUEST_PLAN_CHANGE,
    configure = ZENDRIK_REQUEST_CONFIGURE,
    write_settings = ZENDRIK_REQUEST_WRITE_SETTINGS,
    factory_default = ZENDRIK_REQUEST_FACTORY_DEFAULT,
    inventory_start = ZENDRIK_REQUEST_INVENTORY_START,
    inventory_stop = ZENDRIK_REQUEST_INVENTORY_STOP,
};

// One event, copied out of the library's record (which raw() still gives).
class Event {
  public:
    using TimePoint = std::chrono::system_clock::time_point;

    explicit Event(const zendrik_event& raw) : raw_(raw) {}

    EventKind kind() const { return static_cast<EventKind>(raw_.kind); }
    std::string kind_name() const { return zendrik_event_kind_name(raw_.kind); }
    std::string reader() const { return text(raw_.reader, sizeof raw_.reader); }
    uint64_t seq() const { return raw_.seq; }
    TimePoint time() const { return at(raw_.time_ms); }
    std::vector<uint8_t> epc() const {
        const std::size_t length = raw_.epc_length < sizeof raw_.epc ? raw_.epc_length : sizeof raw_.epc;
        return std::vector<uint8_t>(raw_.epc, raw_.epc + length);
    }
    // Empty when the card number cannot be formed.
    std::string card() const { return text(raw_.card, sizeof raw_.card); }
    uint64_t count() const { return raw_.count; }
    TimePoint first_seen() const { return at(raw_.first_seen_ms); }
    TimePoint last_seen() const { return at(raw_.last_seen_ms); }
    std::optional<int> antenna() const { return byte(raw_.antenna); }
    std::optional<int> rssi() const { return byte(raw_.rssi); }
    // link-lost: the result that lost the link; 0 otherwise.
    int32_t error() const { return raw_.error; }
    // read: how long the inventory round took that brought it.
    std::chrono::microseconds round_time() const { return std::chrono::microseconds(raw_.round_us); }

    // completed: which request ended and how; its result as the library's JSON ("" on failure),
    // what went wrong ("" on success), and the identity or settings it read. A result longer than
    // the record holds is cut (result_cut()): Reader::result_json() gives it whole.
    uint64_t request_id() const { return raw_.request_id; }
    RequestKind request() const { return static_cast<RequestKind>(raw_.request); }
    int32_t result() const { return raw_.result; }
    std::string result_json() const { return text(raw_.json, sizeof raw_.json); }
    bool result_cut() const { return (raw_.cut & ZENDRIK_CUT_JSON) != 0; }
    std::size_t result_length() const { return raw_.json_length; }
    std::string message() const { return text(raw_.message, sizeof raw_.message); }
    bool message_cut() const { return (raw_.cut & ZENDRIK_CUT_MESSAGE) != 0; }
    const zendrik_reader_info& info() const { return raw_.info; }
    const zendrik_settings& settings() const { return raw_.settings; }

    // The event as one line of JSON, the shape every program of the project prints.
    std::string json() const {
        std::size_t length = 0;
        zendrik_event_json(&raw_, nullptr, 0, &length);
        std::string line(length + 1, '\0');
        check(zendrik_event_json(&raw_, line.data(), line.size(), &length));
        line.resize(length);
        return line;
    }

    const zendrik_event& raw() const { return raw_; }

  private:
    static std::string text(const char* field, std::size_t capacity) {
        std::size_t length = 0;
        while (length < capacity && field[length] != '\0') {
            ++length;
        }
        return std::string(field, length);
    }
    static TimePoint at(int64_t utcMs) { return TimePoint(std::chrono::milliseconds(utcMs)); }
    static std::optional<int> byte(int32_t value) {
        return value < 0 ? std::nullopt : std::optional<int>(value);
    }

    zendrik_event raw_;
};

struct ReaderInfo {
    int kind = 0;
    int low_value = 0;
    std::string version;
    std::string serial;
};

struct OpenOptions {
    std::optional<std::string> name;  // the reader id; none: the serial number
    bool absent_ok = false;           // open even when the reader does not answer (name required)
};

struct InventoryOptions {
    std::chrono::milliseconds absence{3000};
    std::size_t queue_capacity = 4096;
};

// The settings record of zendrik_session.h, with its size filled in.
inline zendrik_settings make_settings() {
    zendrik_settings settings;
    zendrik_settings_init(&settings);
    return settings;
}

// The settings as the JSON object of `zendrik config --json` for a reader of `kind`.
inline std::string settings_json(const zendrik_settings& settings, int kind) {
    std::size_t length = 0;
    zendrik_settings_json(&settings, kind, nullptr, 0, &length);
    std::string text(length + 1, '\0');
    check(zendrik_settings_json(&settings, kind, text.data(), text.size(), &length));
    text.resize(length);
    return text;
}

class Reader {
  public:
    using Callback = std::function<void(const Event&)>;

    static Reader open(const std::string& address, const OpenOptions& options = {}) {
        zendrik_open_options raw;
        zendrik_open_options_init(&raw);
        raw.name = options.name ? options.name->c_str() : nullptr;
        raw.flags = options.absent_ok ? static_cast<uint32_t>(ZENDRIK_OPEN_ABSENT_OK) : 0u;
        zendrik_reader* handle = nullptr;
        check(zendrik_reader_open(address.c_str(), &raw, &handle));
        return Reader(handle);
    }

    Reader(Reader&&) noexcept = default;
    // The handle held so far is closed (its inventory joined) before its callback state goes.
    Reader& operator=(Reader&& other) noexcept {
        if (this != &other) {
            handle_.reset();
            callbackState_ = std::move(other.callbackState_);
            handle_ = std::move(other.handle_);
        }
        return *this;
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    ~Reader() = default;

    std::string id() const { return zendrik_reader_id(get()); }
    std::string address() const { return zendrik_reader_address(get()); }

    ReaderInfo info() {
        zendrik_reader_info raw;
        zendrik_reader_info_init(&raw);
        check(zendrik_reader_info_get(get(), &raw));
        return ReaderInfo{raw.kind, raw.low_value, raw.version, raw.serial};
    }

    zendrik_settings read_settings() {
        zendrik_settings settings = make_settings();
        check(zendrik_reader_read_settings(get(), &settings));
        return settings;
    }

    void write_settings(const zendrik_settings& settings) {
        zendrik_settings sized = settings;
        sized.size = sizeof sized;
        check(zendrik_reader_write_settings(get(), &sized));
    }

    // NAME=VALUE assignments as `zendrik set` takes them; the Error says what went wrong.
    void configure(const std::vector<std::string>& assignments) {
        std::vector<const char*> texts;
        texts.reserve(assignments.size());
        for (const std::string& assignment : assignments) {
            texts.push_back(assignment.c_str());
        }
        char message[512] = {};
        const int32_t result =
            zendrik_reader_configure(get(), texts.data(), texts.size(), message, sizeof message);
        if (result != ZENDRIK_OK) {
            throw Error(result, message[0] != '\0' ? std::string(message) : result_text(result));
        }
    }

    void factory_default() { check(zendrik_reader_factory_default(get())); }

    // One tag read; std::nullopt when the reader has no tag in its field.
    std::optional<Event> read_tag() {
        zendrik_event raw{};
        const int32_t result = zendrik_reader_read_tag(get(), &raw, sizeof raw);
        if (result == ZENDRIK_NO_TAG) {
            return std::nullopt;
        }
        check(result);
        return Event(raw);
    }

    // The identifier bytes of the reader's tag list; empty when it lists none.
    std::vector<uint8_t> read_tag_list() {
        std::vector<uint8_t> ids(kTagListBytes);
        std::size_t length = 0;
        const int32_t result = zendrik_reader_read_tag_list(get(), ids.data(), ids.size(), &length);
        if (result == ZENDRIK_LIST_EMPTY) {
            return {};
        }
        check(result);
        ids.resize(length);
        return ids;
    }

    // Events go to the queue, for next_event().
    void start_inventory(const InventoryOptions& options = {}) { start(options, nullptr, nullptr); }

    // Events go to `callback`, on the library's thread. An exception it throws stops the delivery
    // and comes back from stop_inventory() (or the destructor swallows it).
    void start_inventory(Callback callback, const InventoryOptions& options = {}) {
        auto state = std::make_unique<CallbackState>();
        state->callback = std::move(callback);
        state->reader = get();
        start(options, &CallbackState::trampoline, state.get());
        callbackState_ = std::move(state);
    }

    // No callback runs once this returns (outside a callback); rethrows what a callback threw.
    void stop_inventory() {
        check(zendrik_inventory_stop(get()));
        if (callbackState_ && callbackState_->failure) {
            std::exception_ptr failure = std::exchange(callbackState_->failure, nullptr);
            std::rethrow_exception(failure);
        }
    }

    // The oldest queued event; std::nullopt when `timeout` passes first. Throws Error with
    // ZENDRIK_ERR_NOT_RUNNING when no inventory runs and nothing is queued.
    std::optional<Event> next_event(std::chrono::milliseconds timeout) { return take(bounded(timeout)); }
    // Waits for ever.
    Event next_event() { return *take(kWaitForEver); }

    // Queues a request and returns its id at once; its completion comes as an event. Throws
    // Error(ZENDRIK_ERR_QUEUE_FULL) when too many wait already. `assignments` for plan_change and
    // configure, NAME=VALUE as `zendrik set` takes them.
    uint64_t submit(RequestKind kind, const std::vector<std::string>& assignments = {}) {
        std::vector<const char*> texts;
        texts.reserve(assignments.size());
        for (const std::string& assignment : assignments) {
            texts.push_back(assignment.c_str());
        }
        zendrik_request request;
        zendrik_request_init(&request, static_cast<int32_t>(kind));
        request.assignments = texts.data();
        request.assignment_count = texts.size();
        return submit(request);
    }
    uint64_t submit_write_settings(const zendrik_settings& settings) {
        zendrik_settings sized = settings;
        sized.size = sizeof sized;
        zendrik_request request;
        zendrik_request_init(&request, ZENDRIK_REQUEST_WRITE_SETTINGS);
        request.settings = &sized;
        return submit(request);
    }
    uint64_t submit_inventory_start(const InventoryOptions& options = {}) {
        const zendrik_inventory_options raw = raw_options(options);
        zendrik_request request;
        zendrik_request_init(&request, ZENDRIK_REQUEST_INVENTORY_START);
        request.inventory = &raw;
        return submit(request);
    }

    // Up to `most` queued events at once; empty when `timeout` passes first. Throws as next_event.
    std::vector<Event> next_events(std::size_t most, std::chrono::milliseconds timeout) {
        std::vector<zendrik_event> raw(most > 0 ? most : 1);
        std::size_t got = 0;
        const int32_t result =
            zendrik_next_events(get(), raw.data(), sizeof(zendrik_event), raw.size(), &got, bounded(timeout));
        std::vector<Event> events;
        if (result == ZENDRIK_NO_EVENT) {
            return events;
        }
        check(result);
        events.reserve(got);
        for (std::size_t i = 0; i < got; ++i) {
            events.emplace_back(raw[i]);
        }
        return events;
    }

    // The whole result of a completion of this reader: the event's own, or, when it was cut there,
    // the one the library keeps (see zendrik_completion_json). Throws Error with
    // ZENDRIK_ERR_INVALID_ARGUMENT when the library no longer keeps it.
    std::string result_json(const Event& completed) const {
        if (!completed.result_cut()) {
            return completed.result_json();
        }
        return completion_json(completed.request_id());
    }
    // The whole result kept for the completion `request_id` whose result was cut.
    std::string completion_json(uint64_t request_id) const {
        std::size_t length = 0;
        const int32_t asked = zendrik_completion_json(get(), request_id, nullptr, 0, &length);
        if (asked != ZENDRIK_ERR_TOO_SMALL) {  // no room given: anything else says it is not kept
            check(asked);
        }
        std::string text(length + 1, '\0');
        check(zendrik_completion_json(get(), request_id, text.data(), text.size(), &length));
        text.resize(length);
        return text;
    }

    // Readable while events are queued; owned by the reader.
    int event_fd() const { return zendrik_reader_event_fd(get()); }
    uint64_t dropped() const { return zendrik_inventory_dropped(get()); }

    zendrik_reader* get() const { return handle_.get(); }

  private:
    static constexpr std::size_t kTagListBytes = 251;
    static constexpr int32_t kWaitForEver = -1;

    struct Closer {
        void operator()(zendrik_reader* reader) const noexcept { zendrik_reader_close(reader); }
    };

    struct CallbackState {
        Callback callback;
        zendrik_reader* reader = nullptr;
        std::exception_ptr failure;

        // No exception may cross into C: the first one stops the delivery and is kept.
        static void trampoline(const zendrik_event* raw, void* context) noexcept {
            auto* state = static_cast<CallbackState*>(context);
            try {
                state->callback(Event(*raw));
            } catch (...) {
                if (!state->failure) {
                    state->failure = std::current_exception();
                }
                zendrik_inventory_stop(state->reader);
            }
        }
    };

    explicit Reader(zendrik_reader* handle) : handle_(handle) {}

    static zendrik_inventory_options raw_options(const InventoryOptions& options) {
        zendrik_inventory_options raw;
        zendrik_inventory_options_init(&raw);
        raw.absence_ms = static_cast<uint32_t>(options.absence.count());
        raw.queue_capacity = static_cast<uint32_t>(options.queue_capacity);
        return raw;
    }

    // Milliseconds as the C calls take them: 0 for a negative time, cut at what 32 bits hold.
    static int32_t bounded(std::chrono::milliseconds timeout) {
        return timeout.count() > std::numeric_limits<int32_t>::max()
                   ? std::numeric_limits<int32_t>::max()
                   : static_cast<int32_t>(timeout.count() < 0 ? 0 : timeout.count());
    }

    uint64_t submit(const zendrik_request& request) {
        uint64_t id = 0;
        check(zendrik_reader_submit(get(), &request, &id));
        return id;
    }

    void start(const InventoryOptions& options, zendrik_event_callback callback, void* context) {
        const zendrik_inventory_options raw = raw_options(options);
        check(zendrik_inventory_start(get(), &raw, callback, context));
    }

    std::optional<Event> take(int32_t timeoutMs) {
        zendrik_event raw{};
        const int32_t result = zendrik_next_event(get(), &raw, sizeof raw, timeoutMs);
        if (result == ZENDRIK_NO_EVENT) {
            return std::nullopt;
        }
        check(result);
        return Event(raw);
    }

    // Declared before the handle, so that the handle (whose close joins the inventory thread) goes
    // first and no callback can run on a freed state.
    std::unique_ptr<CallbackState> callbackState_;
    std::unique_ptr<zendrik_reader, Closer> handle_;
};

}  // namespace zendrik

#endif /* ZENDRIK_SESSION_HPP */
