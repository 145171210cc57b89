#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>

struct MHD_Connection;
struct MHD_Response;

namespace zendrik::daemon {

// One server-sent event: "id: READER:SEQ", "event: KIND", the JSON as "data:" lines, a blank line.
std::string EventFrame(std::string_view reader, uint64_t seq, std::string_view kind, std::string_view json);

// The clients of GET /api/v1/events. Each has a buffer of its own that the events are appended to
// and its connection takes from; a client with nothing to send is suspended, so that it costs the
// loop nothing, and woken by the next event. A client whose buffer would grow past the bound (it
// stopped reading) is dropped: its buffer freed, its connection closed.
class EventStream {
  public:
    // `resumed` is called whenever a suspended connection was resumed: MHD, driven from outside,
    // takes it up at its next run only.
    EventStream(std::size_t clientBufferBytes, std::function<void()> resumed);
    ~EventStream();
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // The response for a new client on `connection`: every event from now on, only those of
    // `reader` when it is not empty. Null when no response could be made.
    MHD_Response* Open(MHD_Connection* connection, std::string reader);

    void Publish(std::string_view reader, uint64_t seq, std::string_view kind, std::string_view json);
    // A comment line to every client: keeps proxies from closing a quiet stream, and finds
    // clients that went away.
    void KeepAlive();
    // Ends every stream (the server stops); a suspended connection is resumed, as MHD must have
    // every connection back before it stops.
    void EndAll();

    std::size_t clients() const { return clients_.size(); }
    std::size_t bufferedBytes() const;
    uint64_t droppedClients() const { return dropped_; }

  private:
    struct Client;
    static ssize_t Read(void* client, uint64_t position, char* buffer, std::size_t size);
    static void Release(void* client);
    void Append(Client& client, std::string_view frame);
    void Drop(Client& client);
    void Wake(Client& client);

    std::size_t clientBufferBytes_;
    std::function<void()> resumed_;
    std::list<Client> clients_;  // MHD holds a pointer to each: a list keeps them in place
    uint64_t dropped_ = 0;
};

}  // namespace zendrik::daemon
