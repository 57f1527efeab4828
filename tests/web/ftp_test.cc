// The control's FTP transfers against a real FTP server on 127.0.0.1
// (tests/support/ftp_server.py), and servers that refuse, never answer or
// stop answering in the middle of a transfer.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "tests/support/docx_fixtures.h"
#include "tests/support/office_fakes.h"
#include "web/ftp.h"
#include "web/office.h"

namespace desk::web {
namespace {

using namespace desk::testing;
namespace fs = std::filesystem;

// Short limits so that failures come quickly.
FtpOptions quick(bool passive = false) {
  FtpOptions o;
  o.passive = passive;
  o.connect_timeout = 2;
  o.idle_timeout = 2;
  return o;
}

// The server script in its own process, with user "user" and password
// "pw"; killed with the object.
class FtpServer {
 public:
  FtpServer(const fs::path& root, std::vector<std::string> options = {}) {
    fs::create_directories(root);
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> args = {"/usr/bin/python3", DESK_FTP_SERVER, root.string(), "user",
                                     "pw"};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    FILE* f = ::fdopen(out[0], "r");
    char line[32] = {};
    if (!std::fgets(line, sizeof line, f)) line[0] = 0;
    std::fclose(f);
    port_ = std::atoi(line);
    if (port_ <= 0) throw std::runtime_error("the FTP server did not start (python3-pyftpdlib?)");
  }
  ~FtpServer() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  // The port as pages pass it in the 16-bit argument.
  std::int16_t port() const { return static_cast<std::int16_t>(port_); }
  void stop_answering() { ::kill(pid_, SIGSTOP); }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A socket on 127.0.0.1 that takes connections (the system completes them)
// but never says a word; or, closed, a port where nothing listens.
class MuteSocket {
 public:
  explicit MuteSocket(bool listening) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (listening) ::listen(fd_, 4);
  }
  ~MuteSocket() { ::close(fd_); }
  std::int16_t port() const { return static_cast<std::int16_t>(port_); }

