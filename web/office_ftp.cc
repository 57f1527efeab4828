// The control's FTP transfers: one session per transfer on the thread's
// handle pair, local files through the path map.
#include <exception>

#include "web/office.h"

namespace desk::web {
namespace {

constexpr const char* kAgent = "FTP Application";

}  // namespace

std::string office::connect() {
  FtpHandles& h = ftp_handles();
  // A pair left open by an earlier connect is closed rather than lost.
  disconnect(h.hconnect, h.hInternet);
  h.hInternet = ftp_open(kAgent);
  if (h.hInternet != 0) {
    try {
      h.hconnect = ftp_connect(h.hInternet, ftpip, static_cast<std::uint16_t>(Port), username,
                               Password, p_.ftp);
    } catch (const std::exception& e) {
      p_.messages.note(std::string("connect: ") + e.what());
    }
  }
  if (h.hconnect == 0) p_.messages.show(std::string(kFtpConnectFailed), "");
  return "";
}

void office::disconnect(FtpHandle& hconnect, FtpHandle& hInternet) {
  for (FtpHandle* h : {&hconnect, &hInternet}) {
    if (*h != 0) {
      ftp_close(*h);
      *h = 0;
    }
  }
}

bool office::uploadfile(const std::string& mftpip, std::int16_t mport, const std::string& musername,
                        const std::string& mpassword, const std::string& mlocalfile,
                        const std::string& mremotefile) {
  ftpip = mftpip;
  Port = mport;
  username = musername;
  Password = mpassword;
  localfile = mlocalfile;
  connect();
  FtpHandles& h = ftp_handles();
  bool ok = false;
  if (h.hconnect != 0) {
    try {
      ftp_put(h.hconnect, p_.paths.map(localfile), mremotefile);
      ok = true;
    } catch (const std::exception& e) {
      p_.messages.note(std::string("uploadfile: ") + e.what());
    }
  }
  disconnect(h.hconnect, h.hInternet);
  return ok;
}

bool office::downloadfile(const std::string& mftpip, std::int16_t mport,
                          const std::string& musername, const std::string& mpassword,
                          const std::string& mlocalfile, const std::string& mremotefile) {
  ftpip = mftpip;
  Port = mport;
  username = musername;
  Password = mpassword;
  localfile = mlocalfile;
  connect();
  FtpHandles& h = ftp_handles();
  bool ok = false;
  if (h.hconnect != 0) {
    try {
      ftp_get(h.hconnect, mremotefile, p_.paths.map_for_writing(localfile));
      ok = true;
    } catch (const std::exception& e) {
      p_.messages.note(std::string("downloadfile: ") + e.what());
    }
  }
  disconnect(h.hconnect, h.hInternet);
  return ok;
}

}  // namespace desk::web
