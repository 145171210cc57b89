#include "link/serial_port_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>

#include "link/com_port_map.h"
#include "link/result_codes.h"
#include "link/serial_byte_read.h"
#include "link/serial_line_speed.h"
#include "link/unique_fd.h"

namespace zendrik {
namespace {

// The longest a request may take to leave; what has not gone by then is dropped, and the exchange
// sees a missing reply.
constexpr Milliseconds kWriteTimeout{200};

struct StandardSpeed {
    int32_t bitsPerSecond;
    speed_t code;
};

// Accepted speeds that <termios.h> can name; 14400 and 28800 go through termios2 instead.
constexpr std::array<StandardSpeed, 6> kStandardSpeeds{{
    {1200, B1200},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

std::optional<speed_t> StandardSpeedCode(int32_t bitsPerSecond) {
    for (const StandardSpeed& speed : kStandardSpeeds) {
        if (speed.bitsPerSecond == bitsPerSecond) {
            return speed.code;
        }
    }
    return std::nullopt;
}

timespec ToTimespec(Clock::TimePoint::duration duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(duration - seconds);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

// Waits until `fd` reports one of `events` or `deadline` comes. Returns the events reported, 0 when
// the deadline came first, POLLERR when poll itself fails.
short PollUntil(Clock& clock, int fd, short events, Clock::TimePoint deadline) {
    for (;;) {
        // A thread that wakes after its deadline (a loaded machine) still looks once without
        // waiting: a byte that is already there is no time-out.
        const Clock::TimePoint::duration remaining =
            std::max(deadline - clock.now(), Clock::TimePoint::duration::zero());
        pollfd entry{fd, events, 0};
        const timespec timeout = ToTimespec(remaining);
        const int ready = ::ppoll(&entry, 1, &timeout, nullptr);
        if (ready > 0) {
            return entry.revents;
        }
        if (ready == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return POLLERR;
        }
    }
}

class PosixSerialPort final : public SerialPort {
  public:
    PosixSerialPort(UniqueFd fd, Clock& clock, Milliseconds perByteTimeout)
        : fd_(std::move(fd)), clock_(clock), perByteTimeout_(perByteTimeout) {}

    ~PosixSerialPort() override {
        // Give the terminal back for others to open; the lock goes with the descriptor.
        ::ioctl(fd_.get(), TIOCNXCL);
    }

    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    void Write(std::span<const uint8_t> bytes) override {
        // Whatever is still queued belongs to an earlier request: a late reply must not be taken
        // for the answer to this one.
        ::tcflush(fd_.get(), TCIOFLUSH);
        const Clock::TimePoint deadline = clock_.now() + kWriteTimeout;
        std::size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t count = ::write(fd_.get(), bytes.data() + written, bytes.size() - written);
            if (count > 0) {
                written += static_cast<std::size_t>(count);
            } else if (count < 0 && errno == EINTR) {
                continue;
            } else if (count < 0 && errno == EAGAIN &&
                       (PollUntil(clock_, fd_.get(), POLLOUT, deadline) & POLLOUT)) {
                continue;
            } else {
                return;  // not reported: the exchange sees no reply
            }
        }
    }

    std::optional<uint8_t> ReadByte() override {
        return ReadSerialByte(clock_, perByteTimeout_,
                              [this](Clock::TimePoint deadline) { return ReadBefore(deadline); });
    }

    Milliseconds ByteTimeout() const override { return SerialByteTimeout(perByteTimeout_); }

    bool DropArrivingWithin(Milliseconds timeout) override {
        const Clock::TimePoint deadline = clock_.now() + timeout;
        const short events = PollUntil(clock_, fd_.get(), POLLIN, deadline);
        if (events == 0) {
            return false;
        }
        if (!(events & POLLIN)) {
            clock_.sleep_until(deadline);  // hung up or failing: as silent as a quiet line
            return false;
        }
        ::tcflush(fd_.get(), TCIFLUSH);
        return true;
    }

  private:
    std::optional<uint8_t> ReadBefore(Clock::TimePoint deadline) {
        for (;;) {
            const short events = PollUntil(clock_, fd_.get(), POLLIN, deadline);
            if (events == 0) {
                return std::nullopt;
            }
            if (events & POLLIN) {
                uint8_t byte = 0;
                const ssize_t count = ::read(fd_.get(), &byte, 1);
                if (count == 1) {
                    return byte;
                }
                if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
                    continue;
                }
            }
            // Hung up or failing, with nothing to read: wait out the try like a silent line does
            // rather than spin on a descriptor that reports the same at once every time.
            clock_.sleep_until(deadline);
            return std::nullopt;
        }
    }

    UniqueFd fd_;
    Clock& clock_;
    Milliseconds perByteTimeout_;
};

int32_t OpenFailureCode(int error) {
    // EACCES: no permission or, for a non-root caller, a terminal another program holds exclusively
    // reports EBUSY: both mean the port is not ours to use.
    return (error == EACCES || error == EBUSY) ? result::kPortBusy : result::kPortOpen;
}

// Raw transfer, 8 data bits, no parity, 1 stop bit, no software flow control, receiver on and modem
// lines ignored. Hardware flow control stays as the port had it.
void MakeRawEightNoneOne(termios& line) {
    const tcflag_t hardwareFlow = line.c_cflag & CRTSCTS;
    ::cfmakeraw(&line);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    line.c_cflag |= CS8 | CLOCAL | CREAD | hardwareFlow;
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
}

int32_t ConfigureLine(int fd, int32_t requestedBaud) {
    termios line{};
    if (::tcgetattr(fd, &line) != 0) {
        return result::kPortGetSettings;
    }
    MakeRawEightNoneOne(line);
    const int32_t bitsPerSecond = EffectiveBaud(requestedBaud);
    const std::optional<speed_t> speedCode = StandardSpeedCode(bitsPerSecond);
    if (speedCode) {
        ::cfsetispeed(&line, *speedCode);
        ::cfsetospeed(&line, *speedCode);
    }
    if (::tcsetattr(fd, TCSANOW, &line) != 0) {
        return result::kPortSetSettings;
    }
    if (!speedCode && !SetLineSpeedBitsPerSecond(fd, static_cast<uint32_t>(bitsPerSecond))) {
        return result::kPortSetSettings;
    }
    return result::kOk;
}

class PosixSerialOpener final : public SerialPortOpener {
  public:
    explicit PosixSerialOpener(Clock& clock) : clock_(clock) {}

    SerialOpenResult Open(const std::string& devicePath, int32_t baud) override {
        // Non-blocking, so that opening does not wait for carrier, and so that every read and write
        // afterwards is bounded by poll and its time-outs.
        UniqueFd fd(::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        if (!fd) {
            return {OpenFailureCode(errno), nullptr};
        }
        // The lock is what keeps a second opener out, root included; it goes with the descriptor.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return {errno == EWOULDBLOCK ? result::kPortBusy : result::kPortOpen, nullptr};
        }
        if (const int32_t code = ConfigureLine(fd.get(), baud); code != result::kOk) {
            return {code, nullptr};
        }
        // Taken only once the port is ours for good, so that a failed open leaves no exclusive
        // terminal behind; it keeps out programs that do not take the lock (root excepted).
        ::ioctl(fd.get(), TIOCEXCL);
        ::tcflush(fd.get(), TCIOFLUSH);
        return {result::kOk,
                std::make_unique<PosixSerialPort>(std::move(fd), clock_, PerByteReadTimeout(baud))};
    }

  private:
    Clock& clock_;
};

}  // namespace

std::unique_ptr<SerialPortOpener> MakePosixSerialOpener(Clock& clock) {
    return std::make_unique<PosixSerialOpener>(clock);
}

}  // namespace zendrik
