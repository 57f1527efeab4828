#include "web/ftp.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>

#include "core/text.h"

namespace desk::web {
namespace {

struct Connection {
  FtpHandle session = 0;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl{nullptr, curl_easy_cleanup};
  std::string base;  // "ftp://host:port/"
  FtpOptions options;
};

// Open handles of this thread. Closing a connection ends its session with
// the server (QUIT) when the easy handle is cleaned up.
thread_local std::map<FtpHandle, std::string> sessions;
thread_local std::map<FtpHandle, std::unique_ptr<Connection>> connections;
std::atomic<FtpHandle> next_handle{0xCC0004};

FtpHandle new_handle() {
  FtpHandle h;
  do h = next_handle.fetch_add(4);
  while (h == 0);
  return h;
}

Connection& connection(FtpHandle h) {
  auto it = connections.find(h);
  if (it == connections.end()) throw FtpError("no FTP connection is open");
  return *it->second;
}

// A host name or an IPv4/IPv6 address as it goes into the URL.
std::string url_host(const std::string& host) {
  bool name = !host.empty(), v6 = host.find(':') != std::string::npos;
  for (unsigned char c : host) {
    bool ok = std::isalnum(c) || c == '.' || c == '-' || c == '_' || (v6 && c == ':');
    name = name && ok;
  }
  if (!name) throw FtpError("\"" + host + "\" is not a server name or address");
  return v6 ? "[" + host + "]" : host;
}

std::string url(const Connection& c, const std::string& remote) {
  if (remote.empty()) throw FtpError("no remote file is named");
  // The whole name, slashes too, is encoded: the server receives it as given
  // in one command (no folder changes), so "/a/b" is absolute and "a/b"
  // relative to the login folder.
  return c.base + text::url_encode(c.options.gb18030_names ? text::to_gb18030(remote) : remote);
}

void perform(Connection& c, const std::string& what) {
  CURLcode rc = curl_easy_perform(c.curl.get());
  if (rc == CURLE_OK) return;
  long answer = 0;
  curl_easy_getinfo(c.curl.get(), CURLINFO_RESPONSE_CODE, &answer);
  throw FtpError(what + ": " + curl_easy_strerror(rc) +
                 (answer ? " (the server answered " + std::to_string(answer) + ")" : ""));
}

std::size_t read_file(char* buffer, std::size_t size, std::size_t n, void* file) {
  std::size_t got = std::fread(buffer, size, n, static_cast<FILE*>(file));
  return got == 0 && std::ferror(static_cast<FILE*>(file)) ? CURL_READFUNC_ABORT : got;
}

std::size_t write_fd(char* data, std::size_t size, std::size_t n, void* fd) {
  std::size_t total = size * n, done = 0;
  while (done < total) {
    ssize_t w = ::write(*static_cast<int*>(fd), data + done, total - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return 0;  // the transfer fails with a write error
    done += static_cast<std::size_t>(w);
  }
  return total;
}

}  // namespace

FtpHandles& ftp_handles() {
  thread_local FtpHandles handles;
  return handles;
}

FtpHandle ftp_open(const std::string& agent) {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!ready) return 0;
  FtpHandle h = new_handle();
  sessions[h] = agent;
  return h;
}

FtpHandle ftp_connect(FtpHandle session, const std::string& host, std::uint16_t port,
                      const std::string& user, const std::string& password,
                      const FtpOptions& options) {
  if (!sessions.count(session)) throw FtpError("no Internet session is open");
  auto c = std::make_unique<Connection>();
  c->session = session;
  c->options = options;
  c->base = "ftp://" + url_host(host) + ":" + std::to_string(port ? port : 21) + "/";
  c->curl.reset(curl_easy_init());
  CURL* e = c->curl.get();
  if (!e) throw FtpError("the transfer library cannot start");
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 1L);
  if (!user.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, password.c_str());
  }
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, options.connect_timeout);
  curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, options.connect_timeout);
  curl_easy_setopt(e, CURLOPT_ACCEPTTIMEOUT_MS, options.connect_timeout * 1000);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, options.idle_timeout);
  curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  // Active mode: the server connects back to the address the control
  // connection leaves from.
  if (!options.passive) curl_easy_setopt(e, CURLOPT_FTPPORT, "-");
  curl_easy_setopt(e, CURLOPT_TRANSFERTEXT, 0L);
  // Logging in without a transfer; the logged-in connection stays in the
  // handle's cache and carries the transfer that follows.
  curl_easy_setopt(e, CURLOPT_URL, c->base.c_str());
  curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  perform(*c, "connecting to " + host);
  curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
  FtpHandle h = new_handle();
  connections[h] = std::move(c);
  return h;
}

void ftp_put(FtpHandle h, const std::filesystem::path& local, const std::string& remote) {
  Connection& c = connection(h);
  std::string address = url(c, remote);
  std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(local.c_str(), "rb"), std::fclose);
  struct stat st {};
  if (!file || ::fstat(::fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode))
    throw FtpError("cannot read the local file " + local.string());
  CURL* e = c.curl.get();
  curl_easy_setopt(e, CURLOPT_URL, address.c_str());
  curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(e, CURLOPT_READFUNCTION, read_file);
  curl_easy_setopt(e, CURLOPT_READDATA, file.get());
  curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(st.st_size));
  try {
    perform(c, "sending " + remote);
  } catch (...) {
    curl_easy_setopt(e, CURLOPT_UPLOAD, 0L);
    throw;
  }
  curl_easy_setopt(e, CURLOPT_UPLOAD, 0L);
}

void ftp_get(FtpHandle h, const std::string& remote, const std::filesystem::path& local) {
  Connection& c = connection(h);
  std::string address = url(c, remote);
  if (local.filename().empty()) throw FtpError("no local file is named");
  // A name of its own, whatever the length of the file's name.
  std::string temp = (local.parent_path() / ".download-XXXXXX").string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) throw FtpError("cannot write in the folder of " + local.string());
  auto discard = [&] {
    ::close(fd);
    ::unlink(temp.c_str());
  };
  CURL* e = c.curl.get();
  curl_easy_setopt(e, CURLOPT_URL, address.c_str());
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, write_fd);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &fd);
  try {
    perform(c, "fetching " + remote);
  } catch (...) {
    discard();
    throw;
  }
  // The file replaces an existing one with that one's permissions; a new
  // file gets the usual ones.
  struct stat st {};
  mode_t mode;
  if (::stat(local.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool written = ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temp.c_str(), local.c_str()) != 0) {
    ::unlink(temp.c_str());
    throw FtpError("cannot write the local file " + local.string());
  }
}

bool ftp_close(FtpHandle h) {
  if (connections.erase(h)) return true;
  if (!sessions.erase(h)) return false;
  for (auto it = connections.begin(); it != connections.end();)
    it = it->second->session == h ? connections.erase(it) : std::next(it);
  return true;
}

}  // namespace desk::web
