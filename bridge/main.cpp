// veskbridge: entry, main loop, the race server connection thread and the
// device event callbacks.
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iostream>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "sender.h"
#include "server_address.h"
#include "vesk.h"

// The one-slot mailbox: while isMSG is false the connection thread owns
// socketMSG; storing true (release) hands it, message inside, to the main
// loop, which gives it back by storing false (release) once the message is
// processed. Both sides load isMSG with acquire.
std::string socketMSG;
std::atomic<bool> isMSG{false};

namespace {

ServerAddress server;

int now() { return static_cast<int>(std::time(nullptr)); }

int32_t VCallback1(int32_t flag, int32_t addr, int32_t c) {
  onDisplayEvent(flag, addr, c, now());
  return 0;
}

int32_t VCallback2(int32_t addr, int32_t nr) {
  onAcknowledgement(addr, nr, now());
  return 0;
}

constexpr std::size_t receiveLimit = 2000;
constexpr auto reconnectPause = std::chrono::seconds(2);

// One connection: socket, hello, then receiving until the server closes it
// or a receive fails. Returns when the connection is over.
void serveConnection(char *serverReply) {
  const char message[] = "{\"type\":10}";
  const int s = platform::socketCreate();
  if (s < 0) {
    std::printf("Could not create socket : %d\n", platform::lastSocketError());
    return;
  }
  std::printf("Socket created.\n");
  std::printf("%s", message);
  std::fflush(stdout);
  if (!platform::socketConnect(s, server.host, server.port)) {
    std::printf("connect error\n");
    platform::socketClose(s);
    return;
  }
  std::printf("Connected\n");
  if (!platform::socketSendAll(s, message, sizeof message - 1)) {
    std::printf("Send failed\n");
    platform::socketClose(s);
    return;
  }
  std::printf("Data Send\n");
  std::fflush(stdout);
  for (;;) {
    // Sleeps until the main loop hands the slot back.
    isMSG.wait(true, std::memory_order_acquire);
    const long recv_size = platform::socketReceive(s, serverReply, receiveLimit);
    if (recv_size < 0) {
      std::printf("recv failed\n");
      break;
    }
    if (recv_size == 0) {
      std::printf("server closed the connection\n");
      break;
    }
    serverReply[recv_size] = '\0';
    socketMSG = serverReply; // up to the first zero byte
    std::cout << "\nMSG " << socketMSG << std::endl;
    isMSG.store(true, std::memory_order_release);
  }
  std::fflush(stdout);
  platform::socketClose(s);
}

// Connects again 2 s after every lost or failed connection, so that a race
// server restarted during an event finds the bridge, displays unchanged.
void connectionThread() {
  try {
    std::printf("\n3 Initialising Winsock...");
    std::printf("Initialised.\n");
    static char serverReply[receiveLimit + 1];
    for (;;) {
      serveConnection(serverReply);
      std::fflush(stdout);
      std::this_thread::sleep_for(reconnectPause);
    }
  } catch (const std::exception &e) {
    std::printf("EXCEPTION in thread: %s\n", e.what());
    std::fflush(stdout);
  }
}

void flushOutput() {
  std::cout.flush();
  std::fflush(stdout);
}

} // namespace

int main(int, char **) {
  std::setlocale(LC_ALL, "");

  const char *fromEnvironment = std::getenv("VESKBRIDGE_SERVER");
  const std::string serverText = fromEnvironment ? fromEnvironment : VESKBRIDGE_DEFAULT_SERVER;
  const auto address = parseServerAddress(serverText);
  if (!address) {
    std::cout << (fromEnvironment ? "VESKBRIDGE_SERVER" : "built-in server address")
              << " is not a.b.c.d or a.b.c.d:port: \"" << serverText << "\"" << std::endl;
    return 2;
  }
  server = *address;

  const std::string bindError = VESK_SDKInit();
  if (!bindError.empty()) {
    std::cout << bindError << std::endl;
    return 2;
  }
  VESKC = VESK_InitDevice();

  std::string command;
  uint8_t *structVESK = new uint8_t[1000]();

  std::thread(connectionThread).detach();

  if (VESKC == 0) {
    std::cout << "Blad polaczenia z VESK";
    flushOutput();
    // The connection thread is still running: leave without running static
    // destructors under its feet.
    std::_Exit(-1);
  }

  for (;;) {
    const int actTime = now();
    if (isMSG.load(std::memory_order_acquire)) {
      command = socketMSG;
      parseMsg(command, actTime);
      socketMSG.clear();
      isMSG.store(false, std::memory_order_release);
      isMSG.notify_one();
    }
    for (int index = 0; index < TrueNumVESKD; ++index)
      VESKD[index].returnAfterChangeResults(actTime);
    TVESK_readDataWithCallback(VESKC, structVESK, VCallback1, VCallback2);
    flushOutput();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
