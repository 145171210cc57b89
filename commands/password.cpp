#include "commands/password.h"

#include <algorithm>
#include <array>

#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "link/result_codes.h"

namespace zendrik {
namespace {

constexpr std::size_t kEnableAt = 0;
constexpr std::size_t kPasswordAt = 1;
using PasswordRecord = std::array<uint8_t, kPasswordAt + kPasswordLength>;

}  // namespace

int32_t SetPassword(Link& link, uint8_t address, uint8_t enable,
                    std::span<const uint8_t, kPasswordLength> password) {
    PasswordRecord record{};
    record[kEnableAt] = enable;
    std::copy(password.begin(), password.end(), record.begin() + kPasswordAt);
    return RunParameterCommand(link, parameter::kSetPassword, address, record, {});
}

int32_t GetPassword(Link& link, uint8_t address, uint8_t& enable,
                    std::span<uint8_t, kPasswordLength> password) {
    PasswordRecord record{};
    const int32_t result = RunParameterCommand(link, parameter::kGetPassword, address, {}, record);
    if (result == result::kOk) {
        enable = record[kEnableAt];
        std::copy_n(record.begin() + kPasswordAt, kPasswordLength, password.begin());
    }
    return result;
}

}  // namespace zendrik
