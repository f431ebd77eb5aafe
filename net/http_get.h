// The simple GET every web API call goes through, the URL splitters and file download.
#pragma once

#include <cstddef>
#include <string>

// One GET of a complete "http://" or "https://" URL with a client of its own (redirects followed,
// cookies kept within the call). True when the server answered 200 with a complete body: `body`
// then holds it (up to its first zero byte). On false `body` is left unchanged. A body past
// a few MB or a call past its overall deadline (HttpTimings) fails.
bool HttpModuleGet(const char* url, std::string& body);
// The same, telling an answer from none: `httpStatus` is the status of the server's complete
// answer (its body kept only for 200), 0 when no answer came (no connection, a time-out, a
// cut answer).
bool HttpModuleGet(const char* url, std::string& body, int& httpStatus);

// True for an "https://" URL.
bool UrlIsHttps(const char* url);
// Whether a request for `url` (split into `host` and `port`) goes over TLS: an "https://"
// URL, or a host that must never be contacted in clear (net::MustUseTls).
bool UrlNeedsTls(const char* url, const char* host, int port);

// Splits an "http://", "https://" (or "file://") URL into host, port (80, 443 for https,
// when none is given) and path (query included; "/" when there is none). A URL with none of
// these schemes leaves the outputs untouched. The host
// buffer holds `hostCap` bytes and the path buffer `pathCap`, terminator included; longer
// parts are cut.
void SplitHttpUrl(const char* url, int& port, char* path, std::size_t pathCap, char* host,
                  std::size_t hostCap);

// Splits "host:port": the bytes before ":" go to `dest` (which the caller zero-filled; no
// terminator is added, at most destCap - 1 bytes), the port is the number after it. Without
// ":" the whole text is copied with its terminator and the port is left as it was.
void SplitHostPort(char* dest, std::size_t destCap, const char* text, int& port);

// Saves the body of a 200 answer for `url` into the file `path`: it is written under a
// temporary name beside it and renamed, so a failed download never leaves a half file under
// the real name. Up to five redirects are followed, to other hosts too, but only to
// "http://" and "https://" URLs, and from https only to https. The body is bounded like a picture's
// and the call must keep a minimum rate (DownloadTimings). Tried twice; a second failure is logged.
void DownLoadUrlFile(const char16_t* url, const char16_t* path);
