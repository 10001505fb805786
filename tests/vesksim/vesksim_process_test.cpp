// vesksim's commands as processes: the demo with the real veskbridge, run
// hosting the station for a child, record and race on 127.0.0.1, and the
// bad inputs. Every wait is bounded.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "tcp.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kHello = "{\"type\":10}";
const std::string kFixtures = VESKSIM_FIXTURES;

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return done();
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// vesksim (or another program) with its output collected.
class Program {
 public:
  explicit Program(std::vector<std::string> argv, const vesksim::Environment& env = {}) {
    std::string error;
    started_ = child_.start(
        argv, env,
        [this](const std::string& line) {
          std::lock_guard lock(mutex_);
          output_ += line + "\n";
        },
        error);
    EXPECT_TRUE(started_) << argv[0] << ": " << error;
  }
  static Program vesksim(std::vector<std::string> args, const vesksim::Environment& env = {}) {
    args.insert(args.begin(), VESKSIM_PATH);
    return Program(args, env);
  }
  Program(Program&&) = delete;

  std::string output() const {
    std::lock_guard lock(mutex_);
    return output_;
  }
  bool waitFor(const std::string& text, std::chrono::milliseconds limit) const {
    return eventually([&] { return output().find(text) != std::string::npos; }, limit);
  }
  std::optional<int> exit(std::chrono::milliseconds limit) { return child_.waitFor(limit); }
  pid_t pid() const { return child_.pid(); }

 private:
  vesksim::ChildProcess child_;
  bool started_ = false;
  mutable std::mutex mutex_;
  std::string output_;
};

// The lines that end the output, one per display: "display N: ...".
std::map<std::string, std::string> lastDisplayLines(const std::string& output) {
  std::map<std::string, std::string> last;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    static const std::regex row("^display ([0-9]+): (.*)$");
    std::smatch m;
    if (std::regex_match(line, m, row)) last[m[1]] = m[2];
  }
  return last;
}

std::string tempPath(const std::string& name) {
  return (fs::temp_directory_path() / ("vesksim-test-" + std::to_string(::getpid()) + "-" + name)).string();
}

bool processExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

// A port on 127.0.0.1 that nobody uses right now.
std::uint16_t freePort() {
  int fd = vesksim::tcp::listenLocal(0);
  const std::uint16_t port = vesksim::tcp::localPort(fd);
  vesksim::tcp::closeSocket(fd);
  return port;
}

// Connects as the bridge would: the hello, then everything until the server closes.
std::string playBridge(std::uint16_t port, std::chrono::milliseconds limit) {
  int fd = -1;
  eventually([&] { return (fd = vesksim::tcp::connectTo("127.0.0.1", port)) >= 0; }, 5s);
  EXPECT_GE(fd, 0);
  if (fd < 0) return "";
  EXPECT_TRUE(vesksim::tcp::sendAll(fd, kHello));
  std::string got;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (!vesksim::tcp::readable(fd, 100ms)) continue;
    char buffer[1024];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  vesksim::tcp::closeSocket(fd);
  return got;
}

TEST(Demo, AShortRaceEndsWithTheDisplaysWhereTheRaceLeftThem) {
  auto demo = Program::vesksim({"demo", "--race", kFixtures + "/short.race", "--speed", "2", "--bridge",
                                VESKBRIDGE_PATH});
  const auto status = demo.exit(60s);
  ASSERT_EQ(status, 0) << demo.output();
  const std::string out = demo.output();
  const auto last = lastDisplayLines(out);
  ASSERT_EQ(last.size(), 3u) << out;
  // The display event (code 1) showed flag 2 on every display; the clear of
  // 2001 brought its results back over background code 1 (picture 11).
  EXPECT_EQ(last.at("2001").rfind("1:01.50 | P1 | 1:01.50 | +0.00 on 11, rpm -,", 0), 0u) << out;
  EXPECT_EQ(last.at("2002").rfind("flag 2 green, rpm -,", 0), 0u) << out;
  EXPECT_EQ(last.at("2003").rfind("flag 2 green, rpm 9000,", 0), 0u) << out;
  EXPECT_NE(out.find("veskbridge| Info z vesk2: 1 0 1"), std::string::npos) << out;
  // 2001: results, flag, clear's return; 2002: results, blue, green; 2003: limit, yellow, green.
  const std::regex figures("frames received: 9, acknowledged: 9, lost: 0");
  EXPECT_TRUE(std::regex_search(out, figures)) << out;
  EXPECT_NE(out.find("server message to first frame: median "), std::string::npos) << out;
}

