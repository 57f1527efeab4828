// FTP transfers of the control over libcurl, behind numbered handles: an
// Internet session, and a logged-in connection that belongs to a session.
// Handles are valid on the thread that opened them; 0 is never a handle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace desk::web {

struct FtpOptions {
  // Passive mode (the client opens the data connection), which is what gets
  // through most firewalls and address translation. Off by default: the
  // server connects back to the client (active mode).
  bool passive = false;
  // Seconds to connect, to log in, and to wait for each answer of the server.
  long connect_timeout = 30;
  // Seconds a transfer may move no data before it is abandoned.
  long idle_timeout = 60;
  // Remote names are sent in UTF-8, or with this set in GB18030, for servers
  // that take names in the Chinese Windows code page.
  bool gb18030_names = false;
};

// A session, connection or transfer failed; the text says why.
class FtpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using FtpHandle = std::uint32_t;

// The handle pair of the control's thread, shared by every control on it;
// 0 when closed.
struct FtpHandles {
  FtpHandle hInternet = 0;
  FtpHandle hconnect = 0;
};
FtpHandles& ftp_handles();

// Opens an Internet session; 0 when the transfer library cannot start.
FtpHandle ftp_open(const std::string& agent);
// Connects to host:port under `session` and logs in (anonymously when `user`
// is empty). Port 0 is the FTP port, 21. Throws FtpError.
FtpHandle ftp_connect(FtpHandle session, const std::string& host, std::uint16_t port,
                      const std::string& user, const std::string& password,
                      const FtpOptions& options);
// Sends a local file to `remote` (a path as the server names it, relative to
// the login folder unless it starts with '/') in binary. Throws FtpError.
void ftp_put(FtpHandle connection, const std::filesystem::path& local, const std::string& remote);
// Fetches `remote` into `local` in binary. The file is written beside
// `local` under a temporary name and put in its place only when the whole
// file has arrived: a failed transfer leaves `local` as it was. Throws
// FtpError.
void ftp_get(FtpHandle connection, const std::string& remote, const std::filesystem::path& local);
// Closes a handle; a session's connections close with it. False when the
// handle is not open on this thread.
bool ftp_close(FtpHandle handle);

}  // namespace desk::web
