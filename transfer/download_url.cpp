#include "transfer/download_url.h"

namespace qz {

bool IsKnownDownloadScheme(const std::string& scheme) {
  return scheme == "http" || scheme == "https";
}

std::string DownloadUrl(const BackupSettings& settings, const std::string& serverName,
                        const std::string& encodedName) {
  return settings.DownloadScheme + "://" + serverName + "/" + settings.WebDocDir + "/" +
         encodedName;
}

}  // namespace qz
