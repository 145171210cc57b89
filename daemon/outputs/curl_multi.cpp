#include "daemon/outputs/curl_multi.h"

#include <sys/epoll.h>

#include <chrono>
#include <mutex>
#include <stdexcept>

namespace zendrik::daemon {
namespace {

// curl's global state is set up once per process, before the first handle.
void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be initialised");
        }
    });
}

uint32_t EpollEventsOf(int what) {
    uint32_t events = 0;
    if (what == CURL_POLL_IN || what == CURL_POLL_INOUT) {
        events |= EPOLLIN;
    }
    if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT) {
        events |= EPOLLOUT;
    }
    return events;
}

int CurlEventsOf(uint32_t events) {
    int flags = 0;
    if ((events & EPOLLIN) != 0) {
        flags |= CURL_CSELECT_IN;
    }
    if ((events & EPOLLOUT) != 0) {
        flags |= CURL_CSELECT_OUT;
    }
    if ((events & (EPOLLERR | EPOLLHUP)) != 0) {
        flags |= CURL_CSELECT_ERR;
    }
    return flags;
}

}  // namespace

CurlMulti::CurlMulti(EventLoop& loop) : loop_(loop) {
    InitialiseCurlOnce();
    multi_.reset(curl_multi_init());
    if (!multi_) {
        throw std::runtime_error("libcurl's multi handle could not be made");
    }
    curl_multi_setopt(multi_.get(), CURLMOPT_SOCKETFUNCTION, &CurlMulti::OnSocket);
    curl_multi_setopt(multi_.get(), CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_.get(), CURLMOPT_TIMERFUNCTION, &CurlMulti::OnTimeout);
    curl_multi_setopt(multi_.get(), CURLMOPT_TIMERDATA, this);
    timeout_ = loop_.AddTimer([this] { Act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlMulti::~CurlMulti() {
    for (const auto& [easy, done] : running_) {
        curl_multi_remove_handle(multi_.get(), easy);
    }
}

void CurlMulti::Start(CURL* easy, Done done) {
    running_[easy] = std::move(done);
    if (curl_multi_add_handle(multi_.get(), easy) != CURLM_OK) {
        running_.erase(easy);
        throw std::runtime_error("libcurl would not take a transfer");
    }
}

void CurlMulti::Cancel(CURL* easy) {
    if (running_.erase(easy) != 0) {
        curl_multi_remove_handle(multi_.get(), easy);
    }
}

int CurlMulti::OnSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
    static_cast<CurlMulti*>(self)->Watch(socket, what);
    return 0;
}

// Never calls into curl: it only arms the timer, whose handler does on the loop's next turn.
int CurlMulti::OnTimeout(CURLM*, long timeoutMs, void* self) {
    auto& multi = *static_cast<CurlMulti*>(self);
    if (timeoutMs < 0) {
        multi.timeout_.Disarm();
    } else {
        multi.timeout_.ArmIn(std::chrono::milliseconds{timeoutMs});
    }
    return 0;
}

void CurlMulti::Watch(curl_socket_t socket, int what) {
    if (what == CURL_POLL_REMOVE) {
        watches_.erase(socket);
        return;
    }
    const uint32_t events = EpollEventsOf(what);
    const auto watched = watches_.find(socket);
    if (watched != watches_.end()) {
        EventLoop::SetIoEvents(watched->second, events);
        return;
    }
    watches_.emplace(socket, loop_.AddIo(socket, events, [this, socket](uint32_t ready) {
        Act(socket, CurlEventsOf(ready));
    }));
}

void CurlMulti::Act(curl_socket_t socket, int events) {
    int stillRunning = 0;
    curl_multi_socket_action(multi_.get(), socket, events, &stillRunning);
    TakeFinished();
}

void CurlMulti::TakeFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        curl_multi_remove_handle(multi_.get(), easy);
        const auto found = running_.find(easy);
        if (found == running_.end()) {
            continue;
        }
        Done done = std::move(found->second);
        running_.erase(found);
        done(result);  // may start the next transfer
    }
}

}  // namespace zendrik::daemon
