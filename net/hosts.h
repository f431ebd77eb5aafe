// The service's hosts. Their defaults are build configuration; tests and the demo point
// them elsewhere at run time (for example a local service on a random port).
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

void SetApi(const std::string& host);
void SetUpdate(const std::string& host);
void SetWebsite(const std::string& host);
void SetPartnerLogin(const std::string& host);
void SetPicture(const std::string& host);
void SetVideoThumb(const std::string& host);

// Points the API, update, picture and video-thumbnail hosts at one "name:port".
void SetAllServiceHosts(const std::string& host);

} // namespace hosts
