// A recording proxy between a real race server and the bridge: it listens
// on 127.0.0.1, connects to the server when the bridge comes, passes every
// byte on unchanged in both directions, and writes what the server sends,
// with its time from the connection to the server, to a race file. One
// connection is recorded; it ends when either side closes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vesksim {

struct RecordOptions {
  std::uint16_t listenPort = 0;
  std::string serverHost;
  std::uint16_t serverPort = 0;
  std::string file;
};

using Report = std::function<void(const std::string&)>;
// Returns the exit status; progress goes to `log`, what stops it to `fail`.
int runRecorder(const RecordOptions& options, const Report& log, const Report& fail);

}  // namespace vesksim
