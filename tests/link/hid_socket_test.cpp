#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/device_lock.h"
#include "link/frame.h"
#include "link/hid_backend_default.h"
#include "link/hid_backend_socket.h"
#include "link/switching_link.h"
#include "tests/link/hid_socket_peer.h"
#include "tests/support/fake_clock.h"
#include "zendrik/zendrik.h"

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
constexpr milliseconds kBetweenCalls{100};

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

    // Time passes between a test's exchanges, as between a program's calls, so the pause a link
    // makes before taking the device again does not come into it.
    int32_t Exchange(Bytes& reply) {
        ++written;
        clock.advance(kBetweenCalls);
        return link.Exchange(ExchangeVariant::Standard(), kProbe, reply);
    }

    TemporaryDirectory dir;
    FakeClock clock;
    SwitchingLink link{clock, MakeDefaultHidBackend(clock), nullptr, nullptr};
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

// Another program's exchange holds the device's lock file: this one waits one second (simulated)
// for its turn, then counts as unanswered without having sent anything.
TEST_F(HidSocketTest, AnExchangeWaitsAtMostOneSecondForTheDeviceLock) {
    StartReader({Hello(kReaderVendorId, kReaderProductId), true, AlwaysAnswer(HandshakeReply())});
    UseSockets({dir / "reader.sock"});
    const std::string lockPath = dir / "reader.sock.lock";
    const auto holdLock = [&] {
        UniqueFd otherProgram(::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
        EXPECT_EQ(::flock(otherProgram.get(), LOCK_EX), 0);
        return otherProgram;
    };
    // Links of the flat exports locate the device for every exchange; links of reader sessions keep
    // it open from one exchange to the next (the second busy exchange below).
    for (const ReplyWait wait : {ReplyWait::kPolledWindow, ReplyWait::kUntilArrived}) {
        link.usb().set_reply_wait(wait);
        for (int busy = 0; busy < 2; ++busy) {
            UniqueFd otherProgram = holdLock();
            const std::size_t reportsBefore = reader->reports().size();
            const Milliseconds before = clock.elapsed();
            Bytes untouched(300, 0x5A);
            EXPECT_EQ(link.Exchange(ExchangeVariant::Standard(), kProbe, untouched), ZENDRIK_ERR_BAD_REPLY);
            EXPECT_EQ(clock.elapsed() - before, milliseconds{1000});
            EXPECT_EQ(reader->reports().size(), reportsBefore) << "nothing may be sent without the lock";
            EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](uint8_t b) { return b == 0x5A; }));

            otherProgram.reset();  // its exchange is over
            Bytes reply(300, 0);
            EXPECT_EQ(Exchange(reply), ZENDRIK_OK);
        }
    }
    link.usb().set_reply_wait(ReplyWait::kPolledWindow);

    // Right after its own exchange, a link takes the device again at once while nobody waits for
    // it, and pauses first when another program shows that it waits, so that it gets its turn.
    Bytes reply(300, 0);
    for (const bool otherWaits : {false, true}) {
        UniqueFd waiter(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
        struct flock waiting {};
        waiting.l_type = F_RDLCK;
        waiting.l_len = 1;
        ASSERT_TRUE(!otherWaits || ::fcntl(waiter.get(), F_OFD_SETLK, &waiting) == 0);
        clock.clear_sleeps();
        link.Exchange(ExchangeVariant::Standard(), kProbe, reply);  // its outcome is not the point
        ASSERT_FALSE(clock.sleeps().empty());
        EXPECT_EQ(clock.sleeps().front() == kDeviceTurnGap, otherWaits);
    }
}

// The exported functions over a device that is listed but cannot be opened: OpenCom finds the
// reader, commands fail to write, and GetUsbOpenError names the node and the reason.
TEST_F(HidSocketTest, AListedDeviceThatCannotBeOpenedIsReportedThroughTheExports) {
    StartReader({Hello(kReaderVendorId, kReaderProductId), true, AlwaysAnswer(HandshakeReply()), true});
    const std::string path = dir / "reader.sock";
    UseSockets({path});
    EXPECT_EQ(OpenCom(ZENDRIK_USB_PORT, 0), ZENDRIK_OK);
    uint8_t mode = 0x5A;
    EXPECT_EQ(UhfGetWorkMode(0xFF, &mode), ZENDRIK_ERR_NOT_REACHED);
    EXPECT_EQ(mode, 0x5A);

    struct Case {
        int32_t size;
        std::string written;
    };
    for (const Case& c : {Case{256, path}, Case{5, path.substr(0, 4)}, Case{1, ""}}) {
        std::string buffer(static_cast<std::size_t>(c.size), '#');
        EXPECT_EQ(GetUsbOpenError(buffer.data(), c.size), EPROTO) << c.size;
        EXPECT_EQ(std::string(buffer.c_str()), c.written) << c.size;
    }
    EXPECT_EQ(GetUsbOpenError(nullptr, 0), EPROTO);

    reader->Stop();  // gone altogether: nothing listed, nothing to explain
    EXPECT_EQ(OpenCom(ZENDRIK_USB_PORT, 0), ZENDRIK_ERR_NO_USB_READER);
    char untouched[] = "untouched";
    EXPECT_EQ(GetUsbOpenError(untouched, sizeof untouched), 0);
    EXPECT_STREQ(untouched, "untouched");
}

// A server that no longer accepts (stopped, its backlog full) costs a locate one second on the
// backend's clock instead of hanging it.
TEST(HidSocketBackend, AServerThatStoppedAcceptingIsGivenUpAfterOneSecond) {
    TemporaryDirectory dir;
    const std::string path = dir / "stopped.sock";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const UniqueFd server(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::bind(server.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server.get(), 0), 0);
    std::vector<UniqueFd> waiting;  // connections never accepted, until the backlog is full
    for (bool full = false; !full && waiting.size() < 16;) {
        waiting.emplace_back(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        full = ::connect(waiting.back().get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
                   0 &&
               errno == EAGAIN;
    }

    FakeClock clock;
    const std::unique_ptr<HidBackend> backend = MakeSocketHidBackend({path}, clock);
    EXPECT_TRUE(backend->Enumerate().empty());
    EXPECT_EQ(clock.elapsed(), milliseconds{1000});
    EXPECT_EQ(backend->Open({path, kReaderVendorId, kReaderProductId}), nullptr);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(clock.elapsed(), milliseconds{2000});
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

    FakeClock clock;
    const std::unique_ptr<HidBackend> backend =
        MakeSocketHidBackend({dir / "missing.sock", dir / "zero.sock", dir / "big.sock", dir / "long.sock",
                              dir / "mute.sock", dir / "good.sock"},
                             clock);
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
