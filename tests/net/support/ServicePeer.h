#pragma once
// nginx playing the web service for the download station and the look-ups:
// the login page, and each script page answered with a file of www/ that a
// test writes (a missing file answers 404). Plain and TLS ports.
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/net/support/Peers.h"

namespace nettest {

class ServiceNginx {
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
    dir_ = dir / "service";
    std::filesystem::create_directories(dir_ + "/www/lists");
    for (int attempt = 0; attempt < 5; ++attempt) {
      port = FreePort();
      sslPort = FreePort();
      std::ofstream(dir_ + "/nginx.conf") << Config(dir);
      if (child_.Start({kNginx, "-e", dir_ + "/error.log", "-p", dir_, "-c", dir_ + "/nginx.conf"},
                       dir_ + "/out.log") &&
          child_.WaitForPort(port) && child_.WaitForPort(sslPort)) {
        return true;
      }
      child_.Stop();
    }
    return false;
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Www(name), std::ios::binary) << bytes;
  }
  void Remove(const std::string& name) const { std::filesystem::remove(Www(name)); }
  std::string Www(const std::string& name) const { return dir_ + "/www/" + name; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
  std::string AccessLog() const { return ReadText(dir_ + "/access.log"); }
  // nginx logs a request after answering it.
  std::string AccessLogWith(const std::string& text) const {
    std::string log;
    for (int i = 0; i < 2000; ++i) {
      log = AccessLog();
      if (log.find(text) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return log;
  }

  int port = 0;
  int sslPort = 0;

private:
  static std::string Page(const std::string& path, const std::string& file) {
    return "    location = " + path + " { rewrite ^ /" + file + " break; }\n";
  }
  std::string Config(const TempFolder& dir) const {
    const std::string d = dir_;
    const std::string scripts = "/games/gamefiles/velmar/scripts/";
    return "daemon off; master_process off; worker_processes 1;\n"
           "pid " + d + "/nginx.pid;\n"
           "error_log " + d + "/error.log;\n"
           "events { worker_connections 64; }\n"
           "http {\n"
           "  log_format raw '$connection $request';\n"
           "  access_log " + d + "/access.log raw;\n"
           "  client_body_temp_path " + d + "/body; proxy_temp_path " + d + "/proxy;\n"
           "  fastcgi_temp_path " + d + "/fastcgi; uwsgi_temp_path " + d + "/uwsgi; scgi_temp_path " + d + "/scgi;\n"
           "  types { image/jpeg jpg; text/plain txt; }\n"
           "  default_type application/octet-stream;\n"
           "  server {\n"
           "    listen 127.0.0.1:" + std::to_string(port) + ";\n"
           "    listen 127.0.0.1:" + std::to_string(sslPort) + " ssl;\n"
           "    ssl_certificate " + (dir / "server.pem") + "; ssl_certificate_key " + (dir / "server.key") + ";\n"
           "    root " + d + "/www;\n"
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
           + Page("/velmar/GameFiles/user_lookup.php", kUserNames) +
           "  }\n"
           "}\n";
  }

  std::string dir_;
  Child child_;
};

} // namespace nettest
