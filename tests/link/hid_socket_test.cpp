#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "exports/zendrik.h"
#include "link/frame.h"
#include "link/hid_backend_default.h"
#include "link/hid_backend_socket.h"
#include "link/link.h"
#include "tests/link/hid_socket_peer.h"
#include "tests/support/fake_clock.h"

namespace zendrik {
namespace {

using testing::FakeClock;
using testing::HidSocketPeer;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

const Bytes kProbe{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};
constexpr uint16_t kKeyboardVendor = 0x046D;
constexpr uint16_t kKeyboardProduct = 0xC31C;
constexpr uint16_t kReportLength = 65;

Bytes HandshakeReply() {
    return BuildStandardFrame(0xFF, kStatusOk, Bytes{0x02, 0x01});
}

Bytes Hello(uint16_t vendor, uint16_t product, uint16_t input = kReportLength,
            uint16_t output = kReportLength) {
    const HidHelloBytes bytes = EncodeHidHello({vendor, product, input, output});
    return Bytes(bytes.begin(), bytes.end());
}

HidSocketPeer::Responder AnswerOnce(std::vector<Bytes> frames) {
    auto answered = std::make_shared<bool>(false);
    return [frames = std::move(frames), answered](std::span<const uint8_t>) {
        return std::exchange(*answered, true) ? std::vector<Bytes>{} : frames;
    };
}

HidSocketPeer::Responder AlwaysAnswer(Bytes frame) {
    return [frame](std::span<const uint8_t>) { return std::vector<Bytes>{frame}; };
}

class TemporaryDirectory {
  public:
    TemporaryDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zendrik-hid-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// The USB exchange of a link built like the library's own (default backend, devices named by
// ZENDRIK_HID_SOCKET), in simulated time. Each poll wait first lets the reader's thread answer every
// report written so far, so that the outcome never depends on scheduling.
class HidSocketTest : public ::testing::Test {
  protected:
    ~HidSocketTest() override { ::unsetenv(kHidSocketVariable); }

    void UseSockets(const std::vector<std::string>& paths) {
        std::string joined;
        for (const std::string& path : paths) {
            joined += (joined.empty() ? "" : ":") + path;
        }
        ::setenv(kHidSocketVariable, joined.c_str(), 1);
    }

    HidSocketPeer& StartReader(HidSocketPeer::Options options, const std::string& name = "reader.sock") {
        reader = std::make_unique<HidSocketPeer>(dir / name, std::move(options));
        EXPECT_TRUE(reader->bound());
        clock.on_sleep([this] { EXPECT_TRUE(reader->AwaitHandled(written)); });
        return *reader;
    }

    int32_t Exchange(Bytes& reply) {
        ++written;
        return link.Exchange(ExchangeVariant::Standard(), kProbe, reply);
    }

    TemporaryDirectory dir;
    FakeClock clock;
    Link link{clock, MakeDefaultHidBackend(), nullptr, nullptr};
    std::unique_ptr<HidSocketPeer> reader;
    int written = 0;
};

TEST_F(HidSocketTest, ExchangeReachesTheReaderListedAfterOtherDevices) {
    HidSocketPeer other(dir / "keyboard.sock",
                        {Hello(kKeyboardVendor, kKeyboardProduct), true, AlwaysAnswer(HandshakeReply())});
    StartReader({Hello(kReaderVendorId, kReaderProductId), true, AlwaysAnswer(HandshakeReply())});
    UseSockets({dir / "missing.sock", dir / "keyboard.sock", dir / "reader.sock"});

    Bytes reply(300, 0);
    ASSERT_EQ(Exchange(reply), ZENDRIK_OK);
    const Bytes expected = HandshakeReply();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin()));
    EXPECT_EQ(clock.sleeps(), std::vector<milliseconds>{milliseconds{10}});

    Bytes report(kReportLength, 0);
    std::copy(kProbe.begin(), kProbe.end(), report.begin() + 1);
    EXPECT_EQ(reader->reports(), std::vector<Bytes>{report});
    EXPECT_TRUE(other.reports().empty());

    // Every exchange locates afresh: one connection to list the device, one to open it.
    const int connectionsBefore = reader->connections();
    ASSERT_EQ(Exchange(reply), ZENDRIK_OK);
    EXPECT_EQ(reader->connections(), connectionsBefore + 2);
}

TEST_F(HidSocketTest, ReportLengthsComeFromTheHello) {
    struct Case {
        uint16_t input;
        uint16_t output;
    };
    const std::vector<Case> cases{{65, 65}, {101, 101}, {1024, 64}, {33, 65}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string name = "reader" + std::to_string(i) + ".sock";
        written = 0;
        StartReader({Hello(kReaderVendorId, kReaderProductId, c.input, c.output), true,
                     AlwaysAnswer(HandshakeReply())},
                    name);
        UseSockets({dir / name});
        Bytes reply(300, 0);
        EXPECT_EQ(Exchange(reply), ZENDRIK_OK) << c.input << "/" << c.output;
        const std::vector<Bytes> reports = reader->reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].size(), c.output);
        EXPECT_EQ(reports[0][0], 0);
    }
}

