#include "daemon/outputs/outputs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace zendrik::daemon {
namespace {

// Held rows that webhooks have passed are deleted this often (and acknowledged rows in batches as
// the spool does for the uplink): a row delivered a second ago may be sent once more after a crash.
constexpr std::chrono::milliseconds kHousekeepingPeriod{1000};
// Rows acknowledged at once for a site without an uplink, per turn.
constexpr std::size_t kHandOverChunk = 1024;
constexpr std::size_t kHandOverChunksPerTurn = 8;
constexpr std::size_t kSecretMostBytes = 64 * 1024;

}  // namespace

std::string ReadSecretFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("the secret file " + path + " cannot be read: " + std::strerror(errno));
    }
    std::string secret(kSecretMostBytes, '\0');
    file.read(secret.data(), static_cast<std::streamsize>(secret.size()));
    secret.resize(static_cast<std::size_t>(file.gcount()));
    while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r')) {
        secret.pop_back();
    }
    if (secret.empty()) {
        throw std::runtime_error("the secret file " + path + " is empty");
    }
    return secret;
}

Outputs::Outputs(EventLoop& loop, Spool& spool, const std::vector<WebhookConfig>& webhooks,
                 bool uplinkTakesRows)
    : spool_(spool), uplinkTakesRows_(uplinkTakesRows), curl_(loop) {
    for (const WebhookConfig& config : webhooks) {
        std::string secret;
        if (config.secretFile) {
            try {
                secret = ReadSecretFile(*config.secretFile);
            } catch (const std::runtime_error& error) {
                throw std::runtime_error("output " + config.name + ": " + error.what());
            }
        }
        webhooks_.push_back(std::make_unique<Webhook>(loop, curl_, spool_, storeTimes_, config,
                                                      std::move(secret), [this] { PlaceMoved(); }));
    }
    PlaceMoved();
    housekeeping_ = loop.AddTimer([this] {
        if (released_) {
            released_ = false;
            spool_.FlushAcknowledged();
        }
        Pump();
        housekeeping_.ArmIn(kHousekeepingPeriod);
    });
    housekeeping_.ArmIn(kHousekeepingPeriod);
}

Outputs::~Outputs() = default;

void Outputs::Pump() {
    storeTimes_.Note(spool_.newestId(), StoreTimes::Clock::now());
    if (!uplinkTakesRows_) {
        TakeHandOver();
    }
    for (const auto& webhook : webhooks_) {
        webhook->Pump();
    }
}

void Outputs::TakeHandOver() {
    for (std::size_t chunk = 0; chunk < kHandOverChunksPerTurn; ++chunk) {
        const std::vector<SpooledMessage> rows = spool_.HandOver(kHandOverChunk);
        if (rows.empty()) {
            return;
        }
        std::vector<int64_t> ids;
        ids.reserve(rows.size());
        for (const SpooledMessage& row : rows) {
            ids.push_back(row.id);
        }
        spool_.Acknowledge(ids);
    }
}

void Outputs::PlaceMoved() {
    if (webhooks_.empty()) {
        spool_.HoldFrom(std::nullopt);
        return;
    }
    int64_t lowest = std::numeric_limits<int64_t>::max();
    for (const auto& webhook : webhooks_) {
        lowest = std::min(lowest, webhook->place());
    }
    spool_.HoldFrom(lowest + 1);
    storeTimes_.ForgetThrough(lowest);
    released_ = true;
}

std::vector<OutputSnapshot> Outputs::Snapshot() const {
    std::vector<OutputSnapshot> snapshots;
    for (const auto& webhook : webhooks_) {
        snapshots.push_back(webhook->Snapshot());
    }
    return snapshots;
}

}  // namespace zendrik::daemon
