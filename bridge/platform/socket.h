// TCP client sockets (IPv4). Error codes are the platform's own (errno).
#ifndef VESKBRIDGE_PLATFORM_SOCKET_H
#define VESKBRIDGE_PLATFORM_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// True for a dotted-quad IPv4 address, such as "127.0.0.1".
bool isIPv4Address(const std::string &text);

// A new stream socket, or -1.
int socketCreate();

// Connects s to host (dotted quad) and port; false on failure.
bool socketConnect(int s, const std::string &host, uint16_t port);

// Sends all of data; false when the connection failed. Never raises a
// signal for a connection that the peer has closed.
bool socketSendAll(int s, const char *data, std::size_t size);

// Receives at most size bytes: their count, 0 when the peer closed the
// connection, -1 on failure. Interrupted waits are resumed.
long socketReceive(int s, char *buffer, std::size_t size);

void socketClose(int s);

// The error code of the last failed socket call.
int lastSocketError();

} // namespace platform

#endif
