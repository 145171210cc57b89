#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "link/hid_backend_hidapi.h"

namespace zendrik {
namespace {

using Bytes = std::vector<uint8_t>;

// Report descriptors in their item encoding: 0x75 report size, 0x95 report count, 0x85 report id,
// 0x81 input, 0x91 output, 0xA4 push, 0xB4 pop, 0xFE long item.
TEST(ReportDescriptor, GivesTheLongestInputAndOutputReportWithItsIdByte) {
    struct Case {
        const char* name;
        Bytes descriptor;
        HidReportLayout expected;
    };
    const Bytes vendorDefined64{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // vendor page, collection
                                0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
                                0x95, 0x40, 0x81, 0x02, 0x09, 0x03, 0x15, 0x00, 0x26,
                                0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x91, 0x02, 0xC0};
    const std::vector<Case> cases{
        {"vendor-defined 64-byte reports", vendorDefined64, {65, 65, false}},
        {"numbered reports, longest wins",
         {0x85, 0x01, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0x85, 0x02, 0x95, 0x20, 0x81, 0x02, 0x91, 0x02},
         {33, 33, true}},
        {"fields of one report add up",
         {0x75, 0x08, 0x95, 0x10, 0x81, 0x02, 0x95, 0x30, 0x81, 0x02},
         {65, 0, false}},
        {"bits round up to bytes", {0x75, 0x01, 0x95, 0x03, 0x81, 0x02}, {2, 0, false}},
        {"pop restores pushed sizes",
         {0x75, 0x08, 0x95, 0x10, 0xA4, 0x95, 0x40, 0x81, 0x02, 0xB4, 0x91, 0x02},
         {65, 17, false}},
        {"pop without push is ignored", {0xB4, 0x75, 0x08, 0x95, 0x04, 0x91, 0x02}, {0, 5, false}},
        {"long items are skipped",
         {0xFE, 0x02, 0x10, 0x81, 0x91, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02},
         {5, 0, false}},
        {"truncated item ends the walk", {0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x95}, {5, 0, false}},
        {"truncated long item ends the walk", {0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0xFE}, {5, 0, false}},
        {"empty", {}, {0, 0, false}},
    };
    for (const Case& c : cases) {
        const HidReportLayout layout = ParseReportDescriptor(c.descriptor);
        EXPECT_EQ(layout.inputLength, c.expected.inputLength) << c.name;
        EXPECT_EQ(layout.outputLength, c.expected.outputLength) << c.name;
        EXPECT_EQ(layout.numbered, c.expected.numbered) << c.name;
    }
}

TEST(ReportDescriptor, AbsurdSizesAreCappedNotOverflowed) {
    // Four-byte report size and count of 0xFFFFFFFF each, twice: the product overflows 64 bits.
    const Bytes descriptor{0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF,
                           0xFF, 0xFF, 0xFF, 0x81, 0x02, 0x81, 0x02};
    const HidReportLayout layout = ParseReportDescriptor(descriptor);
    EXPECT_GT(layout.inputLength, 4096u);
    EXPECT_LT(layout.inputLength, 1u << 20);
}

TEST(HidapiBackend, NodeWithoutReportDescriptorFallsBackToTheReadersReports) {
    for (const char* path : {"/dev/null", "/nonexistent/hidraw9"}) {
        const HidReportLayout layout = ReportLayoutOfNode(path);
        EXPECT_EQ(layout.inputLength, 65u) << path;
        EXPECT_EQ(layout.outputLength, 65u) << path;
        EXPECT_FALSE(layout.numbered) << path;
    }
}

TEST(HidapiBackend, ListsDevicesWithPathsAndOpensNothingAtAMissingPath) {
    const std::unique_ptr<HidBackend> backend = MakeHidapiBackend();
    for (const HidDeviceInfo& device : backend->Enumerate()) {
        EXPECT_FALSE(device.path.empty());
    }
    EXPECT_EQ(backend->Open({"/nonexistent/hidraw9", 0x0416, 0xB00B}), nullptr);
}

}  // namespace
}  // namespace zendrik
