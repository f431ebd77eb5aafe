#include "net/service_config.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "net/hosts.h"
#include "net/http_message.h"
#include "net/net_link.h"

namespace service_config {
namespace {

constexpr std::size_t kMaxConfBytes = 64 * 1024;

struct Key {
    const char* name;
    std::optional<HostUrl> Settings::*host; // null for the CA file
};

constexpr Key kKeys[] = {
    {"service", &Settings::all},           {"api", &Settings::api},
    {"update", &Settings::update},         {"website", &Settings::website},
    {"partner-login", &Settings::partner}, {"pictures", &Settings::picture},
    {"video-thumbs", &Settings::video},    {"ca-file", nullptr},
};

const Key* FindKey(std::string_view name) {
    for (const Key& k : kKeys)
        if (name == k.name)
            return &k;
    return nullptr;
}

// Stores one value under `key`; `where` names the source in messages.
bool Take(const Key& key, std::string_view value, Settings& out, const std::string& where,
          std::string& err) {
    if (!key.host) {
        if (value.empty()) {
            err = where + ": the CA file name is empty";
            return false;
        }
        out.caFile = std::string(value);
        return true;
    }
    HostUrl url;
    std::string why;
    if (!ParseHostUrl(value, url, why)) {
        err = where + ": " + why;
        return false;
    }
    out.*key.host = url;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// A relative path means one below `base`: the program changes its working folder after the
// options are read, so a path kept relative would later name another file.
std::string AbsoluteBelow(const std::string& path, const std::filesystem::path& base) {
    const std::filesystem::path p(path);
    if (p.is_absolute() || base.empty())
        return path;
    return (base / p).lexically_normal().string();
}

std::filesystem::path StartFolder() {
    std::error_code ec;
    std::filesystem::path here = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path() : here;
}

HostUrl FromBase(const std::string& base) {
    HostUrl u;
    std::string err;
    ParseHostUrl(base, u, err); // the table holds only checked or built-in values
    return u;
}

} // namespace

std::string HostUrl::Text() const {
    std::string s = (secure ? "https://" : "http://") + host;
    if (port != (secure ? 443 : 80))
        s += ":" + std::to_string(port);
    return s;
}

bool ParseHostUrl(std::string_view text, HostUrl& out, std::string& err) {
    const std::string shown = "\"" + std::string(text.substr(0, 200)) + "\"";
    HostUrl u;
    std::size_t sep = text.find("://");
    if (sep == std::string_view::npos) {
        err = shown + " is not a URL: it must begin with http:// or https://";
        return false;
    }
    const std::string_view scheme = text.substr(0, sep);
    if (scheme.size() == 5 && StartsWithNoCase(scheme, "https"))
        u.secure = true;
    else if (!(scheme.size() == 4 && StartsWithNoCase(scheme, "http"))) {
        err = shown + ": unknown scheme \"" + std::string(scheme.substr(0, 20)) +
              "\" (http or https)";
        return false;
    }
    std::string_view rest = text.substr(sep + 3);
    const std::size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    if (end != std::string_view::npos && rest.substr(end) != "/") {
        err = shown + ": a service address has no path, query or fragment";
        return false;
    }
    if (authority.find('@') != std::string_view::npos) {
        err = shown + ": a user name or password does not belong in a service address";
        return false;
    }
    std::string_view host = authority;
    std::string_view port;
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) {
        err = shown + ": the host is missing";
        return false;
    }
    if (host.size() > 63) {
        err = shown + ": the host name is longer than 63 characters";
        return false;
    }
    for (char ch : host) {
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '.' && ch != '-') {
            err = shown + ": the host may hold only letters, digits, dots and dashes";
            return false;
        }
    }
    u.host = std::string(host);
    u.port = u.secure ? 443 : 80;
    if (colon != std::string_view::npos) {
        long v = 0;
        bool digits = !port.empty() && port.size() <= 5;
        for (char ch : port) {
            if (ch < '0' || ch > '9')
                digits = false;
            else
                v = v * 10 + (ch - '0');
        }
        if (!digits || v < 1 || v > 65535) {
            err = shown + ": the port must be a number from 1 to 65535";
            return false;
        }
        u.port = static_cast<int>(v);
    }
    out = u;
    return true;
}

bool ParseArgs(const std::vector<std::string>& args, Settings& out, std::string& err) {
    Settings s;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0)
            continue;
        std::string name = a.substr(2);
        std::optional<std::string> value;
        const std::size_t eq = name.find('=');
        if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const Key* key = FindKey(name);
        if (!key) {
            err = "unknown option --" + name;
            return false;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                err = "--" + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!Take(*key, *value, s, "--" + name, err))
            return false;
    }
    if (s.caFile)
        s.caFile = AbsoluteBelow(*s.caFile, StartFolder());
    out = s;
    return true;
}

