#include "posix_serial_port.h"
#include "serial_port.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vesk {

std::optional<std::string> comDevicePath(const std::string &name)
{
    constexpr std::string_view prefix = "COM";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    const char *first = name.data() + prefix.size();
    const char *last = name.data() + name.size();
    int number = 0;
    auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last || number < 1)
        return std::nullopt;
    const std::string variable = "VESKLINK_COM" + std::to_string(number);
    if (const char *path = std::getenv(variable.c_str()))
        return std::string(path);
    return "/dev/ttyS" + std::to_string(number - 1);
}

namespace {

using Clock = std::chrono::steady_clock;

// One byte on the wire at 38400 baud with start and stop bit: 10 bits.
constexpr auto byteTime = std::chrono::microseconds(261);

class PosixSerialPort final : public SerialPort {
public:
    ~PosixSerialPort() override { close(); }

    bool open(const std::string &name) override
    {
        close();
        const auto path = comDevicePath(name);
        if (!path)
            return false;
        // Non-blocking, so that a write can be bounded by its time-out.
        const int fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        if (!configure(fd)) {
            ::close(fd);
            return false;
        }
        fd_ = fd;
        return true;
    }

    void close() override
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    bool isOpen() const override { return fd_ >= 0; }

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        if (fd_ < 0)
            return false;
        const auto deadline = Clock::now() + std::chrono::milliseconds(writeTimeoutMs(count));
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
            const long left = msUntil(deadline);
            if (left <= 0)
                return false;
            pollfd p{fd_, POLLOUT, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left));
            if (r < 0 && errno != EINTR)
                return false;
            if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return false;
        }
        return drain(deadline);
    }

    long readAvailable(std::uint8_t *bytes, std::size_t count) override
    {
        if (fd_ < 0)
            return -1;
        // With VMIN and VTIME 0 a read returns 0 both for "nothing yet" and
        // after a hang-up; only poll tells the two apart.
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) < 0)
            return errno == EINTR ? 0 : -1;
        if (p.revents & (POLLERR | POLLNVAL))
            return -1;
        if ((p.revents & POLLHUP) && !(p.revents & POLLIN))
            return -1;
        if (count == 0)
            return 0;
        const ssize_t n = ::read(fd_, bytes, count);
        if (n < 0)
            return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
        return static_cast<long>(n);
    }

private:
    static long msUntil(Clock::time_point deadline)
    {
        return static_cast<long>(
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
    }

    static bool configure(int fd)
    {
        termios t{};
        if (::tcgetattr(fd, &t) != 0)
            return false; // not a terminal
        ::cfmakeraw(&t);
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK |
                                            ISTRIP | IGNBRK | BRKINT | INLCR | IGNCR | ICRNL);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CREAD | CLOCAL;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (::cfsetispeed(&t, B38400) != 0 || ::cfsetospeed(&t, B38400) != 0)
            return false;
        if (::tcsetattr(fd, TCSANOW, &t) != 0)
            return false;
        // tcsetattr succeeds when any part was taken: check the parts that matter.
        termios got{};
        if (::tcgetattr(fd, &got) != 0 || ::cfgetospeed(&got) != B38400 ||
            (got.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) != CS8)
            return false;
        // Opening raised DTR and RTS. A pseudo-terminal has no modem lines and
        // refuses the request, which is fine.
        int lines = TIOCM_DTR | TIOCM_RTS;
        (void)::ioctl(fd, TIOCMBIC, &lines);
        // A freshly opened port starts empty, whatever was waiting before.
        (void)::tcflush(fd, TCIOFLUSH);
        return true;
    }

    // write() returns once the bytes are in the driver; the caller's pause
    // must begin when they have left the line, so wait for the output queue.
    bool drain(Clock::time_point deadline) const
    {
        for (;;) {
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0)
                return true;
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            const auto wait = std::min<Clock::duration>(deadline - now, queued * byteTime);
            std::this_thread::sleep_for(wait);
        }
    }

    int fd_ = -1;
};

} // namespace

std::unique_ptr<SerialPort> makeSerialPort()
{
    return std::make_unique<PosixSerialPort>();
}

} // namespace vesk
