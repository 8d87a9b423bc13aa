#pragma once
// Real peers for the network tests, each started by the test on free
// 127.0.0.1 ports inside its temporary folder and stopped when the object
// goes: nginx (HTTP, HTTPS, keep-alive, redirects, cookies, chunked and
// to-close bodies through its echo module), tinyproxy (CONNECT tunnels),
// openssl s_server (bare TLS) and a python3 peer replaying canned replies.
// A test whose program is missing skips with NET_REQUIRE_PROGRAM.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/os/Process.h"
#include "platform/os/Waitable.h"
#include "tests/platform/os/TempFolder.h"

#define NET_REQUIRE_PROGRAM(path)                                                           \
  do {                                                                                      \
    if (::access(path, F_OK) != 0) GTEST_SKIP() << path << " is missing (scripts/setup installs it)"; \
  } while (0)

namespace nettest {

using platform::test::TempFolder;

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";
constexpr const char* kOpenSSL = "/usr/bin/openssl";
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kEchoModule = "/usr/lib/nginx/modules/ngx_http_echo_module.so";

// A port nobody listens on at the moment of asking.
inline int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(s);
  return port;
}

inline bool PortAccepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(s);
  return ok;
}

// One child program, its output in a log file, killed when the object goes.
class Child {
public:
  ~Child() { Stop(); }
  bool Start(const std::vector<std::string>& command, const std::string& log) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" >'" + log + "' 2>&1", "sh"};
    argv.insert(argv.end(), command.begin(), command.end());
    process_ = std::make_unique<platform::Process>();
    return process_->Start(argv) == platform::Error::None;
  }
  bool Running() { return process_ && process_->IsRunning(); }
  // Until `port` accepts (true) or the program ends or 10 s pass (false).
  bool WaitForPort(int port) {
    for (int i = 0; i < 2000; ++i) {
      if (!Running()) return false;
      if (PortAccepts(port)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  // Runs to its end; true for exit code 0.
  bool Run(const std::vector<std::string>& command, const std::string& log) {
    return Start(command, log) && process_->Wait(60000) && process_->ExitCode() == 0;
  }
  void Stop() {
    if (process_ && process_->IsRunning()) {
      process_->Kill();
      process_->Wait(platform::kInfinite);
    }
    process_.reset();
  }

private:
  std::unique_ptr<platform::Process> process_;
};

// Starts a peer on a free port: `launch(port)` starts `child` listening
// there; a port taken meanwhile by someone else means another try.
template <typename Launch> bool StartOnFreePort(Child& child, int& port, Launch launch) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    port = FreePort();
    if (launch(port) && child.WaitForPort(port)) return true;
    child.Stop();
  }
  return false;
}

