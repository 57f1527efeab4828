#include "server/host/transfer.h"

#include <map>
#include <mutex>
#include <set>

#include "core/text.h"
#include "platform/asp/session.h"

namespace desk::host {
namespace {

struct Grant {
  std::uint64_t app = 0;
  std::string session;  // cookie token of the session it acts for
  std::string uid;
  std::string page, document;
  std::string expires;  // ISO time of the application's clock
  bool used = false;
};

// Tokens of every application of the process; a few minutes' worth.
struct Store {
  std::mutex mu;
  std::map<std::string, Grant> grants;
  std::set<std::string, std::less<>> pages;
};

Store& store() {
  static Store s;
  return s;
}

constexpr std::size_t kMaxGrants = 20000;

}  // namespace

std::string transfer_document(const asp::Request& request) {
  std::string flowid = request.QueryString("flowid");
  return flowid.empty() ? request.QueryString("id") : flowid;
}

std::string issue_transfer(asp::ScriptingContext& ctx, std::string_view page,
                           std::string_view document) {
  asp::Session& s = ctx.session();
  Grant g;
  g.app = ctx.app().instance;
  g.session = s.token();
  g.uid = s.get("uid");
  g.page = text::to_lower(page);
  g.document = std::string(document);
  const DateTime now = ctx.now();
  g.expires = now.plus_seconds(kTransferMinutes * 60).iso();
  std::string token = asp::random_token();
  Store& st = store();
  std::lock_guard lock(st.mu);
  const std::string current = now.iso();
  for (auto it = st.grants.begin(); it != st.grants.end();)
    it = it->second.expires < current ? st.grants.erase(it) : std::next(it);
  if (st.grants.size() >= kMaxGrants) throw Error(Errc::conflict, "系统繁忙，请稍后再试。");
  st.grants.emplace(token, std::move(g));
  return token;
}

std::optional<TransferGrant> claim_transfer(const asp::AppEnv& app, std::string_view token,
                                            std::string_view page, std::string_view document,
                                            const DateTime& now) {
  Store& st = store();
  std::lock_guard lock(st.mu);
  auto it = st.grants.find(std::string(token));
  if (it == st.grants.end()) return std::nullopt;
  Grant& g = it->second;
  if (g.used || g.app != app.instance || g.expires < now.iso() || g.page != text::to_lower(page) ||
      g.document != document)
    return std::nullopt;
  g.used = true;
  return TransferGrant{g.session, g.uid};
}

bool is_transfer_page(std::string_view page) {
  Store& st = store();
  std::lock_guard lock(st.mu);
  return st.pages.count(text::to_lower(page)) > 0;
}

void add_transfer_page(std::string_view page) {
  Store& st = store();
  std::lock_guard lock(st.mu);
  st.pages.insert(text::to_lower(page));
}

}  // namespace desk::host
