#include "daemon/http/event_stream.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstring>

namespace zendrik::daemon {
namespace {

// How much MHD takes from a client's buffer at a time.
constexpr std::size_t kBlockBytes = 16 * 1024;
// A drained buffer larger than this is given back, so that a burst does not hold memory.
constexpr std::size_t kKeptBufferBytes = 64 * 1024;
// A client closed for falling behind goes at the next turn even when its socket is full.
constexpr unsigned kDroppedTimeoutSeconds = 1;
// Tells the browser's EventSource to try again after a second when the stream ends.
constexpr std::string_view kGreeting = "retry: 1000\n\n";
constexpr std::string_view kKeepAlive = ": keep-alive\n\n";

}  // namespace

struct EventStream::Client {
    EventStream* stream = nullptr;
    MHD_Connection* connection = nullptr;
    std::string reader;   // only this reader's events, when not empty
    std::string pending;  // what the connection has not taken yet, from `taken` on
    std::size_t taken = 0;
    bool suspended = false;
    bool ended = false;  // dropped, or the server stops: the connection closes
    std::list<Client>::iterator self;

    std::size_t waiting() const { return pending.size() - taken; }
};

std::string EventFrame(std::string_view reader, uint64_t seq, std::string_view kind, std::string_view json) {
    std::string frame;
    frame.reserve(json.size() + reader.size() + kind.size() + 40);
    frame += "id: ";
    frame += reader;
    frame += ':';
    frame += std::to_string(seq);
    frame += "\nevent: ";
    frame += kind;
    frame += '\n';
    // A line break in the data would end the field: each line goes as a "data:" line of its own.
    std::size_t start = 0;
    do {
        std::size_t end = std::min(json.find('\n', start), json.size());
        std::string_view line = json.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        frame += "data: ";
        frame += line;
        frame += '\n';
        start = end + 1;
    } while (start < json.size());
    frame += '\n';
    return frame;
}

EventStream::EventStream(std::size_t clientBufferBytes, std::function<void()> resumed)
    : clientBufferBytes_(clientBufferBytes), resumed_(std::move(resumed)) {}

EventStream::~EventStream() = default;

MHD_Response* EventStream::Open(MHD_Connection* connection, std::string reader) {
    Client& client = clients_.emplace_back();
    client.stream = this;
    client.connection = connection;
    client.reader = std::move(reader);
    client.pending = kGreeting;
    client.self = std::prev(clients_.end());
    MHD_Response* response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, kBlockBytes, &EventStream::Read, &client, &EventStream::Release);
    if (response == nullptr) {
        clients_.erase(client.self);
        return nullptr;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    return response;
}

void EventStream::Publish(std::string_view reader, uint64_t seq, std::string_view kind,
                          std::string_view json) {
    if (clients_.empty()) {
        return;
    }
    const std::string frame = EventFrame(reader, seq, kind, json);
    for (Client& client : clients_) {
        if (client.reader.empty() || client.reader == reader) {
            Append(client, frame);
        }
    }
}

void EventStream::KeepAlive() {
    for (Client& client : clients_) {
        Append(client, kKeepAlive);
    }
}

void EventStream::EndAll() {
    for (Client& client : clients_) {
        client.ended = true;
        Wake(client);
    }
}

std::size_t EventStream::bufferedBytes() const {
    std::size_t bytes = 0;
    for (const Client& client : clients_) {
        bytes += client.pending.capacity();
    }
    return bytes;
}

void EventStream::Append(Client& client, std::string_view frame) {
    if (client.ended) {
        return;
    }
    if (client.waiting() + frame.size() > clientBufferBytes_) {
        Drop(client);
        return;
    }
    // What was taken goes once it is half of the buffer: the bytes move at most twice.
    if (client.taken > 0 && client.taken >= client.pending.size() / 2) {
        client.pending.erase(0, client.taken);
        client.taken = 0;
    }
    client.pending += frame;
    Wake(client);
}

void EventStream::Drop(Client& client) {
    client.ended = true;
    std::string().swap(client.pending);
    client.taken = 0;
    ++dropped_;
    MHD_set_connection_option(client.connection, MHD_CONNECTION_OPTION_TIMEOUT, kDroppedTimeoutSeconds);
    Wake(client);
}

void EventStream::Wake(Client& client) {
    if (client.suspended) {
        client.suspended = false;
        MHD_resume_connection(client.connection);
        resumed_();
    }
}

ssize_t EventStream::Read(void* self, uint64_t, char* buffer, std::size_t size) {
    Client& client = *static_cast<Client*>(self);
    if (client.ended) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    const std::size_t count = std::min(client.waiting(), size);
    if (count == 0) {
        // Nothing to send: MHD leaves the connection alone until the next event wakes it.
        client.suspended = true;
        MHD_suspend_connection(client.connection);
        return 0;
    }
    std::memcpy(buffer, client.pending.data() + client.taken, count);
    client.taken += count;
    if (client.taken == client.pending.size()) {
        client.pending.clear();
        client.taken = 0;
        if (client.pending.capacity() > kKeptBufferBytes) {
            std::string().swap(client.pending);
        }
    }
    return static_cast<ssize_t>(count);
}

void EventStream::Release(void* self) {
    Client& client = *static_cast<Client*>(self);
    client.stream->clients_.erase(client.self);
}

}  // namespace zendrik::daemon
