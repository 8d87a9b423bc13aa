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
    return StartOnFreePort(child_, port, [&](int p) {
      return child_.Start({kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(p), "-d", root, "-u",
                           kFtpUser, "-P", kFtpPassword},
                          dir / "ftp.log");
    });
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

// nginx with the redirects, cookies and login replies the download manager
// meets.
class DownloadNginx : public Nginx {
public:
  static constexpr int kChainEnd = 30;

  bool Start(const TempFolder& dir) { return Nginx::Start(dir, &Locations); }

private:
  static std::string Locations(const Nginx& nginx) {
    const std::string port = std::to_string(nginx.port);
    std::string chain;
    for (int i = 0; i < kChainEnd; ++i)
      chain += "    location = /chain/" + std::to_string(i) + " { return 302 /chain/" + std::to_string(i + 1) + "; }\n";
    chain += "    location = /chain/" + std::to_string(kChainEnd) + " { return 200 \"end of chain\"; }\n";
    return "    location = /loop { return 302 /loop; }\n"
           "    location = /away { return 302 http://localhost:" + port + "/moved.txt; }\n"
           "    location = /pingpong { return 302 http://localhost:" + port + "/pongping; }\n"
           "    location = /pongping { return 302 http://127.0.0.1:" + port + "/pingpong; }\n"
           "    location = /tofile { return 302 file://velmar" + nginx.Www("moved.txt") + "; }\n"
           "    location = /toqnlogin { return 302 qnlogin://x/; }\n"
           "    location = /cookie { add_header Set-Cookie \"flavour=oat\"; return 200 \"c\"; }\n"
           "    location = /sent-cookie { return 200 \"$http_cookie\"; }\n"
           "    location = /form { return 200 \"posted\"; }\n"
           + chain +
           "    location = /quillnet/dezezez/remote_login.php {\n"
           "      add_header Set-Cookie \"sess=abc\";\n"
           "      if ($arg_username = \"good\") { return 200 '" + kLoginGood + "'; }\n"
           "      if ($arg_username = \"nodate\") { return 200 '" + kLoginNoDate + "'; }\n"
           "      return 200 '" + kLoginRefused + "';\n"
           "    }\n";
  }
};

} // namespace nettest
