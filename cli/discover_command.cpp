// zendrik discover: finds the readers' network modules by broadcast.
#include <zendrik.h>

#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/result_words.h"
#include "cli/subcommands.h"

namespace zendrik::cli {
namespace {

// FindDevice fills up to 50 records: a 6-byte module id, then the IPv4 address it answered from.
constexpr std::size_t kMaxModules = 50;
constexpr std::size_t kModuleIdBytes = 6;
constexpr std::size_t kAddressBytes = 4;
constexpr std::size_t kRecordBytes = kModuleIdBytes + kAddressBytes;

struct DiscoverOptions {
    bool json = false;
};

std::string ModuleId(const uint8_t* record) {
    std::string text;
    for (std::size_t i = 0; i < kModuleIdBytes; ++i) {
        char pair[sizeof "ff:"];
        std::snprintf(pair, sizeof pair, i == 0 ? "%02x" : ":%02x", record[i]);
        text += pair;
    }
    return text;
}

std::string ModuleAddress(const uint8_t* record) {
    const uint8_t* octets = record + kModuleIdBytes;
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) +
           "." + std::to_string(octets[3]);
}

int RunDiscover(const DiscoverOptions& options) {
    std::array<uint8_t, kMaxModules * kRecordBytes> records{};
    int32_t count = 0;
    if (const int16_t result = FindDevice(records.data(), &count); result != ZENDRIK_OK) {
        if (result == ZENDRIK_ERR_NOT_REACHED) {
            return Report("no network module answered (" + std::to_string(result) + ")");
        }
        return Report("the search failed: " + zendrik::result_words(result));
    }
    const std::size_t found =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)), kMaxModules);
    nlohmann::ordered_json modules = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < found; ++i) {
        const uint8_t* record = records.data() + i * kRecordBytes;
        if (options.json) {
            modules.push_back({{"module-id", ModuleId(record)}, {"address", ModuleAddress(record)}});
        } else {
            std::printf("module %s  address %s\n", ModuleId(record).c_str(), ModuleAddress(record).c_str());
        }
    }
    if (options.json) {
        std::printf("%s\n", modules.dump(2).c_str());
    }
    return kExitOk;
}

}  // namespace

Subcommand AddDiscoverCommand(CLI::App& program) {
    auto options = std::make_shared<DiscoverOptions>();
    CLI::App* app = program.add_subcommand(
        "discover",
        "Find the readers' network modules. This sends UDP broadcasts on the local network: search requests "
        "from 192.168.1.54 port 2000 to 255.255.255.255 port 5000, one per answer and a last one that waits "
        "1 s, and lists each module's id and the address it answered from. The reader options do not apply.");
    app->add_flag("--json", options->json, "print a JSON array of {module-id, address}");
    return {app, [options] { return RunDiscover(*options); }};
}

}  // namespace zendrik::cli
