// Where the service lives, chosen at start: command-line options first, then the settings
// file beside the program (qumoclient.conf), then the built-in defaults. Bad values are
// refused as a whole, so the program never starts half configured.
//
//   --service URL        every host of the table at once
//   --api URL  --update URL  --website URL  --partner-login URL  --pictures URL
//   --video-thumbs URL   one host
//   --ca-file FILE       a CA (PEM) trusted for https hosts beside the system's store
//                        (relative: below the folder the program was started from)
//
// The settings file holds the same names without the dashes, one "key = value" a line;
// "#" and ";" begin comment lines. A URL is "http://host[:port]" or "https://host[:port]".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace service_config {

struct HostUrl {
    bool secure = false;
    std::string host;
    int port = 0; // 80 or 443 when the URL gives none

    // "http://host:port" or "https://host:port", the port left out when it is the scheme's.
    std::string Text() const;
};

// Checks and splits a service URL: a scheme of http or https, a host of letters, digits,
// dots and dashes (or an IPv4 address), an optional port 1..65535, nothing but "/" after it,
// no user name or password. False with `err` saying what is wrong.
bool ParseHostUrl(std::string_view text, HostUrl& out, std::string& err);

// The values one source gives; unset ones leave the choice to the next source.
struct Settings {
    std::optional<HostUrl> all, api, update, website, partner, picture, video;
    std::optional<std::string> caFile;
};

// The program's options among `args` (argv without the program name). Arguments that do
// not begin with "--" are left to others; an unknown "--" option is an error.
bool ParseArgs(const std::vector<std::string>& args, Settings& out, std::string& err);
// The settings file's text; errors name the line.
bool ParseConfText(std::string_view text, Settings& out, std::string& err);
// A missing file gives no settings; an unreadable or oversized one is an error.
bool LoadConfFile(const std::string& path, Settings& out, std::string& err);

// The host table that results from both sources over the defaults.
struct Resolved {
    HostUrl api, update, website, partner, picture, video;
    std::string caFile;
};
Resolved Resolve(const Settings& args, const Settings& file, const Resolved& defaults);
// The host table as it is now (the defaults before Apply).
Resolved Current();

// Reads the settings file at `confPath`, the options in `args`, checks the CA file and sets
// the host table and the TLS trust. Nothing changes when it fails.
bool Configure(const std::vector<std::string>& args, const std::string& confPath, std::string& err);

// The options' help text.
const char* UsageText();

} // namespace service_config
