// The POSIX serial port against a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <numeric>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "devicelib/port/posix_serial_port.h"
#include "devicelib/port/serial_port.h"
#include "pty_pair.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> readMaster(int fd, std::size_t want, std::chrono::milliseconds within = 2s) {
    std::vector<std::uint8_t> got;
    const auto deadline = Clock::now() + within;
    while (got.size() < want && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        std::array<std::uint8_t, 512> chunk{};
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n <= 0) {
            break;
        }
        got.insert(got.end(), chunk.begin(), chunk.begin() + n);
    }
    return got;
}

std::vector<std::uint8_t> everyByteValue() {
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    return all;
}

class PortOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        pty.useAsCom(7);
        ASSERT_TRUE(port->open("COM7"));
    }
    test::PtyPair pty;
    std::unique_ptr<SerialPort> port = makeSerialPort();
};

TEST_F(PortOnPty, SlaveShowsRawEightNoneOneAt38400WithoutFlowControl) {
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B38400);
    EXPECT_EQ(::cfgetispeed(&t), B38400);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);  // CTS, DSR and DCD do not hold anything up
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
    // Nothing translated, stripped, dropped or marked on the way in or out.
    EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP | IGNPAR | PARMRK | IGNBRK | BRKINT | INLCR | IGNCR | ICRNL), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    // Reads return at once with what has arrived.
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(PortOnPty, EveryByteValuePassesUnchangedBothWays) {
    const auto all = everyByteValue();
    ASSERT_TRUE(port->write(all.data(), all.size()));
    EXPECT_EQ(readMaster(pty.master(), all.size()), all);

    ASSERT_EQ(::write(pty.master(), all.data(), all.size()), 256);
    std::vector<std::uint8_t> got;
    const auto deadline = Clock::now() + 2s;
    while (got.size() < all.size() && Clock::now() < deadline) {
        std::array<std::uint8_t, 300> chunk{};
        const long n = port->readAvailable(chunk.data(), chunk.size());
        ASSERT_GE(n, 0);
        got.insert(got.end(), chunk.begin(), chunk.begin() + n);
    }
    EXPECT_EQ(got, all);
    // No echo came back to the master.
    EXPECT_TRUE(readMaster(pty.master(), 1, 100ms).empty());
}

TEST_F(PortOnPty, ReadTakesWhatHasArrivedWithoutWaiting) {
    std::array<std::uint8_t, 136> buf{};
    const auto start = Clock::now();
    EXPECT_EQ(port->readAvailable(buf.data(), buf.size()), 0);
    EXPECT_LT(Clock::now() - start, 500ms);  // catches a blocking read only

    const std::array<std::uint8_t, 10> ten{1, 2, 3, 0, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(::write(pty.master(), ten.data(), ten.size()), 10);
    pollfd arrived{pty.slave(), POLLIN, 0};
    ASSERT_EQ(::poll(&arrived, 1, 2000), 1);
    EXPECT_EQ(port->readAvailable(buf.data(), 4), 4);  // at most the count asked for
    EXPECT_EQ(port->readAvailable(buf.data(), buf.size()), 6);
    EXPECT_EQ(buf[0], 5);
}

TEST_F(PortOnPty, WriteGivesUpAfterItsTimeOutWhenNothingDrains) {
    // Fill the line through a second descriptor until the kernel takes no more.
    const int fill = ::open(pty.path().c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
    ASSERT_GE(fill, 0);
    std::array<std::uint8_t, 4096> junk{};
    // The kernel moves bytes on to the master's side in the background: fill
    // again until a pause frees no room.
    for (bool tookMore = true; tookMore;) {
        tookMore = false;
        while (::write(fill, junk.data(), junk.size()) > 0) {
            tookMore = true;
        }
        std::this_thread::sleep_for(100ms);
    }
    ::close(fill);

    const std::uint8_t one = 0x55;
    const auto start = Clock::now();
    EXPECT_FALSE(port->write(&one, 1));
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(writeTimeoutMs(1)));
    EXPECT_LT(took, 10s);
}

TEST_F(PortOnPty, HangUpFailsReadsAndWrites) {
    pty.closeMaster();
    std::array<std::uint8_t, 136> buf{};
    EXPECT_EQ(port->readAvailable(buf.data(), buf.size()), -1);
    const auto start = Clock::now();
    EXPECT_FALSE(port->write(buf.data(), buf.size()));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(writeTimeoutMs(buf.size())));
}

TEST_F(PortOnPty, CloseAndReopen) {
    port->close();
    EXPECT_FALSE(port->isOpen());
    std::uint8_t b = 0;
    EXPECT_FALSE(port->write(&b, 1));
    EXPECT_EQ(port->readAvailable(&b, 1), -1);
    EXPECT_TRUE(port->open("COM7"));
    EXPECT_TRUE(port->isOpen());
}

TEST(ComDevicePath, NameToDevice) {
    ::unsetenv("VESKLINK_COM3");
    ::setenv("VESKLINK_COM12", "/tmp/bus12", 1);
    ::setenv("VESKLINK_COM0", "/tmp/bus0", 1);
    const struct {
        const char* name;
        const char* path;  // null: no device
    } cases[] = {
        {"COM1", "/dev/ttyS0"}, {"COM3", "/dev/ttyS2"}, {"COM12", "/tmp/bus12"},
        {"COM0", nullptr},      {"COM-1", nullptr},     {"COM", nullptr},
        {"COM1x", nullptr},     {"LPT1", nullptr},      {"com1", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = comDevicePath(c.name);
        if (c.path == nullptr) {
            EXPECT_FALSE(path.has_value());
        } else {
            ASSERT_TRUE(path.has_value());
            EXPECT_EQ(*path, c.path);
        }
    }
}

TEST(PortOpen, FailsWithoutATerminalBehindTheName) {
    ::setenv("VESKLINK_COM40", "/nonexistent/tty", 1);
    ::setenv("VESKLINK_COM41", "/dev/null", 1);  // exists, but no terminal
    test::PtyPair pty;
    ::setenv("VESKLINK_COM0", pty.path().c_str(), 1);  // numbers below 1 open nothing
    for (const char* name : {"COM40", "COM41", "COM0"}) {
        SCOPED_TRACE(name);
        auto port = makeSerialPort();
        EXPECT_FALSE(port->open(name));
        EXPECT_FALSE(port->isOpen());
    }
}

}  // namespace
}  // namespace vesk
