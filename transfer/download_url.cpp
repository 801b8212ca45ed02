#include "transfer/download_url.h"

#include "transfer/url_encoder.h"

namespace qz {

bool IsKnownDownloadScheme(const std::string& scheme) {
  return scheme == "http" || scheme == "https";
}

std::string DownloadUrl(const BackupSettings& settings, const std::string& serverName,
                        const std::string& encodedName) {
  const UrlEncoder encoder;
  return settings.DownloadScheme + "://" + encoder.EncodeControlBytes(serverName) + "/" +
         encoder.EncodeControlBytes(settings.WebDocDir) + "/" + encodedName;
}

std::string DownloadUrlText(const BackupSettings& settings, const std::string& serverName,
                            const std::string& encodedName) {
  return settings.DownloadScheme + "://" + serverName + "/" + settings.WebDocDir + "/" +
         encodedName;
}

}  // namespace qz