bool ParseConfText(std::string_view text, Settings& out, std::string& err) {
    Settings s;
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t nl = text.find('\n');
        std::string_view line = Trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        const std::string where = "line " + std::to_string(lineNo);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            err = where + ": expected key = value";
            return false;
        }
        const std::string_view name = Trim(line.substr(0, eq));
        const Key* key = FindKey(name);
        if (!key) {
            err = where + ": unknown key \"" + std::string(name.substr(0, 40)) + "\"";
            return false;
        }
        if (!Take(*key, Trim(line.substr(eq + 1)), s, where, err))
            return false;
    }
    out = s;
    return true;
}

bool LoadConfFile(const std::string& path, Settings& out, std::string& err) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        out = Settings();
        return true; // no file: nothing chosen there
    }
    std::string text(kMaxConfBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        err = path + ": cannot be read";
        return false;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxConfBytes) {
        err = path + ": larger than 64 KB";
        return false;
    }
    if (!ParseConfText(text, out, err)) {
        err = path + ", " + err;
        return false;
    }
    // Paths in the file mean files beside it, wherever the program was started from.
    if (out.caFile) {
        std::error_code ec;
        const std::filesystem::path file = std::filesystem::absolute(path, ec);
        out.caFile = AbsoluteBelow(*out.caFile, ec ? std::filesystem::path() : file.parent_path());
    }
    return true;
}

Resolved Resolve(const Settings& args, const Settings& file, const Resolved& defaults) {
    auto pick = [&](std::optional<HostUrl> Settings::*m, const HostUrl& dflt) {
        for (const auto& v : {args.*m, args.all, file.*m, file.all})
            if (v)
                return *v;
        return dflt;
    };
    Resolved r;
    r.api = pick(&Settings::api, defaults.api);
    r.update = pick(&Settings::update, defaults.update);
    r.website = pick(&Settings::website, defaults.website);
    r.partner = pick(&Settings::partner, defaults.partner);
    r.picture = pick(&Settings::picture, defaults.picture);
    r.video = pick(&Settings::video, defaults.video);
    r.caFile = args.caFile ? *args.caFile : file.caFile ? *file.caFile : defaults.caFile;
    return r;
}

Resolved Current() {
    Resolved r;
    r.api = FromBase(hosts::ApiBase());
    r.update = FromBase(hosts::UpdateBase());
    r.website = FromBase(hosts::WebsiteBase());
    r.partner = FromBase(hosts::PartnerLoginBase());
    r.picture = FromBase(hosts::PictureBase());
    r.video = FromBase(hosts::VideoThumbBase());
    r.caFile = net::ExtraCaFile();
    return r;
}

bool Configure(const std::vector<std::string>& args, const std::string& confPath,
               std::string& err) {
    Settings fromArgs, fromFile;
    if (!ParseArgs(args, fromArgs, err))
        return false;
    if (!confPath.empty() && !LoadConfFile(confPath, fromFile, err))
        return false;
    const Resolved r = Resolve(fromArgs, fromFile, Current());
    std::string why;
    std::error_code ec;
    if (!r.caFile.empty() && !std::filesystem::is_regular_file(r.caFile, ec)) {
        err = "the CA file " + r.caFile + " cannot be used: it is not a file that exists";
        return false;
    }
    if (!r.caFile.empty() && !net::CanLoadCaFile(r.caFile, why)) {
        err = "the CA file " + r.caFile + " cannot be used: " + why;
        return false;
    }
    net::SetExtraCaFile(r.caFile);
    hosts::SetApi(r.api.Text());
    hosts::SetUpdate(r.update.Text());
    hosts::SetWebsite(r.website.Text());
    hosts::SetPartnerLogin(r.partner.Text());
    hosts::SetPicture(r.picture.Text());
    hosts::SetVideoThumb(r.video.Text());
    return true;
}

const char* UsageText() {
    return "usage: QumoClient [--service URL] [--api URL] [--update URL] [--website URL]\n"
           "                  [--partner-login URL] [--pictures URL] [--video-thumbs URL]\n"
           "                  [--ca-file FILE]\n"
           "  URL: http://host[:port] or https://host[:port]. --service sets every host;\n"
           "  the others set one. The same keys (without \"--\") may stand in qumoclient.conf\n"
           "  beside the program, one \"key = value\" a line; options win over the file.\n";
}

} // namespace service_config