 private:
  int fd_;
  int port_;
};

std::string random_bytes(std::size_t n) {
  std::mt19937_64 rng(42);
  std::string s(n, '\0');
  for (std::size_t i = 0; i + 8 <= n; i += 8) {
    std::uint64_t v = rng();
    std::memcpy(&s[i], &v, 8);
  }
  return s;
}

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool handles_closed() {
  return ftp_handles().hInternet == 0 && ftp_handles().hconnect == 0;
}

TEST(Ftp, FilesMakeTheRoundTripByteForByte) {
  const std::string big = random_bytes(20 << 20);
  struct Case {
    const char* name;
    const std::string& bytes;
  } files[] = {{"empty.bin", ""}, {"big.bin", big}, {"公文 第1稿.doc", big.substr(0, 5000)}};
  for (bool passive : {false, true}) {
    for (const auto& f : files) {
      SCOPED_TRACE(std::string(f.name) + (passive ? " passive" : " active"));
      DeviceControl c(quick(passive));
      FtpServer server(c.dir / "server");
      write_file(c.dir / "drives" / "d" / "out" / f.name, f.bytes);
      const std::string local = std::string(R"(D:\out\)") + f.name;
      EXPECT_TRUE(c.control.uploadfile("127.0.0.1", server.port(), "user", "pw", local, f.name));
      EXPECT_EQ(read_file(c.dir / "server" / f.name), f.bytes);

      // Downloading replaces what the local file held.
      write_file(c.dir / "drives" / "d" / "in" / f.name, "older content");
      const std::string back = std::string(R"(d:\in\)") + f.name;
      const std::string remote = std::string("/") + f.name;
      EXPECT_TRUE(c.control.downloadfile("127.0.0.1", server.port(), "user", "pw", back, remote));
      EXPECT_EQ(read_file(c.dir / "drives" / "d" / "in" / f.name), f.bytes);
      EXPECT_EQ(listing(c.dir / "drives" / "d" / "in"), std::vector<std::string>{f.name});

      EXPECT_EQ(c.control.ftpip, "127.0.0.1");
      EXPECT_EQ(c.control.Port, server.port());
      EXPECT_EQ(c.control.username, "user");
      EXPECT_EQ(c.control.Password, "pw");
      EXPECT_EQ(c.control.localfile, back);
      EXPECT_TRUE(handles_closed());
      EXPECT_TRUE(c.messages.boxes.empty());
      EXPECT_TRUE(c.messages.notes.empty()) << c.messages.notes[0];
    }
  }
}

TEST(Ftp, NamesGoInTheServersCodePage) {
  DeviceControl c(quick());
  FtpServer server(c.dir / "server", {"--encoding", "gb18030"});
  write_file(c.dir / "drives" / "d" / "a.doc", "body");
  // Sent in UTF-8, the name reaches this server as other characters.
  EXPECT_TRUE(
      c.control.uploadfile("127.0.0.1", server.port(), "user", "pw", R"(d:\a.doc)", "公文.doc"));
  EXPECT_FALSE(fs::exists(c.dir / "server" / "公文.doc"));

  FtpOptions gb = quick();
  gb.gb18030_names = true;
  DeviceControl g(gb);
  write_file(g.dir / "drives" / "d" / "a.doc", "body");
  EXPECT_TRUE(
      g.control.uploadfile("127.0.0.1", server.port(), "user", "pw", R"(d:\a.doc)", "公文.doc"));
  EXPECT_EQ(read_file(c.dir / "server" / "公文.doc"), "body");
}

TEST(Ftp, FailuresReturnFalseAndLeaveLocalFilesAsTheyWere) {
  ScratchDir root;
  FtpServer server(root / "server");
  write_file(root / "server" / "there.bin", "remote");
  MuteSocket closed(false), mute(true);
  struct Case {
    const char* what;
    bool upload;
    std::int16_t port;
    const char* password;
    const char* local;
    const char* remote;
    bool box;           // the connection message
    const char* noted;  // part of the note of the failure
  } cases[] = {
      {"wrong password, upload", true, server.port(), "bad", R"(d:\keep.bin)", "x.bin", true,
       "Login denied"},
      {"wrong password, download", false, server.port(), "bad", R"(d:\keep.bin)", "there.bin", true,
       "Login denied"},
      {"missing remote file", false, server.port(), "pw", R"(d:\keep.bin)", "none.bin", false,
       "the server answered 550"},
      {"missing remote folder", true, server.port(), "pw", R"(d:\keep.bin)", "no/x.bin", false,
       "the server answered 550"},
      {"missing local file", true, server.port(), "pw", R"(d:\none.bin)", "x.bin", false,
       "cannot read the local file"},
      {"local folder missing", false, server.port(), "pw", R"(d:\no\x.bin)", "there.bin", false,
       "cannot write in the folder"},
      {"local path leaving its drive", false, server.port(), "pw", R"(d:\..\x.bin)", "there.bin",
       false, "\"..\" is not allowed"},
      {"nothing listens", false, closed.port(), "pw", R"(d:\keep.bin)", "there.bin", true,
       "connecting to 127.0.0.1"},
      {"server never greets", false, mute.port(), "pw", R"(d:\keep.bin)", "there.bin", true,
       "connecting to 127.0.0.1"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    DeviceControl c(quick());
    write_file(c.dir / "drives" / "d" / "keep.bin", "local");
    bool ok =
        k.upload
            ? c.control.uploadfile("127.0.0.1", k.port, "user", k.password, k.local, k.remote)
            : c.control.downloadfile("127.0.0.1", k.port, "user", k.password, k.local, k.remote);
    EXPECT_FALSE(ok);
    EXPECT_EQ(c.messages.boxes.size(), k.box ? 1u : 0u);
    if (k.box) {
      EXPECT_EQ(c.messages.boxes[0], std::make_pair(std::string(), std::string(kFtpConnectFailed)));
    }
    ASSERT_EQ(c.messages.notes.size(), 1u);
    EXPECT_NE(c.messages.notes[0].find(k.noted), std::string::npos) << c.messages.notes[0];
    EXPECT_EQ(listing(c.dir / "drives" / "d"), std::vector<std::string>{"keep.bin"});
    EXPECT_EQ(read_file(c.dir / "drives" / "d" / "keep.bin"), "local");
    EXPECT_TRUE(handles_closed());
    EXPECT_EQ(c.control.Password, k.password);
  }
  EXPECT_FALSE(fs::exists(root / "server" / "x.bin"));
}

TEST(Ftp, AServerThatStopsAnsweringMidTransferEndsInFalse) {
  // 20 MB at 1 MB a second: the server is stopped while the file moves.
  const std::string big = random_bytes(20 << 20);
  for (bool upload : {false, true}) {
    SCOPED_TRACE(upload ? "upload" : "download");
    DeviceControl c(quick());
    FtpServer server(c.dir / "server", {"--throttle", "1048576"});
    if (!upload) write_file(c.dir / "server" / "big.bin", big);
    write_file(c.dir / "drives" / "d" / "big.bin", big);
    write_file(c.dir / "drives" / "d" / "in" / "big.bin", "older content");
    // Stops the server once some of the file has arrived at the other end.
    std::atomic<bool> done = false;
    std::thread watcher([&] {
      fs::path arriving = upload ? c.dir / "server" / "big.bin" : c.dir / "drives" / "d" / "in";
      while (!done) {
        std::error_code ec;
        std::uintmax_t got = 0;
        if (upload) {
          got = fs::file_size(arriving, ec);
        } else {
          for (const auto& e : fs::directory_iterator(arriving, ec))
            if (e.path().filename().string().rfind(".download-", 0) == 0)
              got = fs::file_size(e.path(), ec);
        }
        if (got > 0 && !ec) {
          server.stop_answering();
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    bool ok = upload ? c.control.uploadfile("127.0.0.1", server.port(), "user", "pw",
                                            R"(d:\big.bin)", "big.bin")
                     : c.control.downloadfile("127.0.0.1", server.port(), "user", "pw",
                                              R"(d:\in\big.bin)", "big.bin");
    done = true;
    watcher.join();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(c.messages.boxes.empty());
    ASSERT_EQ(c.messages.notes.size(), 1u);
    EXPECT_NE(c.messages.notes[0].find("Timeout"), std::string::npos) << c.messages.notes[0];
    EXPECT_EQ(listing(c.dir / "drives" / "d" / "in"), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(read_file(c.dir / "drives" / "d" / "in" / "big.bin"), "older content");
    EXPECT_TRUE(handles_closed());
  }
}

TEST(Ftp, ConnectAndDisconnectManageTheThreadsHandlePair) {
  DeviceControl c(quick());
  FtpServer server(c.dir / "server");
  c.control.ftpip = "127.0.0.1";
  c.control.Port = server.port();
  c.control.username = "user";
  c.control.Password = "pw";
  EXPECT_EQ(c.control.connect(), "");
  FtpHandles first = ftp_handles();
  EXPECT_NE(first.hInternet, 0u);
  EXPECT_NE(first.hconnect, 0u);
  // A second connect closes the pair the first one left open.
  c.control.connect();
  EXPECT_FALSE(ftp_close(first.hconnect));
  EXPECT_FALSE(ftp_close(first.hInternet));
  FtpHandles& h = ftp_handles();
  FtpHandle open_connection = h.hconnect;
  c.control.disconnect(h.hconnect, h.hInternet);
  EXPECT_TRUE(handles_closed());
  EXPECT_FALSE(ftp_close(open_connection));
  FtpHandle zero = 0, unknown = 12345;
  c.control.disconnect(zero, unknown);
  EXPECT_EQ(unknown, 0u);
  EXPECT_TRUE(c.messages.boxes.empty());
}

// officectl reaches the transfer and reader members through its script.
TEST(Officectl, CallsTheFtpAndCardReaderMembers) {
  ScratchDir dir;
  FtpServer server(dir / "server");
  write_file(dir / "drives" / "d" / "a.bin", "abc");
  write_file(dir / "sim.conf", "data=A1B2C3\n");
  write_file(dir / "s.txt",
             "on error resume next\n"
             "uploadfile 127.0.0.1 " +
                 std::to_string(server.port()) +
                 " user pw \"d:\\a.bin\" \"/b.bin\"\n"
                 "Port\n"
                 "downloadfile(\"127.0.0.1\", " +
                 std::to_string(static_cast<std::uint16_t>(server.port())) +
                 ", \"user\", \"pw\", \"d:\\c.bin\", \"b.bin\")\n"
                 "ReadId\n"
                 "DevBeep 20\n"
                 "DevBeep soon\n"
                 "CloseComm\n"
                 "disconnect 0 0\n");
  std::string cmd = "DESK_CARDSIM=" + (dir / "sim.conf").string() + " " + DESK_OFFICECTL + " run " +
                    (dir / "s.txt").string() + " --drives " + (dir / "drives").string() +
                    " --reader " + DESK_CARDSIM + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(out,
            "uploadfile: True\n"
            "Port = " +
                std::to_string(server.port()) +
                "\n"
                "downloadfile: True\n"
                "ReadId: \"A1B2C3\" + 1018 NUL\n"
                "DevBeep: ok\n"
                "DevBeep: error: \"soon\" is not a whole number\n"
                "CloseComm: ok\n"
                "disconnect: ok\n");
  EXPECT_EQ(read_file(dir / "drives" / "d" / "c.bin"), "abc");
}

}  // namespace
}  // namespace desk::web
