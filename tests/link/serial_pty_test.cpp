// The serial link end to end over a real pseudo-terminal: the library opens the terminal side
// through its termios port, and the test plays the reader on the master side. These run in real
// time at 115200 bit/s, where one byte time-out is 300 ms; they assert results, never durations.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/clock.h"
#include "link/frame.h"
#include "link/serial_line_speed.h"
#include "link/serial_port_posix.h"
#include "link/switching_link.h"
#include "link/unique_fd.h"
#include "tests/link/serial_test_env.h"
#include "zendrik/zendrik.h"

namespace zendrik {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::ScopedEnv;

constexpr int32_t kBaud = 115200;
constexpr uint8_t kUntouched = 0xEE;
constexpr std::size_t kReplyBufferSize = 300;
// How long the peer waits for a request before giving up, so that a broken test cannot hang. A
// strict link may first wait for the line to quiet down for some 2.4 s (up to three times that):
// at 3 s, a loaded machine had the peer give up before the request came.
constexpr int kPeerPatienceMs = 10000;
constexpr std::size_t kHeaderBytes = kOffsetData;

const Bytes kRequest{0xAA, 0xFF, 0xDC, 0x01, 0x00, 0x01, 0xBF, 0x84, 0x55};

Bytes Reply(std::size_t dataLength, uint8_t firstData = 1) {
    Bytes data(dataLength);
    for (std::size_t i = 0; i < dataLength; ++i) {
        data[i] = static_cast<uint8_t>(firstData + i);
    }
    return BuildStandardFrame(kBroadcastAddress, kStatusOk, data);
}

Bytes Concat(const Bytes& first, const Bytes& second) {
    Bytes all = first;
    all.insert(all.end(), second.begin(), second.end());
    return all;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN);
}

void WriteAll(int fd, const Bytes& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count <= 0) {
            return;
        }
        written += static_cast<std::size_t>(count);
    }
}

// A pseudo-terminal pair. The terminal side is what the library opens; the test keeps a second
// descriptor on it, opened before the library's, to look at the line settings and at what has
// arrived there.
class PseudoTerminal {
  public:
    PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        std::array<char, 128> name{};
        if (!master_ || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0 ||
            ::ptsname_r(master_.get(), name.data(), name.size()) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        path_ = name.data();
        observer_.reset(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    }

    const std::string& path() const { return path_; }
    int master() const { return master_.get(); }
    int observer() const { return observer_.get(); }

  private:
    UniqueFd master_;
    std::string path_;
    UniqueFd observer_;
};

// Plays the reader on the master side: waits for one whole request frame, keeps it, then sends
// the scripted answer (which may be nothing, stray bytes or a broken frame).
class ScriptedReader {
  public:
    ScriptedReader(int master, Bytes answer)
        : master_(master), answer_(std::move(answer)), thread_([this] { Serve(); }) {}
    ~ScriptedReader() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    ScriptedReader(const ScriptedReader&) = delete;
    ScriptedReader& operator=(const ScriptedReader&) = delete;

    // The request as received; valid once the exchange has returned.
    const Bytes& request() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return request_;
    }

  private:
    void Serve() {
        std::size_t expected = kHeaderBytes;
        while (request_.size() < expected && WaitReadable(master_, kPeerPatienceMs)) {
            std::array<uint8_t, 64> chunk{};
            const ssize_t count = ::read(master_, chunk.data(), chunk.size());
            if (count <= 0) {
                return;
            }
            request_.insert(request_.end(), chunk.begin(), chunk.begin() + count);
            if (request_.size() >= kHeaderBytes) {
                expected = ReplyFrameLength(request_[kOffsetLengthLow]);
            }
        }
        WriteAll(master_, answer_);
    }

    int master_;
    Bytes answer_;
    Bytes request_;
    std::thread thread_;
};

class SerialPty : public ::testing::Test {
  protected:
    static std::unique_ptr<SwitchingLink> MakeLink(SystemClock& clock) {
        return std::make_unique<SwitchingLink>(clock, nullptr, MakePosixSerialOpener(clock), nullptr);
    }

    // One exchange against a reader that answers `answer`; the reply buffer starts as kUntouched.
    int32_t ExchangeWith(const Bytes& answer, Bytes& reply) {
        ScriptedReader reader(pty.master(), answer);
        const int32_t result = link->Exchange(ExchangeVariant::Standard(), kRequest, reply);
        EXPECT_EQ(reader.request(), kRequest);
        return result;
    }

    SystemClock clock;
    PseudoTerminal pty;
    std::unique_ptr<SwitchingLink> link = MakeLink(clock);
};

struct PtyCase {
    const char* name;
    Bytes answer;
    int32_t result;
    Bytes reply;  // expected at the start of the reply buffer on success
};