TEST(Run, AMissedAcknowledgementLeadsToReconnectAndTheSendIsRepeated) {
  const std::uint16_t port = freePort();
  auto race = Program::vesksim({"race", kFixtures + "/replay.race", "--port", std::to_string(port)});
  ASSERT_TRUE(race.waitFor("waiting for the client", 5s)) << race.output();
  auto run = Program::vesksim({"run", "--display", "1001,1002", "--miss", "1001", "--panel-event", "2", "--view", "--",
                               VESKBRIDGE_PATH},
                              {{"VESKBRIDGE_SERVER", "127.0.0.1:" + std::to_string(port)}});
  ASSERT_TRUE(run.waitFor("display 1001: flag 3 yellow, rpm -, last message", 10s)) << run.output();
  const auto shown = std::chrono::steady_clock::now();
  ASSERT_TRUE(run.waitFor("veskbridge| reconnect 1001 1001|*|*|3", 20s)) << run.output();
  EXPECT_GE(std::chrono::steady_clock::now() - shown, 8s);
  // The panel's event meanwhile: code 55 for no display in particular.
  EXPECT_NE(run.output().find("veskbridge| Info z vesk2: 55 0 1"), std::string::npos) << run.output();
  // The repeat: the same flag, a second frame, and this time acknowledged.
  ASSERT_TRUE(run.waitFor("display 1001: flag 3 yellow, rpm -, last message", 5s));
  ASSERT_TRUE(eventually([&] { return lastDisplayLines(run.output())["1001"].find(", 2 frames,") != std::string::npos; }, 5s))
      << run.output();
  EXPECT_EQ(race.exit(5s), 0) << race.output();
  ::kill(run.pid(), SIGTERM);
  EXPECT_EQ(run.exit(10s), 128 + SIGTERM) << run.output();  // the bridge's own end
  // The missed frame counts as lost in the simulator's records, the repeat does not.
  EXPECT_TRUE(std::regex_search(lastDisplayLines(run.output())["1001"], std::regex("2 frames, [0-9]+ acks, 1 lost$")))
      << run.output();
}

TEST(Run, TheProgramGetsTheStationsEnvironmentAndItsExitStatusIsVesksims) {
  auto run = Program::vesksim({"run", "--display", "1", "--bus", "3:4001", "--com", "2", "--", "/bin/sh", "-c",
                               "test -d \"$UMOCKDEV_DIR/dev/bus/usb\" && test -c \"$VESKLINK_COM2\" && "
                               "echo \"preload=$LD_PRELOAD\" && exit 7"});
  EXPECT_EQ(run.exit(20s), 7) << run.output();
  EXPECT_NE(run.output().find("preload=libumockdev-preload.so.0"), std::string::npos) << run.output();
}

TEST(Run, BusStationsTakeFramesOnTheComPortNamedForThem) {
  auto run = Program::vesksim({"run", "--bus", "3:4001", "--com", "2", "--view", "--", BUS_PROBE_PATH});
  EXPECT_EQ(run.exit(20s), 0) << run.output();
  EXPECT_NE(run.output().find("display 4001@bus3: flag 3 yellow, rpm -, last message "), std::string::npos)
      << run.output();
}