TEST_F(HidSocketTest, DeviceGoneBetweenExchangesFailsTheWrite) {
    StartReader({Hello(kReaderVendorId, kReaderProductId), true, AlwaysAnswer(HandshakeReply())});
    UseSockets({dir / "reader.sock"});
    Bytes reply(300, 0);
    ASSERT_EQ(Exchange(reply), ZENDRIK_OK);

    reader->Stop();
    Bytes untouched(300, 0x5A);
    EXPECT_EQ(Exchange(untouched), ZENDRIK_ERR_NOT_REACHED);
    EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](uint8_t b) { return b == 0x5A; }));
}

TEST_F(HidSocketTest, ReportLeftOverFromAnEarlierExchangeIsNeverTaken) {
    // The first request is answered twice; the second answer waits on the old connection.
    StartReader(
        {Hello(kReaderVendorId, kReaderProductId), true, AnswerOnce({HandshakeReply(), HandshakeReply()})});
    UseSockets({dir / "reader.sock"});
    Bytes reply(300, 0);
    ASSERT_EQ(Exchange(reply), ZENDRIK_OK);
    EXPECT_EQ(Exchange(reply), ZENDRIK_ERR_BAD_REPLY);
}

TEST_F(HidSocketTest, NoReaderAmongTheSocketsLeavesOpenComOnSerial) {
    HidSocketPeer other(dir / "keyboard.sock", {Hello(kKeyboardVendor, kKeyboardProduct), true, nullptr});
    UseSockets({dir / "keyboard.sock"});
    EXPECT_EQ(link.OpenCom(ZENDRIK_USB_PORT, 0), ZENDRIK_ERR_NO_USB_READER);
    EXPECT_EQ(link.type(), LinkType::kSerial);
}

TEST(HidSocketBackend, EnumerationListsOnlyDevicesThatGreetProperly) {
    TemporaryDirectory dir;
    Bytes longHello = Hello(kReaderVendorId, kReaderProductId);
    longHello.push_back(0);
    HidSocketPeer zeroLength(dir / "zero.sock",
                             {Hello(kReaderVendorId, kReaderProductId, 0, 65), true, nullptr});
    HidSocketPeer oversized(dir / "big.sock",
                            {Hello(kReaderVendorId, kReaderProductId, 65, 1025), true, nullptr});
    HidSocketPeer wrongSize(dir / "long.sock", {longHello, true, nullptr});
    HidSocketPeer mute(dir / "mute.sock", {Hello(kReaderVendorId, kReaderProductId), false, nullptr});
    HidSocketPeer good(dir / "good.sock", {Hello(kKeyboardVendor, kKeyboardProduct, 9, 9), true, nullptr});

    const std::unique_ptr<HidBackend> backend =
        MakeSocketHidBackend({dir / "missing.sock", dir / "zero.sock", dir / "big.sock", dir / "long.sock",
                              dir / "mute.sock", dir / "good.sock"});
    const std::vector<HidDeviceInfo> devices =
        backend->Enumerate();  // the mute one costs its one-second limit
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].path, dir / "good.sock");
    EXPECT_EQ(devices[0].vendorId, kKeyboardVendor);
    EXPECT_EQ(devices[0].productId, kKeyboardProduct);

    const std::unique_ptr<HidDevice> device = backend->Open(devices[0]);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->InputReportLength(), 9u);
    EXPECT_EQ(device->OutputReportLength(), 9u);
    EXPECT_FALSE(device->WriteReport(Bytes(65, 0)));  // not a report of this device's length
    HidChunk chunk{};
    EXPECT_FALSE(device->ReadChunk(chunk));  // nothing has arrived
    EXPECT_EQ(backend->Open({dir / "zero.sock", kReaderVendorId, kReaderProductId}), nullptr);
}

TEST(HidSocketBackend, HelloIsFourLittleEndianWordsWithSaneLengths) {
    const HidHelloBytes bytes = EncodeHidHello({kReaderVendorId, kReaderProductId, 65, 101});
    EXPECT_EQ(bytes, (HidHelloBytes{0x16, 0x04, 0x0B, 0xB0, 0x41, 0x00, 0x65, 0x00}));

    struct Case {
        uint16_t input;
        uint16_t output;
        bool accepted;
    };
    const std::vector<Case> cases{{65, 65, true}, {1, 1, true},      {1024, 1024, true}, {0, 65, false},
                                  {65, 0, false}, {1025, 65, false}, {65, 1025, false},  {0xFFFF, 65, false}};
    for (const Case& c : cases) {
        const HidHello hello{kReaderVendorId, kReaderProductId, c.input, c.output};
        const std::optional<HidHello> decoded = DecodeHidHello(EncodeHidHello(hello));
        EXPECT_EQ(decoded.has_value(), c.accepted) << c.input << "/" << c.output;
        if (decoded) {
            EXPECT_EQ(*decoded, hello);
        }
    }
}

TEST(HidSocketBackend, SocketListSplitsAtColonsAndDropsEmptyPaths) {
    struct Case {
        const char* list;
        std::vector<std::string> paths;
    };
    const std::vector<Case> cases{
        {"", {}},
        {"/run/a.sock", {"/run/a.sock"}},
        {"/run/a.sock:/run/b.sock", {"/run/a.sock", "/run/b.sock"}},
        {"::/run/a.sock::/run/b.sock:", {"/run/a.sock", "/run/b.sock"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitSocketPaths(c.list), c.paths) << c.list;
    }
}

}  // namespace
}  // namespace zendrik
