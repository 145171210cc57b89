#include "bench/soak_judges.h"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace zendrik::bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kStartLimit = 30s;

// The count of the numbers a {"gap":...} or {"lost":...} line names, from and to included.
uint64_t SpanNumbers(const nlohmann::json& span) {
    const uint64_t from = span.value("from", uint64_t{0});
    const uint64_t to = span.value("to", uint64_t{0});
    return to >= from ? to - from + 1 : 0;
}

// The listener's lines; what is not a JSON object (its words on standard error) is passed over.
ListenVerdict ReadVerdict(const std::string& output, int exitStatus) {
    ListenVerdict verdict;
    verdict.exitStatus = exitStatus;
    std::set<std::pair<std::string, uint64_t>> reads;
    std::ifstream in(output);
    for (std::string text; std::getline(in, text);) {
        const nlohmann::json line = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (!line.is_object()) {
            continue;
        }
        if (line.contains("gap")) {
            ++verdict.gapLines;
            verdict.gapNumbers += SpanNumbers(line["gap"]);
        } else if (line.contains("lost")) {
            ++verdict.lostLines;
            verdict.lostNumbers += SpanNumbers(line["lost"]);
        } else if (line.value("event", "") == "read") {
            reads.emplace(line.value("reader", ""), line.value("seq", uint64_t{0}));
        } else {
            ++verdict.otherEvents;
        }
    }
    verdict.reads = reads.size();
    return verdict;
}

}  // namespace

BrokerListener::BrokerListener(uint16_t brokerPort, const TemporaryDirectory& directory)
    : output_(directory.File("listen-broker.log")) {
    const std::string state = directory.File("listen-broker.state");
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{ZENDRIK_CLI_PATH, "listen", "--broker",
                                 "mqtt://127.0.0.1:" + std::to_string(brokerPort), "--site", "bench",
                                 "--client-id", "bench-soak-listener", "--state", state, "--strict"},
        output_);
    if (!testing::WaitForFile(state, kStartLimit)) {
        throw std::runtime_error("zendrik listen did not subscribe: " + testing::ReadFile(output_));
    }
}

ListenVerdict BrokerListener::Stop() {
    process_->Signal(SIGINT);
    return ReadVerdict(output_, process_->Wait());
}

WebhookReceiver::WebhookReceiver(const TemporaryDirectory& directory)
    : bodies_(directory.File("bodies")),
      server_(directory, testing::kPlainHttp, testing::kPlainHttp, "/dev/null", "", bodies_) {}

uint64_t WebhookReceiver::reads() {
    ReadOn();
    return reads_.size();
}

uint64_t WebhookReceiver::requests() {
    ReadOn();
    return requests_;
}

void WebhookReceiver::ReadOn() {
    std::ifstream in(bodies_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(readUpTo_));
    const std::string rest{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // Only whole lines: the receiver may be writing the last one.
    const std::size_t end = rest.rfind('\n');
    if (end == std::string::npos) {
        return;
    }
    readUpTo_ += end + 1;
    std::istringstream lines(rest.substr(0, end + 1));
    for (std::string text; std::getline(lines, text);) {
        ++requests_;
        const nlohmann::json body = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (!body.is_array()) {
            continue;
        }
        for (const nlohmann::json& event : body) {
            if (event.is_object() && event.value("event", "") == "read") {
                reads_.emplace(event.value("reader", ""), event.value("seq", uint64_t{0}));
            }
        }
    }
}

ListenVerdict CheckWebhookBodies(const std::string& bodies, const TemporaryDirectory& directory) {
    const std::string output = directory.File("listen-webhook.log");
    ChildProcess check({ZENDRIK_CLI_PATH, "listen", "--webhook-file", bodies, "--strict"}, output);
    return ReadVerdict(output, check.Wait());
}

}  // namespace zendrik::bench