TEST(Run, NoProgramOutlivesVesksim) {
  // SIGTERM is passed on and waited for; SIGKILL leaves the child to its
  // parent-death signal.
  for (const int sig : {SIGTERM, SIGINT, SIGKILL}) {
    const std::string pidFile = tempPath("child-pid");
    fs::remove(pidFile);
    auto run = Program::vesksim({"run", "--", "/bin/sh", "-c", "echo $$ > " + pidFile + "; exec sleep 30"});
    std::string text;
    ASSERT_TRUE(eventually([&] { return std::ifstream(pidFile) >> text && !text.empty(); }, 10s)) << run.output();
    const pid_t child = std::stoi(text);
    ::kill(run.pid(), sig);
    const auto status = run.exit(10s);
    ASSERT_TRUE(status) << sig;
    if (sig != SIGKILL) {
      EXPECT_EQ(*status, 128 + sig);
    }
    EXPECT_TRUE(eventually([&] { return !processExists(child); }, 5s)) << "signal " << sig;
    fs::remove(pidFile);
  }
}

TEST(RecordAndRace, AReplayCarriesTheSameBytesInTheSameOrder) {
  // The real race server, played by the test.
  int server = vesksim::tcp::listenLocal(0);
  ASSERT_GE(server, 0);
  const std::uint16_t serverPort = vesksim::tcp::localPort(server);
  const std::uint16_t proxyPort = freePort();
  const std::string file = tempPath("recorded.race");
  auto record = Program::vesksim(
      {"record", "--listen", std::to_string(proxyPort), "--to", "127.0.0.1:" + std::to_string(serverPort), file});
  ASSERT_TRUE(record.waitFor("waiting for the bridge", 5s)) << record.output();

  const std::vector<std::string> pieces = {"@initDevices>1001|*|*|1002", std::string("@sendFlag>ALL|*|*|3\r\n\0x", 24),
                                           " \\ \xC5\x81\xC3\xB3" "d\xC5\xBA |*|*|", "@endRace"};
  std::string expected;
  for (const auto& p : pieces) expected += p;
  std::string hello;
  std::thread serverSide([&] {
    ASSERT_TRUE(vesksim::tcp::readable(server, 10s));
    int client = vesksim::tcp::acceptClient(server);
    char buffer[64];
    ASSERT_TRUE(vesksim::tcp::readable(client, 5s));
    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    hello.assign(buffer, static_cast<std::size_t>(std::max<ssize_t>(0, n)));
    for (const auto& p : pieces) {
      std::this_thread::sleep_for(150ms);
      vesksim::tcp::sendAll(client, p);
    }
    std::this_thread::sleep_for(100ms);
    vesksim::tcp::closeSocket(client);
  });
  const std::string throughProxy = playBridge(proxyPort, 10s);
  serverSide.join();
  vesksim::tcp::closeSocket(server);
  EXPECT_EQ(hello, kHello);
  EXPECT_EQ(throughProxy, expected);
  ASSERT_EQ(record.exit(5s), 0) << record.output();

  const std::uint16_t racePort = freePort();
  auto race = Program::vesksim({"race", file, "--port", std::to_string(racePort), "--speed", "4"});
  ASSERT_TRUE(race.waitFor("waiting for the client", 5s)) << race.output();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(playBridge(racePort, 10s), expected);
  // Four pieces 150 ms apart, played four times as fast.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(race.exit(5s), 0) << race.output();
  fs::remove(file);
}

