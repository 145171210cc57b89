#include "daemon/outputs/webhook.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "daemon/common/log.h"
#include "daemon/common/payloads.h"
#include "daemon/outputs/body_signature.h"

namespace zendrik::daemon {
namespace {

// Rows read from the spool at a time while a batch is gathered.
constexpr std::size_t kReadChunk = 512;
// Rows looked at for one batch at most (those of kinds it does not take among them), so that one
// turn of the loop reads a bounded part of a long spool.
constexpr std::size_t kExaminedPerTurn = 8192;
// A body holds at most this much (but always one event): a receiver's request limit is usually a
// few MiB, and a batch of large events must not grow past it.
constexpr std::size_t kBodyMostBytes = 1024 * 1024;
// The answer's body is not needed; only this much of it is taken, the rest ends the transfer early.
constexpr std::size_t kAnswerMostBytes = 64 * 1024;
constexpr const char* kRetryAfterName = "retry-after:";
constexpr std::string_view kEventKey = "\"event\":\"";

// The kind an event names itself with: the text of its first "event" key.
std::string_view KindOf(std::string_view payload) {
    const std::size_t at = payload.find(kEventKey);
    if (at == std::string_view::npos) {
        return {};
    }
    const std::size_t start = at + kEventKey.size();
    const std::size_t end = payload.find('"', start);
    return end == std::string_view::npos ? std::string_view{} : payload.substr(start, end - start);
}

TransportOutcome OutcomeOf(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return TransportOutcome::kTimeout;
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return TransportOutcome::kRefused;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return TransportOutcome::kClosed;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return TransportOutcome::kTls;
        default:
            return TransportOutcome::kOther;
    }
}

// "gate-1 7-9, gate-2 3": the readers and numbers of a batch, for the journal.
std::string RangesOf(const std::vector<SpooledMessage>& rows) {
    std::map<std::string, std::pair<uint64_t, uint64_t>> ranges;
    for (const SpooledMessage& row : rows) {
        auto [range, first] = ranges.try_emplace(row.reader, row.seq, row.seq);
        if (!first) {
            range->second.first = std::min(range->second.first, row.seq);
            range->second.second = std::max(range->second.second, row.seq);
        }
    }
    std::string text;
    for (const auto& [reader, range] : ranges) {
        text += (text.empty() ? "" : ", ") + reader + " " + std::to_string(range.first);
        if (range.second != range.first) {
            text += "-" + std::to_string(range.second);
        }
    }
    return text;
}

}  // namespace

Webhook::Webhook(EventLoop& loop, CurlMulti& curl, Spool& spool, const StoreTimes& storeTimes,
                 WebhookConfig config, std::string secret, std::function<void()> placeMoved)
    : loop_(loop),
      curl_(curl),
      spool_(spool),
      storeTimes_(storeTimes),
      config_(std::move(config)),
      secret_(std::move(secret)),
      placeMoved_(std::move(placeMoved)),
      easy_(curl_easy_init()),
      curlError_(CURL_ERROR_SIZE, '\0') {
    if (!easy_) {
        throw std::runtime_error("output " + config_.name + ": libcurl could not make a transfer");
    }
    gather_ = loop_.AddTimer([this] {
        state_ = State::kIdle;
        BeginBatch();
    });
    retryTimer_ = loop_.AddTimer([this] { Attempt(); });
}

Webhook::~Webhook() {
    curl_.Cancel(easy_.get());
}

bool Webhook::Takes(const SpooledMessage& row) const {
    if (config_.events.empty()) {
        return true;
    }
    const std::string_view kind = KindOf(row.payload);
    return std::find(config_.events.begin(), config_.events.end(), kind) != config_.events.end();
}

