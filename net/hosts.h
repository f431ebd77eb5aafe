// The service's hosts. Their defaults are build configuration; the command line and the
// settings file beside the program (net/service_config.h), tests and the demo point them
// elsewhere at run time.
#pragma once

#include <string>

namespace hosts {

// Each host is "name" or "name:port", without scheme or path.
std::string Api();
std::string Update();
std::string Website();
std::string PartnerLogin();
std::string Picture();
std::string VideoThumb();

// The same with the host's scheme in front: "http://name:port" or "https://name:port".
std::string ApiBase();
std::string UpdateBase();
std::string WebsiteBase();
std::string PartnerLoginBase();
std::string PictureBase();
std::string VideoThumbBase();

// Each setter takes "name:port" (plain HTTP) or a URL "http://name:port" or
// "https://name:port" (checked by the caller, see service_config::ParseHostUrl). Hosts given
// as https are from then on reached over TLS only, even where a URL says "http://"; with
// an https API host so is every host the service names (upload servers).
void SetApi(const std::string& host);
void SetUpdate(const std::string& host);
void SetWebsite(const std::string& host);
void SetPartnerLogin(const std::string& host);
void SetPicture(const std::string& host);
void SetVideoThumb(const std::string& host);

// Points the API, update, picture and video-thumbnail hosts at one host.
void SetAllServiceHosts(const std::string& host);

} // namespace hosts
