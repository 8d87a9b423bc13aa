#pragma once
// Blocking IPv4 TCP client sockets. A socket is an int handle, -1 for none.
// Writes never raise SIGPIPE: sends pass MSG_NOSIGNAL, and the first socket
// made sets SIGPIPE to be ignored process-wide, because a TLS library writing
// on the same handle does not pass that flag.
#include <cstddef>
#include <cstdint>

namespace platform {

// The IPv4 address of `name` in network byte order, looked up as a host name
// (a thread-safe look-up restricted to IPv4); 0 when it cannot be resolved.
uint32_t ResolveIPv4(const char* name);

// A connected stream socket to `address` (network order) and `port` (host
// order), sending small writes at once; -1 when no socket could be made or
// the connect failed.
int SocketConnect(uint32_t address, uint16_t port);

// The bytes sent, or -1.
int SocketSend(int socket, const void* data, size_t length);
// The bytes received (left in the stream when `peek`), 0 at an orderly end of
// stream, -1 on failure. An interrupted wait is resumed.
int SocketReceive(int socket, void* buffer, size_t length, bool peek);
// The bytes that can be read without waiting; -1 on failure.
int SocketPending(int socket);

// Ends both directions without releasing the handle: a thread blocked in a
// receive on the socket wakes and sees the end of the stream, and the number
// cannot be reused by another connection while a reader may still hold it.
void SocketShutdown(int socket);
// Releases the handle.
void SocketClose(int socket);

} // namespace platform
