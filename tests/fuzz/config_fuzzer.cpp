// Feeds arbitrary text to zendrikd's configuration reader with the library's own address check.
// Besides the sanitizers' findings it stops on any exception other than a refusal, on a refusal
// whose line lies outside the text, and on an accepted configuration that breaks what the reader
// promises: a site and reader names usable as one topic level, at least one reader, no two
// readers with one name or address.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "daemon/config/config.h"
#include "zendrik/zendrik_session.h"

namespace {

using zendrik::daemon::ConfigError;
using zendrik::daemon::DaemonConfig;

constexpr std::size_t kWhyCapacity = 256;
constexpr std::size_t kNameMaxBytes = 63;

std::optional<std::string> CheckAddress(const std::string& address) {
    char why[kWhyCapacity] = {};
    if (zendrik_address_check(address.c_str(), why, sizeof why) == ZENDRIK_OK) {
        return std::nullopt;
    }
    return std::string(why);
}

void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

bool IsLevelName(const std::string& name) {
    return !name.empty() && name.size() <= kNameMaxBytes && name.find_first_of("/+#") == std::string::npos;
}

void CheckAccepted(const DaemonConfig& config) {
    Require(IsLevelName(config.site));
    Require(!config.readers.empty());
    Require(config.mqtt.port > 0);
    Require(config.spool.maxMessages > 0);
    std::set<std::string> names;
    std::set<std::string> addresses;
    for (const auto& reader : config.readers) {
        Require(IsLevelName(reader.name));
        Require(names.insert(reader.name).second);
        Require(addresses.insert(reader.address).second);
        Require(!CheckAddress(reader.address).has_value());
        Require(reader.absenceMs > 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        CheckAccepted(zendrik::daemon::ParseConfig(text, CheckAddress));
    } catch (const ConfigError& error) {
        const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
        Require(error.line() >= 0 && error.line() <= lines);
        Require(!error.reason().empty());
    }
    return 0;
}
