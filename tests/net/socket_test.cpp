// The socket layer: address forms, connect failures, sends to a closed peer without
// SIGPIPE, and waits that the thread's cancel event ends.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "platform/event.h"
#include "platform/socket.h"
#include "script_server.h"

namespace {

std::uint32_t Loopback() {
    return htonl(INADDR_LOOPBACK);
}

TEST(Socket, DottedAddresses) {
    EXPECT_TRUE(platform::IsDottedIPv4("127.0.0.1"));
    EXPECT_TRUE(platform::IsDottedIPv4("255.255.255.255"));
    EXPECT_FALSE(platform::IsDottedIPv4("256.1.1.1"));
    EXPECT_FALSE(platform::IsDottedIPv4("1.2.3"));
    EXPECT_FALSE(platform::IsDottedIPv4("1.2.3.4.5"));
    EXPECT_FALSE(platform::IsDottedIPv4("1..3.4"));
    EXPECT_FALSE(platform::IsDottedIPv4("0001.2.3.4"));
    EXPECT_FALSE(platform::IsDottedIPv4("a.b.c.d"));
    EXPECT_FALSE(platform::IsDottedIPv4(""));
    EXPECT_FALSE(platform::IsDottedIPv4(nullptr));
    std::uint32_t a = 0;
    ASSERT_TRUE(platform::ResolveIPv4("127.0.0.1", a));
    EXPECT_EQ(a, Loopback());
    ASSERT_TRUE(platform::ResolveIPv4("localhost", a));
    EXPECT_EQ(a, Loopback());
    EXPECT_FALSE(platform::ResolveIPv4("", a));
}

TEST(Socket, RefusedConnectFails) {
    int port;
    {
        ScriptServer srv;
        port = srv.Port();
    }
    platform::SocketStatus st = platform::SocketStatus::Ok;
    EXPECT_EQ(platform::SocketConnect(Loopback(), static_cast<std::uint16_t>(port), 1000, &st), -1);
    EXPECT_EQ(st, platform::SocketStatus::Error);
}

TEST(Socket, SendToClosedPeerDoesNotRaiseSignal) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) { c.Close(); });
    int fd = platform::SocketConnect(Loopback(), static_cast<std::uint16_t>(srv.Port()), 1000);
    ASSERT_GE(fd, 0);
    char b;
    ASSERT_EQ(platform::SocketWaitReadable(fd, 2000), platform::SocketStatus::Ok);
    EXPECT_EQ(platform::SocketRecv(fd, &b, 1), 0); // the peer closed
    std::string big(1 << 20, 'x');
    auto st = platform::SocketSendAll(fd, big.data(), big.size(), 1000);
    EXPECT_NE(st, platform::SocketStatus::Ok); // and the process is still alive
    platform::SocketClose(fd);
    EXPECT_EQ(platform::SocketSendAll(-1, "x", 1, 10), platform::SocketStatus::Error);
    EXPECT_EQ(platform::SocketRecv(-1, &b, 1), -1);
}

TEST(Socket, CancelEventEndsWait) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) { c.WaitClosed(5000); });
    int fd = platform::SocketConnect(Loopback(), static_cast<std::uint16_t>(srv.Port()), 1000);
    ASSERT_GE(fd, 0);
    char b;
    EXPECT_EQ(platform::SocketRecv(fd, &b, 1), -2); // nothing there yet, no waiting
    auto stop = platform::EventHandle::Create();
    platform::SocketStatus st = platform::SocketStatus::Ok;
    std::chrono::steady_clock::duration took{};
    std::thread t([&] {
        platform::SetThreadCancelEvent(stop);
        auto t0 = std::chrono::steady_clock::now();
        st = platform::SocketWaitReadable(fd, 10000);
        took = std::chrono::steady_clock::now() - t0;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.Set();
    t.join();
    EXPECT_EQ(st, platform::SocketStatus::Cancelled);
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_EQ(platform::SocketWaitReadable(fd, 20), platform::SocketStatus::Timeout);
    platform::SocketClose(fd);
}

} // namespace