void Webhook::Pump() {
    if (state_ != State::kIdle || spool_.newestId() <= place_) {
        return;
    }
    const bool full = spool_.newestId() - place_ >= static_cast<int64_t>(config_.batchMax);
    if (config_.batchMs == 0 || full) {
        BeginBatch();
        return;
    }
    state_ = State::kGathering;
    gather_.ArmIn(std::chrono::milliseconds{config_.batchMs});
}

bool Webhook::ReadBatch() {
    batch_ = Batch{};
    batch_.through = place_;
    std::size_t bytes = 0;
    std::size_t examined = 0;
    while (batch_.rows.size() < config_.batchMax && examined < kExaminedPerTurn) {
        const std::vector<SpooledMessage> rows = spool_.ReadAfter(batch_.through, kReadChunk);
        if (rows.empty()) {
            break;
        }
        for (const SpooledMessage& row : rows) {
            if (batch_.rows.size() >= config_.batchMax ||
                (!batch_.rows.empty() && bytes + row.payload.size() > kBodyMostBytes)) {
                return true;
            }
            batch_.through = row.id;
            ++examined;
            if (Takes(row)) {
                bytes += row.payload.size() + 1;
                batch_.rows.push_back(row);
            }
        }
    }
    return !batch_.rows.empty();
}

void Webhook::BeginBatch() {
    if (!ReadBatch()) {
        // Nothing it takes: passed by. The rest is looked at on the loop's next turn, so that a
        // long run of rows of other kinds is read a piece per turn.
        place_ = batch_.through;
        placeMoved_();
        state_ = spool_.newestId() > place_ ? State::kGathering : State::kIdle;
        if (state_ == State::kGathering) {
            gather_.ArmIn(std::chrono::milliseconds{0});
        }
        return;
    }
    batch_.body = "[";
    for (const SpooledMessage& row : batch_.rows) {
        batch_.body += (batch_.body.size() > 1 ? "," : "") + row.payload;
    }
    batch_.body += "]";
    headers_.reset();
    curl_slist* list = curl_slist_append(nullptr, "Content-Type: application/json");
    for (const auto& [name, value] : config_.headers) {
        list = curl_slist_append(list, (name + ": " + value).c_str());
    }
    if (!secret_.empty()) {
        list = curl_slist_append(
            list, (std::string(kSignatureHeader) + ": " + SignatureValue(secret_, batch_.body)).c_str());
    }
    list = curl_slist_append(list, "Expect:");  // no 100-continue round trip before the body
    headers_.reset(list);
    Attempt();
}

void Webhook::Attempt() {
    state_ = State::kSending;
    retryAfter_.clear();
    curlError_.assign(CURL_ERROR_SIZE, '\0');
    CURL* easy = easy_.get();
    curl_easy_setopt(easy, CURLOPT_URL, config_.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, batch_.body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(batch_.body.size()));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_.get());
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(config_.timeoutS) * 1000L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Webhook::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Webhook::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, curlError_.data());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "zendrikd/" ZENDRIK_VERSION);
    if (config_.caFile) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, config_.caFile->c_str());
    }
    if (config_.certFile && config_.keyFile) {
        curl_easy_setopt(easy, CURLOPT_SSLCERT, config_.certFile->c_str());
        curl_easy_setopt(easy, CURLOPT_SSLKEY, config_.keyFile->c_str());
    }
    curl_.Start(easy, [this](CURLcode code) { Finished(code); });
}

size_t Webhook::OnHeader(char* data, size_t size, size_t count, void* self) {
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    const std::size_t nameLength = std::char_traits<char>::length(kRetryAfterName);
    if (line.size() > nameLength) {
        std::string name(line.substr(0, nameLength));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        if (name == kRetryAfterName) {
            static_cast<Webhook*>(self)->retryAfter_ = std::string(line.substr(nameLength));
        }
    }
    return length;
}

size_t Webhook::OnBody(char*, size_t size, size_t count, void*) {
    const std::size_t length = size * count;
    return length <= kAnswerMostBytes ? length : 0;
}

