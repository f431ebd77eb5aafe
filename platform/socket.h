// A thin TCP socket layer over POSIX for the HTTP client and the upload transfer.
//
// Every socket is non-blocking, close-on-exec and has Nagle's algorithm switched off (small
// writes on a kept-alive connection would otherwise wait for delayed acknowledgements).
// Every wait goes through WaitFd, so the calling thread's cancel event ends it at once.
// Sends never raise SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "platform/event.h"

namespace platform {

// True for four groups of decimal digits separated by dots, each 0..255.
bool IsDottedIPv4(const char* host);

// Resolves `host` to an IPv4 address in network byte order. A dotted address is converted
// without any lookup; otherwise the system resolver's first IPv4 answer is taken. The system
// lookup cannot be interrupted, so it runs on a thread of its own: the caller waits at most
// kResolveTimeoutMs and gives up at once on its thread's stop or abort, leaving the lookup
// to end by itself.
inline constexpr int kResolveTimeoutMs = 10000;
bool ResolveIPv4(const char* host, std::uint32_t& addr);
// Sets the lookup used by ResolveIPv4 for names (tests: a slow resolver); null restores it.
using ResolverFn = bool (*)(const char* host, std::uint32_t& addr);
void SetResolverForTesting(ResolverFn fn);

enum class SocketStatus { Ok, Timeout, Cancelled, Closed, Error };

// Opens a TCP connection to `addr` (network byte order) and `port`, waiting at most
// `timeoutMs` for it to be established. Returns the descriptor, or -1 with `status` telling
// why (Timeout, Cancelled or Error).
int SocketConnect(std::uint32_t addr, std::uint16_t port, int timeoutMs,
                  SocketStatus* status = nullptr);

// Sends all `len` bytes, waiting up to `timeoutMs` each time the peer's window is full.
SocketStatus SocketSendAll(int fd, const void* data, std::size_t len, int timeoutMs);

// Waits until `fd` is readable (or hung up / in error): Ok, Timeout or Cancelled.
SocketStatus SocketWaitReadable(int fd, int timeoutMs);

// One receive of at most `cap` bytes without waiting: the byte count (> 0), 0 when the
// peer has closed, -1 on an error, -2 when nothing is there yet.
ssize_t SocketRecv(int fd, void* buf, std::size_t cap);

// Shuts the socket down in both directions and closes it; -1 is ignored.
void SocketClose(int fd);

// Applies the options every socket of the program carries (non-blocking, close-on-exec,
// TCP_NODELAY where it applies, no SIGPIPE on platforms that need a socket option).
void PrepareSocket(int fd);

} // namespace platform