TEST(Race, AWrongHelloIsReportedAndAClientThatLeavesIsWaitedFor) {
  const std::string file = tempPath("three.race");
  std::ofstream(file) << "0 @initDevices>1\n0.5 @sendFlag>ALL|*|*|1\n0.6 @endRace\n";
  const std::uint16_t port = freePort();
  auto race = Program::vesksim({"race", file, "--port", std::to_string(port)});
  ASSERT_TRUE(race.waitFor("waiting for the client", 5s)) << race.output();

  int fd = vesksim::tcp::connectTo("127.0.0.1", port);
  ASSERT_GE(fd, 0);
  vesksim::tcp::sendAll(fd, "{\"type\":11}");
  ASSERT_TRUE(race.waitFor("wrong hello from the client: \"{\"type\":11}\"", 5s)) << race.output();
  EXPECT_FALSE(vesksim::tcp::readable(fd, 200ms) && ::recv(fd, nullptr, 0, MSG_PEEK) > 0);  // nothing sent
  vesksim::tcp::closeSocket(fd);

  // A good client that leaves after the first message...
  fd = vesksim::tcp::connectTo("127.0.0.1", port);
  vesksim::tcp::sendAll(fd, kHello);
  std::string first;
  while (first.size() < 14 && vesksim::tcp::readable(fd, 5s)) {
    char buffer[64];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    first.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(first, "@initDevices>1");
  vesksim::tcp::closeSocket(fd);
  ASSERT_TRUE(race.waitFor("the client went away after 1 of 3 messages; waiting for it to come back", 5s))
      << race.output();
  // ...and comes back for the rest.
  EXPECT_EQ(playBridge(port, 10s), "@sendFlag>ALL|*|*|1@endRace");
  EXPECT_EQ(race.exit(5s), 0) << race.output();
  EXPECT_NE(race.output().find("client back at message 2 of 3"), std::string::npos) << race.output();
  fs::remove(file);
}

TEST(BadInput, OneLineNamingTheFaultAndANonZeroStatus) {
  const std::string bad = tempPath("bad.race");
  std::ofstream(bad) << "# fine\n0 @initDevices>1\n0.5 @sendFlag>ALL|*|*|1\\q\n";
  const std::string badSim = tempPath("badsim.race");
  std::ofstream(badSim) << "0 @initDevices>1\n#!sim --late 1:soon\n";
  const std::string dying = tempPath("dying-bridge");
  std::ofstream(dying) << "#!/bin/sh\nexec timeout -s KILL 2 " << VESKBRIDGE_PATH << "\n";
  fs::permissions(dying, fs::perms::owner_all);
  int held = vesksim::tcp::listenLocal(0);
  const std::string heldPort = std::to_string(vesksim::tcp::localPort(held));

  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"race", "/nonexistent/race"}, 1, "vesksim race: /nonexistent/race: No such file or directory"},
      {{"race", bad}, 1, "vesksim race: " + bad + ":3: unknown escape \\q"},
      {{"race", kFixtures + "/short.race", "--port", heldPort}, 1, "vesksim race: port " + heldPort + " is in use"},
      {{"demo", "--race", bad}, 1, "vesksim demo: " + bad + ":3: unknown escape \\q"},
      {{"demo", "--race", badSim}, 1, "vesksim demo: " + badSim + ":2: --late 1:soon: expected N:MILLISECONDS"},
      {{"demo", "--port", heldPort}, 1, "vesksim demo: port " + heldPort + " is in use"},
      {{"demo", "--race", kFixtures + "/short.race", "--speed", "0.2", "--bridge", dying},
       1,
       "vesksim demo: veskbridge ended during the race (exit status 137)"},
      {{"run", "--display", "1", "--", "/nonexistent/program"}, 127,
       "vesksim run: cannot start /nonexistent/program: No such file or directory"},
      {{"run", "--display", "1"}, 2, "vesksim run: no PROGRAM after --"},
      {{"record", "--listen", "0", "--to", "127.0.0.1:1", "x"}, 2, "vesksim record: --listen 0: expected a port"},
  };
  for (const auto& c : cases) {
    auto p = Program::vesksim(c.args);
    EXPECT_EQ(p.exit(30s), c.status) << c.args[0] << " " << c.args[1] << "\n" << p.output();
    const std::string out = p.output();
    // The complaint is one line, the last one.
    const std::size_t at = out.rfind(c.message);
    EXPECT_NE(at, std::string::npos) << "expected: " << c.message << "\ngot:\n" << out;
    if (at != std::string::npos) {
      EXPECT_EQ(out.find('\n', at), out.size() - 1) << out;
    }
  }
  vesksim::tcp::closeSocket(held);
  fs::remove(bad);
  fs::remove(badSim);
  fs::remove(dying);
}

}  // namespace