// A self-signed certificate and key in the folder, for the subject and
// alternative name given; true when made. An EC key takes a tenth of the
// time of an RSA one to make.
inline bool MakeCertificate(const TempFolder& dir, const std::string& name, const std::string& subject,
                            const std::string& altName) {
  Child openssl;
  return openssl.Run({kOpenSSL, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                      "-days", "2", "-subj", subject,
                      "-addext", "subjectAltName=" + altName, "-keyout", dir / (name + ".key"), "-out",
                      dir / (name + ".pem")},
                     dir / (name + ".openssl.log"));
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How often `what` stands in `text`.
inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// nginx with a plain and a TLS port over dir/www, certificate dir/server.pem.
// Its access log has one line per request: "<connection> <request line>".
class Nginx {
public:
  // Lines for the server block, asked once the ports and folder are chosen.
  using Locations = std::function<std::string(const Nginx&)>;

  bool Start(const TempFolder& dir, const Locations& locations = nullptr) {
    dir_ = dir / "nginx";
    std::filesystem::create_directories(dir_ + "/www");
    for (int attempt = 0; attempt < 5; ++attempt) {
      port = FreePort();
      sslPort = FreePort();
      std::ofstream(dir_ + "/nginx.conf") << Config(dir, locations ? locations(*this) : std::string());
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
  // nginx logs a request after it answered: the log once it holds `text`
  // `times` times (or after 10 s).
  std::string AccessLogWith(const std::string& text, int times = 1) const {
    std::string log;
    for (int i = 0; i < 2000; ++i) {
      log = AccessLog();
      if (Count(log, text) >= times) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return log;
  }
  std::string Www(const std::string& name) const { return dir_ + "/www/" + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Www(name), std::ios::binary) << bytes;
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

  int port = 0;
  int sslPort = 0;

private:
  std::string Config(const TempFolder& dir, const std::string& locations) const {
    const std::string d = dir_;
    return "load_module " + std::string(kEchoModule) +
           ";\n"
           "daemon off; master_process off; worker_processes 1;\n"
           "pid " + d + "/nginx.pid;\n"
           "error_log " + d + "/error.log;\n"
           "events { worker_connections 64; }\n"
           "http {\n"
           "  log_format raw '$connection $request';\n"
           "  access_log " + d + "/access.log raw;\n"
           "  client_body_temp_path " + d + "/body; proxy_temp_path " + d + "/proxy;\n"
           "  fastcgi_temp_path " + d + "/fastcgi; uwsgi_temp_path " + d + "/uwsgi; scgi_temp_path " + d + "/scgi;\n"
           "  client_body_buffer_size 1m; client_max_body_size 10m;\n"
           "  default_type application/octet-stream;\n"
           "  keepalive_requests 10000;\n"
           "  server {\n"
           "    listen 127.0.0.1:" + std::to_string(port) + ";\n"
           "    listen 127.0.0.1:" + std::to_string(sslPort) + " ssl;\n"
           "    ssl_certificate " + (dir / "server.pem") + "; ssl_certificate_key " + (dir / "server.key") + ";\n"
           "    root " + d + "/www;\n"
           "    location = /redirect { return 302 /moved.txt; }\n"
           "    location = /empty { return 200 \"\"; }\n"
           "    location = /cookies {\n"
           "      add_header Set-Cookie \"one=1; Path=/\"; add_header Set-Cookie \"two=2\";\n"
           "      add_header Set-Cookie \"three=3\"; add_header Set-Cookie \"four=4\";\n"
           "      add_header Set-Cookie \"five=5\"; return 200 \"jar\"; }\n"
           "    location = /cookies-again { add_header Set-Cookie \"TWO=22; HttpOnly\"; return 200 \"jar\"; }\n"
           "    location = /chunked { echo \"first piece\"; echo_flush; echo \"second piece\"; }\n"
           "    location = /to-close { chunked_transfer_encoding off; echo \"until the end\"; }\n"
           "    location = /request { echo -n $echo_client_request_headers; }\n"
           "    location = /post { echo_read_request_body; echo -n $echo_client_request_headers; echo_request_body; }\n"
           + locations +
           "  }\n"
           "}\n";
  }

  std::string dir_;
  Child child_;
};

// tinyproxy; with `onlyPort` set it tunnels to that port alone.
class Tinyproxy {
public:
  bool Start(const TempFolder& dir, int onlyPort = 0) {
    static int serial = 0;  // two proxies in one folder keep apart
    const std::string d = dir / ("tinyproxy" + std::to_string(++serial));
    std::filesystem::create_directories(d);
    return StartOnFreePort(child_, port, [&](int p) {
      std::ofstream conf(d + "/tinyproxy.conf");
      conf << "Port " << p << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
           << "LogFile \"" << d << "/tinyproxy.log\"\nLogLevel Info\nPidFile \"" << d << "/tinyproxy.pid\"\n";
      if (onlyPort) conf << "ConnectPort " << onlyPort << "\n";
      conf.close();
      return child_.Start({kTinyproxy, "-d", "-c", d + "/tinyproxy.conf"}, d + "/out.log");
    });
  }
  int port = 0;

private:
  Child child_;
};

// openssl s_server -WWW serving the folder over TLS with the named
// certificate.
class OpenSSLServer {
public:
  bool Start(const TempFolder& dir, const std::string& certificate) {
    return StartOnFreePort(child_, port, [&](int p) {
      return child_.Start({kOpenSSL, "s_server", "-quiet", "-WWW", "-accept", "127.0.0.1:" + std::to_string(p), "-cert",
                           dir / (certificate + ".pem"), "-key", dir / (certificate + ".key")},
                          dir / "s_server.log");
    });
  }
  int port = 0;

private:
  Child child_;
};

// The python3 peer (support/raw_peer.py): GET /<name> answers the bytes set
// with Reply(name); an unknown name is held open, and answered once a reply
// for it is set.
class RawPeer {
public:
  bool Start(const TempFolder& dir) {
    replies_ = dir / "replies";
    std::filesystem::create_directories(replies_);
    portFile_ = dir / "raw.port";
    if (!child_.Start({kPython, NET_SUPPORT_DIR "/raw_peer.py", replies_, portFile_}, dir / "raw.log")) return false;
    for (int i = 0; i < 2000 && child_.Running(); ++i) {
      const std::string text = ReadText(portFile_);
      if (!text.empty()) {
        port = std::stoi(text);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  // Whole or not at all: a held connection may be looking for it.
  void Reply(const std::string& name, const std::string& bytes) const {
    const std::string part = replies_ + ".part";
    std::ofstream(part, std::ios::binary) << bytes;
    std::filesystem::rename(part, replies_ + "/" + name);
  }
  // The connections accepted so far.
  int Connections() const { return Lines(".connections"); }
  // Waits until at least `count` connections came (10 s at most).
  int WaitForConnections(int count) const { return WaitForLines(".connections", count); }
  // Waits until their clients have closed at least `count` connections (10 s
  // at most).
  int WaitForCloses(int count) const { return WaitForLines(".closes", count); }
  int port = 0;

private:
  int Lines(const char* log) const {
    const std::string text = ReadText(portFile_ + log);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }
  int WaitForLines(const char* log, int count) const {
    for (int i = 0; i < 2000 && Lines(log) < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Lines(log);
  }

  std::string replies_;
  std::string portFile_;
  Child child_;
};

} // namespace nettest
