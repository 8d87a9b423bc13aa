#pragma once
// nginx playing the web service for the download station and the look-ups:
// the login page, and each script page answered with a file of www/ that a
// test writes (a missing file answers 404). Plain and TLS ports.
#include <filesystem>
#include <string>

#include "tests/net/support/Peers.h"

namespace nettest {

class ServiceNginx : public Nginx {
public:
  // The files behind the pages.
  static constexpr const char* kSearchReply = "search.txt";
  static constexpr const char* kMembershipReply = "sfr.txt";
  static constexpr const char* kThumbnail = "thumb.jpg";
  static constexpr const char* kDescription = "description.txt";
  static constexpr const char* kUserNames = "users.txt";
  // The KUID whose thumbnail and description pages answer 404.
  static constexpr const char* kUnknownKuid = "9:9";

  bool Start(const TempFolder& dir) {
    if (!Nginx::Start(dir, &Locations)) return false;
    std::filesystem::create_directories(Www("lists"));
    return true;
  }
  void Remove(const std::string& name) const { std::filesystem::remove(Www(name)); }

private:
  static std::string Page(const std::string& path, const std::string& file) {
    return "    location = " + path + " { rewrite ^ /" + file + " break; }\n";
  }
  static std::string Locations(const Nginx&) {
    const std::string scripts = "/games/gamefiles/velmar/scripts/";
    return "    types { image/jpeg jpg; text/plain txt; }\n"
           "    location = /quillnet/dezezez/remote_login.php {\n"
           "      add_header Set-Cookie \"sess=abc\";\n"
           "      return 200 'cookie \"s3ss10n\"\\r\\ndate 1700000000\\r\\nlatestbuild 0\\r\\n';\n"
           "    }\n"
           + Page(scripts + "RecordManager/client.php", kSearchReply) + Page(scripts + "SFR.php", kMembershipReply) +
           "    location = " + scripts + "asset_thumbnail.php {\n"
           "      if ($arg_SearchCriteria = \"" + kUnknownKuid + "\") { return 404; }\n"
           "      rewrite ^ /" + kThumbnail + " break; }\n"
           "    location = " + scripts + "asset_description.php {\n"
           "      if ($arg_SearchCriteria = \"" + kUnknownKuid + "\") { return 404; }\n"
           "      rewrite ^ /" + kDescription + " break; }\n"
           + Page("/velmar/GameFiles/user_lookup.php", kUserNames);
  }
};

} // namespace nettest