TEST_F(SerialPty, ExchangesOneRequestForOneCheckedReply) {
    const Bytes one = Reply(1);
    Bytes swappedCrc = one;
    std::swap(swappedCrc[6], swappedCrc[7]);
    Bytes wrongEnd = one;
    wrongEnd.back() = 0x00;
    const Bytes tooLong = Concat(Bytes{0xAA, 0xFF, 0xC8, 249, 0x00}, Bytes(300, 0x00));

    const std::vector<PtyCase> cases{
        {"valid reply", one, ZENDRIK_OK, one},
        {"two stray bytes first", Concat(Bytes{0x00, 0x55}, one), ZENDRIK_OK, one},
        {"three stray bytes first", Concat(Bytes{0x00, 0x55, 0x01}, one), ZENDRIK_ERR_NO_START_BYTE, {}},
        {"silent reader", {}, ZENDRIK_ERR_NO_START_BYTE, {}},
        {"stops after the start byte", Bytes{0xAA}, ZENDRIK_ERR_BYTE_TIMEOUT, {}},
        {"CRC bytes swapped", swappedCrc, ZENDRIK_ERR_BAD_REPLY, {}},
        {"wrong end byte", wrongEnd, ZENDRIK_OK, wrongEnd},
        {"no data bytes", Reply(0), ZENDRIK_OK, Reply(0)},
        {"length byte above 248", tooLong, ZENDRIK_ERR_BAD_REPLY, {}},
    };
    for (const PtyCase& c : cases) {
        PseudoTerminal terminal;
        SystemClock caseClock;
        const std::unique_ptr<SwitchingLink> caseLink = MakeLink(caseClock);
        ASSERT_EQ(caseLink->OpenSerialDevice(terminal.path(), kBaud), ZENDRIK_OK) << c.name;
        Bytes reply(kReplyBufferSize, kUntouched);
        ScriptedReader reader(terminal.master(), c.answer);
        EXPECT_EQ(caseLink->Exchange(ExchangeVariant::Standard(), kRequest, reply), c.result) << c.name;
        EXPECT_EQ(reader.request(), kRequest) << c.name;
        EXPECT_TRUE(std::equal(c.reply.begin(), c.reply.end(), reply.begin())) << c.name;
        EXPECT_TRUE(std::all_of(reply.begin() + static_cast<std::ptrdiff_t>(c.reply.size()), reply.end(),
                                [](uint8_t b) { return b == kUntouched; }))
            << c.name << ": bytes past the frame were written";
    }
}

TEST_F(SerialPty, RefusesAReplyLongerThanTheCallersBuffer) {
    ASSERT_EQ(link->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_OK);
    const Bytes answer = Reply(10);
    Bytes reply(answer.size() - 1, kUntouched);
    EXPECT_EQ(ExchangeWith(answer, reply), ZENDRIK_ERR_BAD_REPLY);
    EXPECT_EQ(reply, Bytes(answer.size() - 1, kUntouched));
}

TEST_F(SerialPty, DiscardsBytesWaitingBeforeTheRequest) {
    ASSERT_EQ(link->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_OK);
    // A late reply to an earlier command, fully arrived before the next request goes out.
    WriteAll(pty.master(), Reply(2, 0x40));
    ASSERT_TRUE(WaitReadable(pty.observer(), kPeerPatienceMs));

    const Bytes fresh = Reply(2, 0x70);
    Bytes reply(fresh.size(), kUntouched);
    EXPECT_EQ(ExchangeWith(fresh, reply), ZENDRIK_OK);
    EXPECT_EQ(reply, fresh);
}

TEST_F(SerialPty, UnderStrictRulesALateReplyIsDroppedWhileTheLineQuietsDown) {
    link->set_reply_rules(ReplyRules::Strict());
    ASSERT_EQ(link->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_OK);
    const Bytes late = Reply(2, 0x40);
    const Bytes own = Reply(2, 0x70);
    Bytes reply(kReplyBufferSize, kUntouched);
    {
        ScriptedReader silent(pty.master(), {});
        EXPECT_EQ(link->Exchange(ExchangeVariant::Standard(), kRequest, reply), ZENDRIK_ERR_NO_START_BYTE);
    }
    // The answer to the request that timed out comes only now; the next exchange must not take it.
    WriteAll(pty.master(), late);
    EXPECT_EQ(ExchangeWith(own, reply), ZENDRIK_OK);
    EXPECT_TRUE(std::equal(own.begin(), own.end(), reply.begin()));
}

TEST_F(SerialPty, OpenComReachesTheDeviceNamedByTheEnvironment) {
    const ScopedEnv com7("ZENDRIK_COM7", pty.path());
    for (const int32_t port : {6, 6 + 0x10000}) {
        ASSERT_EQ(link->OpenCom(port, kBaud), ZENDRIK_OK) << port;
        const Bytes answer = Reply(3);
        Bytes reply(kReplyBufferSize, kUntouched);
        EXPECT_EQ(ExchangeWith(answer, reply), ZENDRIK_OK) << port;
        EXPECT_TRUE(std::equal(answer.begin(), answer.end(), reply.begin())) << port;
        ASSERT_EQ(link->CloseCom(), ZENDRIK_OK) << port;
    }
}

