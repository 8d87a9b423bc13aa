#pragma once
// Peers for the download tests: pyftpdlib over a folder, and nginx with the
// redirects, cookies and login replies the download manager meets.
#include <string>

#include "tests/net/support/Peers.h"

namespace nettest {

constexpr const char* kFtpUser = "velmar";
constexpr const char* kFtpPassword = "pa55";

// python3 -m pyftpdlib on a free port over dir/ftp, one user.
class FtpServer {
public:
  bool Start(const TempFolder& dir) {
    root = dir / "ftp";
    std::filesystem::create_directories(root);
    for (int attempt = 0; attempt < 5; ++attempt) {
      port = FreePort();
      if (child_.Start({kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port), "-d", root, "-u",
                        kFtpUser, "-P", kFtpPassword},
                       dir / "ftp.log") &&
          child_.WaitForPort(port)) {
        return true;
      }
      child_.Stop();
    }
    return false;
  }
  std::string Url(const std::string& path) const {
    return std::string("ftp://") + kFtpUser + ":" + kFtpPassword + "@127.0.0.1:" + std::to_string(port) + path;
  }
  std::string root;
  int port = 0;

private:
  Child child_;
};

// The login service's replies, chosen by the user name.
constexpr const char* kLoginGood = "cookie \"s3ss10n\"\r\ndate 1700000000\r\nlatestbuild 4242\r\n";
constexpr const char* kLoginNoDate = "cookie \"other\"\r\nlatestbuild 0\r\n";
constexpr const char* kLoginRefused = "error \"refused\"\r\n";

class DownloadNginx {
public:
  static constexpr int kChainEnd = 30;

  bool Start(const TempFolder& dir) {
    dir_ = dir / "dlnginx";
    std::filesystem::create_directories(dir_ + "/www");
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
  std::string AccessLog() const { return ReadText(dir_ + "/access.log"); }
  std::string AccessLogWith(const std::string& text) const {
    std::string log;
    for (int i = 0; i < 2000; ++i) {
      log = AccessLog();
      if (log.find(text) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return log;
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ + "/www/" + name, std::ios::binary) << bytes;
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

  int port = 0;
  int sslPort = 0;

private:
  std::string Config(const TempFolder& dir) const {
    const std::string d = dir_;
    std::string chain;
    for (int i = 0; i < kChainEnd; ++i)
      chain += "    location = /chain/" + std::to_string(i) + " { return 302 /chain/" + std::to_string(i + 1) + "; }\n";
    chain += "    location = /chain/" + std::to_string(kChainEnd) + " { return 200 \"end of chain\"; }\n";
    return "daemon off; master_process off; worker_processes 1;\n"
           "pid " + d + "/nginx.pid;\n"
           "error_log " + d + "/error.log;\n"
           "events { worker_connections 64; }\n"
           "http {\n"
           "  log_format raw '$connection $request';\n"
           "  access_log " + d + "/access.log raw;\n"
           "  client_body_temp_path " + d + "/body; proxy_temp_path " + d + "/proxy;\n"
           "  fastcgi_temp_path " + d + "/fastcgi; uwsgi_temp_path " + d + "/uwsgi; scgi_temp_path " + d + "/scgi;\n"
           "  default_type application/octet-stream;\n"
           "  keepalive_requests 10000;\n"
           "  server {\n"
           "    listen 127.0.0.1:" + std::to_string(port) + ";\n"
           "    listen 127.0.0.1:" + std::to_string(sslPort) + " ssl;\n"
           "    ssl_certificate " + (dir / "server.pem") + "; ssl_certificate_key " + (dir / "server.key") + ";\n"
           "    root " + d + "/www;\n"
           "    location = /loop { return 302 /loop; }\n"
           "    location = /away { return 302 http://localhost:" + std::to_string(port) + "/moved.txt; }\n"
           "    location = /pingpong { return 302 http://localhost:" + std::to_string(port) + "/pongping; }\n"
           "    location = /pongping { return 302 http://127.0.0.1:" + std::to_string(port) + "/pingpong; }\n"
           "    location = /tofile { return 302 file://velmar" + d + "/www/moved.txt; }\n"
           "    location = /toqnlogin { return 302 qnlogin://x/; }\n"
           "    location = /cookie { add_header Set-Cookie \"flavour=oat\"; return 200 \"c\"; }\n"
           "    location = /form { return 200 \"posted\"; }\n"
           + chain +
           "    location = /quillnet/dezezez/remote_login.php {\n"
           "      add_header Set-Cookie \"sess=abc\";\n"
           "      if ($arg_username = \"good\") { return 200 '" + kLoginGood + "'; }\n"
           "      if ($arg_username = \"nodate\") { return 200 '" + kLoginNoDate + "'; }\n"
           "      return 200 '" + kLoginRefused + "';\n"
           "    }\n"
           "  }\n"
           "}\n";
  }

  std::string dir_;
  Child child_;
};

} // namespace nettest
