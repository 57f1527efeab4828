// The setup programs: both editions in one metabase, the second run, the
// failures, concurrent runs, and deskhost serving what a setup adds without
// a restart.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <thread>

#include "deskhost/appdir.h"
#include "platform/asp/metabase.h"
#include "setup/vdirsetup.h"
#include "tests/support/http_client.h"

extern char** environ;

namespace desk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using setup::Outcome;
using setup::RunFrom;
using namespace std::string_literals;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// True once `f` holds, looking every 50 ms for at most `within`.
bool eventually(const std::function<bool()>& f, std::chrono::seconds within = 20s) {
  for (auto end = std::chrono::steady_clock::now() + within;;) {
    if (f()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
}

// A program run with stdout and stderr appended to `log`; ended by SIGTERM
// if still running when dropped.
class Child {
 public:
  Child(const std::vector<std::string>& args, const fs::path& log) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ), 0) << args[0];
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    wait();
  }
  pid_t pid() const { return pid_; }
  // The exit status; -1 when the program did not exit normally.
  int wait() {
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    base_ =
        fs::temp_directory_path() / ("desk-setup-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(base_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }
  // The folder the metabase goes in does not exist yet.
  fs::path metabase() const { return base_ / "etc" / "metabase.json"; }
  // A folder holding copies of both setup programs (they set up the folder
  // they are in); an application folder when `init`.
  fs::path folder_with_programs(const std::string& name, bool init) {
    fs::path dir = base_ / name;
    if (init) {
      deskhost::InitOptions opt;
      opt.appdir = dir;
      opt.site = DESK_SITE_DIR;
      opt.admin_password = "admin-pw";
      opt.password_cost = "min";
      deskhost::init_appdir(opt);
    }
    fs::create_directories(dir);
    fs::copy_file(DESK_VDIRSETUP, dir / "vdirsetup");
    fs::copy_file(DESK_VDIRSETUPLAW, dir / "vdirsetuplaw");
    return dir;
  }
  setup::RunOptions options(RunFrom from = RunFrom::load, unsigned short port = 80) const {
    return {metabase(), base_ / "办公 系统", "10.1.2.3", port, from};
  }

  fs::path base_;
};

constexpr const char* kOfficeLine = "你可以在浏览器中输入以下地址登陆使用TARVO网络办公软件";
constexpr const char* kLawLine = "你可以在浏览器中输入以下地址登陆使用TARVO律师事务所管理系统";

TEST_F(SetupTest, BothEditionsSideBySideAndTheSecondRunFindsThem) {
  const struct {
    const setup::Edition& edition;
    unsigned short port;
    std::string created, exists;
  } cases[] = {
      {setup::kOfficeEdition, 80,
       "在服务器10.1.2.3上新建虚拟目录tarvo成功\n"s + kOfficeLine + "\n\nhttp://10.1.2.3/tarvo",
       "在服务器10.1.2.3已存在虚拟目录tarvo\n"s + kOfficeLine + "\n\nhttp://10.1.2.3/tarvo"},
      {setup::kLawEdition, 8080,
       "在服务器10.1.2.3上新建虚拟目录tarvolawyer成功\n"s + kLawLine +
           "\n\nhttp://10.1.2.3:8080/tarvolawyer",
       "在服务器10.1.2.3已存在虚拟目录tarvolawyer\n"s + kLawLine +
           "\n\nhttp://10.1.2.3:8080/tarvolawyer"},
  };
  for (const auto& c : cases) {
    setup::RunResult r = setup::setup_run(c.edition, options(RunFrom::load, c.port));
    EXPECT_EQ(r.outcome, Outcome::created) << c.edition.name;
    EXPECT_EQ(r.message, c.created);
  }

  asp::MetabaseRoot root(metabase());
  for (const auto& c : cases) {
    const std::string name(c.edition.name);
    asp::MetabaseDir d = root.GetObject(asp::kVirtualDirClass, name);
    auto text = [&](const char* p) { return std::get<std::string>(d.Get(p)); };
    auto number = [&](const char* p) { return std::get<long long>(d.Get(p)); };
    EXPECT_EQ(text("AppRoot"), "/LM/W3SVC/1/Root/" + name);
    EXPECT_EQ(text("AppFriendlyName"), name);
    EXPECT_EQ(text("Path"), (base_ / "办公 系统").string());
    EXPECT_EQ(text("DefaultDoc"), "Default.asp,index.asp,index.htm");
    EXPECT_EQ(number("AppIsolated"), 0);
    EXPECT_EQ(number("AccessFlags"), 535);
  }
  auto dirs = asp::load_metabase(metabase());
  ASSERT_EQ(dirs.size(), 2u);
  for (const auto& d : dirs) {
    EXPECT_EQ(d.default_documents,
              (std::vector<std::string>{"Default.asp", "index.asp", "index.htm"}));
    EXPECT_TRUE(d.read && d.script && d.in_process) << d.name;
  }

  // Again, at start-up or asked for again: the directory stays as it is.
  const std::string before = slurp(metabase());
  for (const auto& c : cases)
    for (RunFrom from : {RunFrom::load, RunFrom::again}) {
      setup::RunResult r = setup::setup_run(c.edition, options(from, c.port));
      EXPECT_EQ(r.outcome, Outcome::exists) << c.edition.name;
      EXPECT_EQ(r.message, c.exists);
    }
  EXPECT_EQ(slurp(metabase()), before);
}

TEST_F(SetupTest, AMetabaseThatCannotBeWrittenGivesTheMissingServiceText) {
  const struct {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"no folder for the metabase", [&] { std::ofstream(base_ / "etc") << "a file"; }},
      {"damaged metabase",
       [&] {
         fs::create_directories(metabase().parent_path());
         std::ofstream(metabase()) << "{\"vdirs\": [";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(base_ / "etc");
    c.arrange();
    setup::VdirSetup s(metabase());
    EXPECT_FALSE(s.WebVirtualDir("tarvo", "tarvo", "/srv/tarvo", "index.htm"));
    EXPECT_EQ(s.strID, std::to_string(asp::kMetabaseUnreachable));
    ASSERT_FALSE(s.strError.empty());

    setup::RunResult r = setup::setup_run(setup::kOfficeEdition, options(RunFrom::load));
    EXPECT_EQ(r.outcome, Outcome::failed);
    EXPECT_EQ(r.message, "操作系统没有IIS服务，请安装IIS服务\n具体错误如下：\n\n" + s.strError);
    r = setup::setup_run(setup::kOfficeEdition, options(RunFrom::again));
    EXPECT_EQ(r.outcome, Outcome::failed);
    EXPECT_EQ(r.message, "操作系统没有IIS服务，请安装IIS服务。具体错误如下：" + s.strError);
  }
  EXPECT_EQ(slurp(metabase()), "{\"vdirs\": [");
}

TEST_F(SetupTest, ConcurrentSetupsKeepEveryEntry) {
  // Many writers in one process, each on its own lock: every directory is
  // written once, and of those racing for one name exactly one creates it.
  constexpr int kThreads = 8, kEach = 5;
  std::atomic<int> shared_created{0}, shared_exists{0};
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < kThreads; ++t)
      writers.emplace_back([&, t] {
        for (int i = 0; i < kEach; ++i) {
          std::string name = "d" + std::to_string(t) + "_" + std::to_string(i);
          setup::VdirSetup s(metabase());
          EXPECT_TRUE(s.WebVirtualDir(name, name, "/srv/" + name, "index.htm")) << s.strError;
        }
        setup::VdirSetup s(metabase());
        if (s.WebVirtualDir("shared", "shared", "/srv/shared", "index.htm"))
          ++shared_created;
        else if (s.strID == setup::kExistsID)
          ++shared_exists;
      });
  }
  EXPECT_EQ(shared_created, 1);
  EXPECT_EQ(shared_exists, kThreads - 1);
  EXPECT_EQ(asp::load_metabase(metabase()).size(), size_t{kThreads * kEach + 1});

  // The two programs at once, on a metabase of their own.
  fs::path dir = folder_with_programs("app", false);
  fs::path mb = base_ / "pair.json";
  fs::path log_office = base_ / "office.log", log_law = base_ / "law.log";
  Child office({(dir / "vdirsetup").string(), "--metabase", mb.string()}, log_office);
  Child law({(dir / "vdirsetuplaw").string(), "--metabase", mb.string()}, log_law);
  EXPECT_EQ(office.wait(), 0) << slurp(log_office);
  EXPECT_EQ(law.wait(), 0) << slurp(log_law);
  for (const auto& log : {log_office, log_law})
    EXPECT_EQ(slurp(log).rfind("正在配置IIS服务\n在服务器", 0), 0u) << slurp(log);
  auto dirs = asp::load_metabase(mb);
  ASSERT_EQ(dirs.size(), 2u);
  for (const auto& d : dirs) EXPECT_EQ(d.path, dir) << d.name;
}

