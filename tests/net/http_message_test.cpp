// Header lines of a message and the decoding of chunked bodies.
#include <gtest/gtest.h>

#include "net/http_chunked.h"
#include "net/http_client.h"
#include "net/http_message.h"

namespace {

TEST(HttpMessageHeader, GetValue) {
    HttpMessage m;
    m.header = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nset-cookie::  b=2\r\nX-Last: no break";
    EXPECT_EQ(m.GetHeaderValue("Set-Cookie:", 0).value_or("-"), "a=1");
    EXPECT_EQ(m.GetHeaderValue("SET-COOKIE:", 1).value_or("-"), "b=2");
    EXPECT_FALSE(m.GetHeaderValue("Set-Cookie:", 2));
    EXPECT_FALSE(m.GetHeaderValue("X-Last:")); // a line without its line feed does not count
    EXPECT_EQ(m.GetHeaderValue("HTTP/1.1").value_or("-"), "200 OK");
    EXPECT_FALSE(m.GetHeaderValue(""));
}

TEST(HttpMessageHeader, AddAndRemoveLines) {
    HttpMessage m;
    m.AddHeaderLine("X: 1"); // nothing for an empty header
    EXPECT_EQ(m.header, "");
    m.header = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    m.AddHeaderLine("A: 1");
    m.AddHeaderLine("B: 2\r\n");
    EXPECT_EQ(m.header, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nA: 1\r\nB: 2\r\n\r\n");
    m.RemoveHeaderLine("transfer-encoding: ");
    EXPECT_EQ(m.header, "HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\n\r\n");
    m.header = "HTTP/1.1 200 OK\nA: 1\n\n";
    m.AddHeaderLine("C: 3");
    EXPECT_EQ(m.header, "HTTP/1.1 200 OK\nA: 1\nC: 3\r\n\n");
}

TEST(HttpMessageHeader, Status) {
    EXPECT_EQ(ParseStatus("HTTP/1.1 404 Not Found\r\n"), 404);
    EXPECT_EQ(ParseStatus("HTTP/1.1 20"), 0);
    EXPECT_EQ(ParseStatus(""), 0);
    EXPECT_EQ(ParseStatus("HTTP/1.1 2x0 OK"), 2);
}

std::string Decode(const std::string& raw, std::string* header = nullptr) {
    HttpClient client;
    HttpMessage m;
    m.header = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    m.SetBody(raw);
    EXPECT_EQ(DecodeChunkedBody(2, client, 0, nullptr, &m), 0);
    if (header)
        *header = m.header;
    return std::string(m.Body());
}

TEST(DecodeChunkedBody, Decodes) {
    std::string header;
    EXPECT_EQ(Decode("5\r\nhello\r\n6;x=y\r\n world\r\n0\r\n\r\n", &header), "hello world");
    EXPECT_EQ(header, "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n");
    EXPECT_EQ(Decode("0\r\n\r\n", &header), "");
    EXPECT_EQ(header, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(Decode("A\r\n0123456789\r\n"), "0123456789");
    // A chunk reaching past the end keeps what is there.
    EXPECT_EQ(Decode("10\r\nshort"), "short");
}

TEST(DecodeChunkedBody, UndecodableBodyStaysAsItCame) {
    std::string header;
    EXPECT_EQ(Decode("123456789abc\r\nxyz", &header), "123456789abc\r\nxyz");
    EXPECT_NE(header.find("Transfer-Encoding: chunked"), std::string::npos);
    EXPECT_EQ(Decode("", &header), "");
}

TEST(DecodeChunkedBody, OnlyForChunkedResponsesAndReceiveEvents) {
    HttpClient client;
    HttpMessage m;
    m.header = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n";
    m.SetBody("3\r\nabc\r\n");
    DecodeChunkedBody(2, client, 0, nullptr, &m);
    EXPECT_EQ(m.Body(), "3\r\nabc\r\n");
    m.header = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    DecodeChunkedBody(1, client, 0, nullptr, &m);
    EXPECT_EQ(m.Body(), "3\r\nabc\r\n");
    EXPECT_EQ(DecodeChunkedBody(2, client, 0, nullptr, nullptr), 0);
}

TEST(ChunkTracker, FindsEndByteByByte) {
    const std::string body = "4\r\nwxyz\r\n2\r\nab\r\n0\r\n\r\nHTTP/1.1";
    ChunkTracker t;
    std::size_t taken = 0;
    for (std::size_t i = 0; i < body.size() && !t.Complete(); ++i)
        taken += t.Feed(body.data() + i, 1);
    EXPECT_TRUE(t.Complete());
    // The line break after the last chunk is not waited for; it is dropped in front of
    // the next response instead.
    EXPECT_EQ(taken, body.size() - 10);
    ChunkTracker whole;
    EXPECT_EQ(whole.Feed(body.data(), body.size()), body.size() - 8);
}

TEST(ChunkTracker, SizeLineWithoutBreakGivesUp) {
    ChunkTracker t;
    std::string s = "123456789";
    EXPECT_EQ(t.Feed(s.data(), s.size()), 9u);
    EXPECT_FALSE(t.GaveUp());
    EXPECT_EQ(t.Feed("0", 1), 1u);
    EXPECT_TRUE(t.GaveUp());
    EXPECT_FALSE(t.Complete());
    EXPECT_EQ(ParseChunkSize("ffffffffffffffffffff", 20), 0xffffffffffffffffull);
    EXPECT_EQ(ParseChunkSize(" 1F;x", 5), 31u);
    EXPECT_EQ(ParseChunkSize("zz", 2), 0u);
}

} // namespace
