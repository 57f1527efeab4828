// The suite over HTTPS with a self-signed pair made by deskhost: a client
// that trusts the certificate reaches the pages, the session cookie is
// marked Secure, and plain HTTP on the HTTPS port gets no page.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include "core/error.h"
#include "deskhost/tls_cert.h"
#include "platform/http/http.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

namespace fs = std::filesystem;

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string head, body;
};

std::size_t append(char* data, std::size_t size, std::size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

// A request trusting only `ca`; `post` is sent as a form when not empty.
Fetched fetch(const std::string& url, const fs::path& ca, const std::string& post = "") {
  Fetched f;
  CURL* c = curl_easy_init();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_CAINFO, ca.c_str());
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &f.body);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, append);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &f.head);
  if (!post.empty()) curl_easy_setopt(c, CURLOPT_POSTFIELDS, post.c_str());
  f.code = curl_easy_perform(c);
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &f.status);
  curl_easy_cleanup(c);
  return f;
}

TEST(Https, ServesThePagesWithASecureSessionCookie) {
  testing::TestApp app;
  app.add_user("zhang", "张三", "pw");
  const fs::path tls = app.dir() / "data" / "tls";
  deskhost::make_self_signed(tls / "cert.pem", tls / "key.pem", {"oa.example"});
  EXPECT_EQ(
      fs::status(tls / "key.pem").permissions() & (fs::perms::group_all | fs::perms::others_all),
      fs::perms::none);

  http::Options o{.host = "127.0.0.1", .port = 0, .threads = 2, .access_log = false};
  o.tls_certificate = (tls / "cert.pem").string();
  o.tls_key = (tls / "key.pem").string();
  http::Server server(o, app.host());
  server.listen();
  server.start();
  const std::string base = "://127.0.0.1:" + std::to_string(server.port()) + "/tarvo/";

  Fetched page = fetch("https" + base + "error.asp", tls / "cert.pem");
  ASSERT_EQ(page.code, CURLE_OK) << curl_easy_strerror(page.code);
  EXPECT_EQ(page.status, 200);
  Fetched login =
      fetch("https" + base + "login.asp", tls / "cert.pem", "username=zhang&password=pw");
  EXPECT_EQ(login.status, 302) << login.body;
  EXPECT_NE(login.head.find("; HttpOnly; SameSite=Lax; Secure"), std::string::npos) << login.head;
  // The key file is under data/, never served.
  EXPECT_EQ(fetch("https" + base + "data/tls/key.pem", tls / "cert.pem").status, 404);
  // Plain HTTP on the HTTPS port gets no page.
  Fetched plain = fetch("http" + base + "error.asp", tls / "cert.pem");
  EXPECT_TRUE(plain.code != CURLE_OK || plain.status != 200);

  // A key that is not the certificate's, or a missing file, is a setting error.
  deskhost::make_self_signed(app.dir() / "other.pem", app.dir() / "otherkey.pem", {});
  for (auto [cert, key] : {std::pair{tls / "cert.pem", app.dir() / "otherkey.pem"},
                           std::pair{tls / "cert.pem", app.dir() / "none.pem"}}) {
    http::Options bad = o;
    bad.tls_certificate = cert.string();
    bad.tls_key = key.string();
    try {
      http::Server s(bad, app.host());
      ADD_FAILURE() << key;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), Errc::config);
    }
  }
}

}  // namespace
}  // namespace desk