// One GET on a fresh connection; the status, and the body in `body`.
unsigned get(unsigned short port, const std::string& path, std::string* body = nullptr,
             std::string* location = nullptr) {
  testing::HttpClient c(port);
  c.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  auto r = c.read();
  if (body) *body = r.body();
  if (location) *location = std::string(r[boost::beast::http::field::location]);
  return r.result_int();
}

TEST_F(SetupTest, DeskhostServesWhatASetupAddsWithoutARestart) {
  fs::path app = folder_with_programs("app", true);
  // An empty site, padded so that a later entry fits in the same size.
  const std::string empty = R"({"vdirs": []})";
  fs::create_directories(metabase().parent_path());
  std::ofstream(metabase()) << empty << std::string(2048 - empty.size(), ' ');

  fs::path log = base_ / "deskhost.log";
  Child host({DESK_DESKHOST, "serve", "--metabase", metabase().string(), "--host", "127.0.0.1",
              "--port", "0", "--threads", "1", "--quiet"},
             log);
  unsigned short port = 0;
  ASSERT_TRUE(eventually([&] {
    std::smatch m;
    std::string text = slurp(log);
    if (!std::regex_search(text, m, std::regex("listening on http://127\\.0\\.0\\.1:(\\d+)/")))
      return false;
    port = static_cast<unsigned short>(std::stoi(m[1]));
    return true;
  })) << slurp(log);
  EXPECT_EQ(get(port, "/tarvolawyer/"), 404u);

  // SIGHUP: the law edition's entry is put in place of the file's contents
  // while deskhost is stopped, with the file's size and time kept, so only
  // the signal can tell deskhost about it.
  fs::path scratch = base_ / "scratch.json";
  Child law({(app / "vdirsetuplaw").string(), "--metabase", scratch.string()}, base_ / "law.log");
  ASSERT_EQ(law.wait(), 0) << slurp(base_ / "law.log");
  std::string entry = slurp(scratch);
  ASSERT_LT(entry.size(), 2048u);
  entry.resize(2048, ' ');
  struct stat before {};
  ASSERT_EQ(::stat(metabase().c_str(), &before), 0);
  ::kill(host.pid(), SIGSTOP);
  {
    std::fstream f(metabase(), std::ios::in | std::ios::out | std::ios::binary);
    f.write(entry.data(), static_cast<std::streamsize>(entry.size()));
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, metabase().c_str(), times, 0), 0);
  ::kill(host.pid(), SIGCONT);
  EXPECT_EQ(get(port, "/tarvolawyer/"), 404u);
  ::kill(host.pid(), SIGHUP);
  EXPECT_TRUE(eventually([&] { return get(port, "/tarvolawyer/") == 200; })) << slurp(log);

  // A setup run replaces the file: deskhost sees the change by itself.
  Child office({(app / "vdirsetup").string(), "--metabase", metabase().string()},
               base_ / "office.log");
  ASSERT_EQ(office.wait(), 0) << slurp(base_ / "office.log");
  std::string body, location;
  EXPECT_TRUE(eventually([&] { return get(port, "/tarvo/", &body) == 200; })) << slurp(log);
  // The address the program prints leads to the login page.
  EXPECT_EQ(get(port, "/tarvo", nullptr, &location), 301u);
  EXPECT_EQ(location, "/tarvo/");
  EXPECT_NE(body.find("url=default.htm"), std::string::npos) << body;
  EXPECT_EQ(get(port, "/tarvo/default.htm", &body), 200u);
  EXPECT_NE(body.find("action='login.asp'"), std::string::npos);
  EXPECT_EQ(get(port, "/tarvolawyer/default.htm"), 200u);
}

}  // namespace
}  // namespace desk
