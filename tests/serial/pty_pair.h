// A real pseudo-terminal pair for the serial tests: the library opens the
// slave side by path through VESKLINK_COM<n>, the test (or a simulated bus
// station) works the master side.
#pragma once

#include <pty.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace vesk::test {

class PtyPair {
public:
    PtyPair() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        path_ = name;
    }
    ~PtyPair() {
        closeMaster();
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string& path() const { return path_; }

    // Makes "COM<n>" name this pair's slave side.
    void useAsCom(int n) const { ::setenv(("VESKLINK_COM" + std::to_string(n)).c_str(), path_.c_str(), 1); }

    // Pulls the "adapter": the slave side sees a hang-up.
    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
        }
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace vesk::test