TEST_F(SerialPty, ExchangeWithoutAnOpenPortAndCloseComTwice) {
    Bytes reply(kReplyBufferSize, kUntouched);
    EXPECT_EQ(link->OpenSerialDevice("/nonexistent/ttyZ0", kBaud), ZENDRIK_ERR_PORT_OPEN);
    EXPECT_EQ(link->type(), LinkType::kSerial);
    EXPECT_EQ(link->Exchange(ExchangeVariant::Standard(), kRequest, reply), ZENDRIK_ERR_PORT_NOT_OPEN);

    ASSERT_EQ(link->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_OK);
    EXPECT_EQ(link->CloseCom(), ZENDRIK_OK);
    EXPECT_EQ(link->CloseCom(), ZENDRIK_ERR_PORT_NOT_OPEN);
    EXPECT_EQ(link->Exchange(ExchangeVariant::Standard(), kRequest, reply), ZENDRIK_ERR_PORT_NOT_OPEN);
    EXPECT_EQ(reply, Bytes(kReplyBufferSize, kUntouched));
}

TEST_F(SerialPty, APortOpenAlreadyIsBusyUntilItIsClosed) {
    const std::unique_ptr<SwitchingLink> other = MakeLink(clock);
    ASSERT_EQ(link->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_OK);
    EXPECT_EQ(other->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_ERR_PORT_BUSY) << "held by another link";
    EXPECT_EQ(link->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_ERR_PORT_BUSY) << "opened twice by one link";

    // The failed second open left the first one in place.
    const Bytes answer = Reply(1);
    Bytes reply(kReplyBufferSize, kUntouched);
    EXPECT_EQ(ExchangeWith(answer, reply), ZENDRIK_OK);

    ASSERT_EQ(link->CloseCom(), ZENDRIK_OK);
    EXPECT_EQ(other->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_OK) << "released by CloseCom";
}

TEST_F(SerialPty, OpeningAnotherPortReleasesTheEarlierOne) {
    PseudoTerminal second;
    const std::unique_ptr<SwitchingLink> other = MakeLink(clock);
    ASSERT_EQ(link->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_OK);
    ASSERT_EQ(link->OpenSerialDevice(second.path(), kBaud), ZENDRIK_OK);
    EXPECT_EQ(other->OpenSerialDevice(pty.path(), kBaud), ZENDRIK_OK) << "the earlier port is still held";
    EXPECT_EQ(other->OpenSerialDevice(second.path(), kBaud), ZENDRIK_ERR_PORT_BUSY);
}

TEST_F(SerialPty, ADeviceWithoutLineSettingsIsClosedAgain) {
    // Not a terminal: its settings cannot be read. Were it left open, its lock would make the
    // second attempt report a busy port instead.
    EXPECT_EQ(link->OpenSerialDevice("/dev/null", kBaud), ZENDRIK_ERR_PORT_GET_SETTINGS);
    EXPECT_EQ(link->OpenSerialDevice("/dev/null", kBaud), ZENDRIK_ERR_PORT_GET_SETTINGS);
}

struct LineCase {
    int32_t requested;
    uint32_t opened;
    bool hardwareFlow;
};

TEST_F(SerialPty, AppliesRawEightNoneOneAtTheChosenSpeedAndKeepsHardwareFlow) {
    const std::vector<LineCase> cases{
        {4800, 9600, true},    {2400, 9600, false},    {14400, 14400, true},
        {28800, 28800, false}, {115200, 115200, true}, {1200, 1200, false},
    };
    for (const LineCase& c : cases) {
        PseudoTerminal terminal;
        // Start from a cooked 7E2 line with software flow control.
        termios before{};
        ASSERT_EQ(::tcgetattr(terminal.observer(), &before), 0);
        before.c_cflag = (before.c_cflag & ~static_cast<tcflag_t>(CSIZE | CRTSCTS)) | CS7 | PARENB | CSTOPB;
        before.c_cflag |= c.hardwareFlow ? CRTSCTS : 0;
        before.c_iflag |= IXON | IXOFF | IXANY;
        before.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(::tcsetattr(terminal.observer(), TCSANOW, &before), 0);

        const std::unique_ptr<SwitchingLink> caseLink = MakeLink(clock);
        ASSERT_EQ(caseLink->OpenSerialDevice(terminal.path(), c.requested), ZENDRIK_OK) << c.requested;
        termios after{};
        ASSERT_EQ(::tcgetattr(terminal.observer(), &after), 0);
        EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << c.requested;
        EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB), 0u) << c.requested;
        EXPECT_EQ(after.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD)) << c.requested;
        EXPECT_EQ((after.c_cflag & CRTSCTS) != 0, c.hardwareFlow) << c.requested;
        EXPECT_EQ(after.c_iflag & (IXON | IXOFF | IXANY), 0u) << c.requested;
        EXPECT_EQ(after.c_lflag & (ICANON | ECHO), 0u) << c.requested;
        EXPECT_EQ(after.c_oflag & OPOST, 0u) << c.requested;
        EXPECT_EQ(LineSpeedBitsPerSecond(terminal.observer()), c.opened) << c.requested;
    }
}

}  // namespace
}  // namespace zendrik
