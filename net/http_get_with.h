// The simple GET and the download with chosen times (tests shorten the waits).
#pragma once

#include <string>

#include "net/http_client.h"

// `httpStatus`, when given, gets the status of the server's answer, whatever it was, or 0
// when none came.
bool HttpGetWith(const char* url, std::string& body, const HttpTimings& timings,
                 int* httpStatus = nullptr);

// One download attempt: true when a 200 answer's complete body was written to `path`.
bool DownloadOnce(const char* url, const std::u16string& path, const HttpTimings& timings);

// Both attempts and the log line of a second failure.
void DownLoadUrlFileWith(const char16_t* url, const char16_t* path, const HttpTimings& timings);
