#pragma once

#include <curl/curl.h>

#include <functional>
#include <map>
#include <memory>

#include "daemon/loop/event_loop.h"

namespace zendrik::daemon {

// A libcurl easy handle, cleaned up with its owner.
struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct HeaderListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListCleanup>;

// libcurl's multi interface on the daemon's loop: each socket a transfer uses is an I/O source
// of the loop, and curl's one time-out a timer, so that no transfer ever waits on the loop's
// thread (names are resolved by curl's resolver thread). A finished transfer calls its `done` on
// the loop.
class CurlMulti {
  public:
    using Done = std::function<void(CURLcode result)>;

    explicit CurlMulti(EventLoop& loop);
    ~CurlMulti();
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    // Starts the transfer `easy` is set up for; the handle stays the caller's and must outlive the
    // transfer (or be taken back with Cancel()).
    void Start(CURL* easy, Done done);
    // Ends a running transfer without calling its `done`.
    void Cancel(CURL* easy);

  private:
    struct MultiCleanup {
        void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
    };

    static int OnSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
    static int OnTimeout(CURLM* multi, long timeoutMs, void* self);
    void Watch(curl_socket_t socket, int what);
    // Tells curl what happened on `socket` (or that its time-out passed), then ends what finished.
    void Act(curl_socket_t socket, int events);
    void TakeFinished();

    EventLoop& loop_;
    std::unique_ptr<CURLM, MultiCleanup> multi_;
    std::map<curl_socket_t, EventSource> watches_;
    Timer timeout_;
    std::map<CURL*, Done> running_;
};

}  // namespace zendrik::daemon