AttemptResult Webhook::ResultOf(CURLcode code) const {
    AttemptResult result;
    result.outcome = code == CURLE_OK ? TransportOutcome::kAnswered : OutcomeOf(code);
    if (code == CURLE_OK) {
        curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &result.status);
    }
    if (!retryAfter_.empty()) {
        result.retryAfter = ParseRetryAfter(retryAfter_, UnixNowMs() / 1000);
    }
    return result;
}

std::string Webhook::Words(CURLcode code, const AttemptResult& result) const {
    if (result.outcome == TransportOutcome::kAnswered) {
        return "HTTP " + std::to_string(result.status);
    }
    return curlError_.front() != '\0' ? std::string(curlError_.data()) : curl_easy_strerror(code);
}

void Webhook::Finished(CURLcode code) {
    const AttemptResult result = ResultOf(code);
    const Decision decision = Decide(result, retry_);
    switch (decision.verdict) {
        case Verdict::kDelivered:
            Delivered();
            break;
        case Verdict::kRetry:
            Retry(decision, Words(code, result));
            break;
        case Verdict::kDeadLetter:
            DeadLetter(decision, Words(code, result));
            break;
    }
}

void Webhook::MoveOn(int64_t through) {
    place_ = through;
    state_ = State::kIdle;
    placeMoved_();
    Pump();
}

void Webhook::Delivered() {
    const auto now = StoreTimes::Clock::now();
    for (const SpooledMessage& row : batch_.rows) {
        if (const auto stored = storeTimes_.Of(row.id)) {
            seconds_.Observe(std::chrono::duration<double>(now - *stored).count());
        }
    }
    sent_ += batch_.rows.size();
    if (!lastError_.empty()) {
        Log("output " + config_.name + " delivers again");
        lastError_.clear();
    }
    MoveOn(batch_.through);
}

void Webhook::Retry(const Decision& decision, const std::string& words) {
    ++errors_[decision.reason];
    if (lastError_.empty()) {
        Log("output " + config_.name + ": " + words + " from " + config_.url +
            "; the batch is sent again, waiting 1 s doubled up to 60 s (or as the answer's Retry-After "
            "says)");
    }
    lastError_ = words;
    state_ = State::kRetrying;
    retryAt_ = Timer::Clock::now() + decision.wait;
    retryTimer_.ArmAt(retryAt_);
}

void Webhook::DeadLetter(const Decision& decision, const std::string& words) {
    ++errors_[decision.reason];
    deadLetters_ += batch_.rows.size();
    Log("output " + config_.name + ": " + std::to_string(batch_.rows.size()) + " events (" +
        RangesOf(batch_.rows) + ") go to the dead letters: " + config_.url + " answered " + words + " " +
        std::to_string(kClientErrorAttempts) + " times");
    spool_.CopyToDeadLetters(batch_.rows);
    lastError_ = words;
    MoveOn(batch_.through);
}

OutputSnapshot Webhook::Snapshot() const {
    OutputSnapshot snapshot;
    snapshot.name = config_.name;
    snapshot.kind = "webhook";
    switch (state_) {
        case State::kIdle:
            snapshot.state = "idle";
            break;
        case State::kGathering:
            snapshot.state = "gathering";
            break;
        case State::kSending:
            snapshot.state = "sending";
            break;
        case State::kRetrying:
            snapshot.state = "retrying";
            snapshot.retryInMs = std::max<int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(retryAt_ - Timer::Clock::now())
                       .count());
            break;
    }
    snapshot.target = config_.url;
    snapshot.sent = sent_;
    snapshot.pending = static_cast<uint64_t>(std::max<int64_t>(0, spool_.newestId() - place_));
    snapshot.deadLetters = deadLetters_;
    snapshot.errors = errors_;
    snapshot.lastError = lastError_;
    snapshot.seconds = seconds_;
    return snapshot;
}

}  // namespace zendrik::daemon
