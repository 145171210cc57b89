#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "daemon/common/histogram.h"
#include "daemon/common/snapshot.h"
#include "daemon/config/config.h"
#include "daemon/loop/event_loop.h"
#include "daemon/outputs/curl_multi.h"
#include "daemon/outputs/retry_policy.h"
#include "daemon/outputs/store_times.h"
#include "daemon/store/spool.h"

namespace zendrik::daemon {

// One webhook output: the spool read from its own place, the events it takes POSTed as a JSON array
// (oldest first, so each reader's in order), one batch at a time. A batch waits up to batch_ms for
// batch_max events; a 2xx moves the place past it, a failure sends the same batch again after the
// retry policy's wait, and a batch the receiver will never take goes to the dead letters. The place
// is in memory: after a restart the webhook sends again what the spool still holds, which at-least-
// once delivery allows (each event's reader and seq make it idempotent for the receiver).
class Webhook {
  public:
    // `placeMoved` runs whenever the place moves on (the rows behind it are no longer held).
    Webhook(EventLoop& loop, CurlMulti& curl, Spool& spool, const StoreTimes& storeTimes,
            WebhookConfig config, std::string secret, std::function<void()> placeMoved);
    ~Webhook();
    Webhook(const Webhook&) = delete;
    Webhook& operator=(const Webhook&) = delete;

    // Rows may have been stored: a batch is begun when there are some and none is under way.
    void Pump();
    // Every row up to this id is delivered, dead-lettered or not taken by this output.
    int64_t place() const { return place_; }
    const std::string& name() const { return config_.name; }
    OutputSnapshot Snapshot() const;

  private:
    enum class State {
        kIdle,       // nothing to send
        kGathering,  // rows are there; waiting batch_ms for more
        kSending,    // a request is under way
        kRetrying,   // waiting for the next attempt at the same batch
    };
    struct Batch {
        std::vector<SpooledMessage> rows;
        int64_t through = 0;  // the last row it passed, taken or not
        std::string body;
        std::string signature;
    };

    bool Takes(const SpooledMessage& row) const;
    // Reads the next batch from the spool; the rows it passes without taking move the place on.
    bool ReadBatch();
    void BeginBatch();
    void Attempt();
    void Finished(CURLcode code);
    AttemptResult ResultOf(CURLcode code) const;
    std::string Words(CURLcode code, const AttemptResult& result) const;
    void MoveOn(int64_t through);
    void Delivered();
    void Retry(const Decision& decision, const std::string& words);
    void DeadLetter(const Decision& decision, const std::string& words);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);

    EventLoop& loop_;
    CurlMulti& curl_;
    Spool& spool_;
    const StoreTimes& storeTimes_;
    WebhookConfig config_;
    std::string secret_;
    std::function<void()> placeMoved_;
    State state_ = State::kIdle;
    int64_t place_ = 0;
    Batch batch_;
    RetryState retry_;
    EasyHandle easy_;
    HeaderList headers_;
    std::string retryAfter_;  // of the answer under way
    std::vector<char> curlError_;
    Timer gather_;
    Timer retryTimer_;
    Timer::Clock::time_point retryAt_{};
    uint64_t sent_ = 0;
    uint64_t deadLetters_ = 0;
    std::map<std::string, uint64_t> errors_;
    std::string lastError_;
    Histogram seconds_;
};

}  // namespace zendrik::daemon
