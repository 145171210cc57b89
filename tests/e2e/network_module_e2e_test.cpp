// FindDevice, ReadConfig and WriteConfig through the shared library. They broadcast from
// 192.168.1.54:2000 to 255.255.255.255:5000, so these tests run only inside the private network
// namespace that in_private_netns.sh makes (loopback alone, carrying 192.168.1.54), where the
// broadcast loops back to the module served in-process and reaches nothing else.

#include <ifaddrs.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "zendrik/zendrik.h"
#include "sim/fault.h"
#include "sim/module_responder.h"
#include "sim/network_module.h"
#include "tests/e2e/served_reader.h"

namespace zendrik::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kPrivateNamespaceVariable = "ZENDRIK_E2E_PRIVATE_NETNS";
constexpr const char* kLoopbackInterface = "lo";
constexpr const char* kEveryAddress = "0.0.0.0";
constexpr uint16_t kModulePort = 5000;
// The fixed host address the functions bind, as the module sees the answers come back to it.
constexpr std::array<uint8_t, 4> kHostAddress{192, 168, 1, 54};
constexpr std::size_t kRecordSize = 10;
constexpr std::size_t kMaxRecords = 50;
constexpr std::size_t kModuleIdSize = 6;
constexpr std::size_t kSettingsSize = 18;
constexpr std::size_t kSettingsReplySize = 22;
constexpr uint8_t kModuleReadSettings = 0x10;

// True only when the script said so and this namespace has no interface but loopback: a broadcast
// sent here cannot leave the machine.
bool InPrivateNamespace() {
    if (std::getenv(kPrivateNamespaceVariable) == nullptr) {
        return false;
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return false;
    }
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owned(list, ::freeifaddrs);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (std::strcmp(entry->ifa_name, kLoopbackInterface) != 0) {
            return false;
        }
    }
    return true;
}

class NetworkModule : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateNamespace()) {
            GTEST_SKIP() << "broadcasts only inside the private namespace of in_private_netns.sh";
        }
        module_ = std::make_unique<sim::ModuleResponder>(sim::Ipv4Endpoint{kEveryAddress, kModulePort});
    }

    sim::NetworkModule& module() { return module_->module(); }

  private:
    std::unique_ptr<sim::ModuleResponder> module_;
};

TEST_F(NetworkModule, IsFoundItsSettingsReadAndWritten) {
    const sim::ModuleSettings settings = module().settings();
    std::array<uint8_t, kMaxRecords * kRecordSize> records{};
    int32_t count = -1;
    ASSERT_EQ(FindDevice(records.data(), &count), ZENDRIK_OK);
    ASSERT_EQ(count, 1) << "fifty answers of one module make one record";
    EXPECT_EQ(Bytes(records.begin(), records.begin() + kModuleIdSize),
              Bytes(settings.id.begin(), settings.id.end()));
    EXPECT_EQ(Bytes(records.begin() + kModuleIdSize, records.begin() + kRecordSize),
              Bytes(kHostAddress.begin(), kHostAddress.end()));

    std::array<uint8_t, kSettingsReplySize> reply{};
    ASSERT_EQ(ReadConfig(records.data(), reply.data()), ZENDRIK_OK);
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), sim::EncodeModuleSettings(settings));

    sim::ModuleSettings changed = settings;
    changed.address = {10, 1, 2, 3};
    changed.mask = {255, 255, 0, 0};
    changed.gateway = {10, 1, 0, 1};
    // The record is the settings reply without its port and reserved bytes.
    Bytes record = sim::EncodeModuleSettings(changed);
    record.resize(kSettingsSize);
    ASSERT_EQ(WriteConfig(record.data(), reply.data()), ZENDRIK_OK);
    EXPECT_EQ(module().settings(), changed);
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), sim::EncodeModuleSettings(changed));
}

TEST_F(NetworkModule, SilenceGivesTheNoAnswerCodes) {
    std::array<uint8_t, kSettingsReplySize> reply{};
    reply.fill(0xEE);
    const std::array<uint8_t, kModuleIdSize> otherId{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(ReadConfig(otherId.data(), reply.data()), ZENDRIK_ERR_UDP_NO_REPLY);
    EXPECT_EQ(reply[0], 0xEE);
    EXPECT_EQ(module().requests().back().command, kModuleReadSettings);

    module().AddFault({sim::FaultTarget::Any(), sim::Fault::Silence(), std::nullopt});
    std::array<uint8_t, kMaxRecords * kRecordSize> records{};
    int32_t count = -1;
    EXPECT_EQ(FindDevice(records.data(), &count), ZENDRIK_ERR_NOT_REACHED);
    EXPECT_EQ(count, 0);
}

TEST_F(NetworkModule, ReaderCommandsNeedANewNetConnectAfterASearch) {
    ServedReader served(LinkKind::kUdp);
    ASSERT_EQ(served.Connect(), ZENDRIK_OK);
    std::array<uint8_t, kMaxRecords * kRecordSize> records{};
    int32_t count = 0;
    ASSERT_EQ(FindDevice(records.data(), &count), ZENDRIK_OK);

    // The link now points at the broadcast address, which a reader command may not send to.
    uint8_t mode = 0xEE;
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_ERR_UDP_NO_REPLY);
    ASSERT_EQ(served.Connect(), ZENDRIK_OK);
    EXPECT_EQ(UhfGetWorkMode(kAnyReader, &mode), ZENDRIK_OK);
    EXPECT_EQ(mode, served.reader().settings().workMode);
}

}  // namespace
}  // namespace zendrik::e2e
