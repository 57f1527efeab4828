#include "server/workflow/flow.h"

#include <array>

#include "core/error.h"
#include "core/text.h"

namespace desk::workflow {

NextUser next_user(std::string_view list) {
  std::size_t p = list.find(';');
  if (p == std::string_view::npos) return {std::string(list), ""};
  NextUser out;
  out.next = std::string(list.substr(0, p));
  if (p + 1 < list.size()) out.rest = std::string(list.substr(p + 1));
  return out;
}

std::vector<std::string> list_users(std::string_view list) {
  std::vector<std::string> users;
  std::string rest(list);
  while (!rest.empty()) {
    NextUser n = next_user(rest);
    if (!n.next.empty()) users.push_back(std::move(n.next));
    rest = std::move(n.rest);
  }
  return users;
}

std::string signature_date(const DateTime& now) {
  return std::to_string(now.year) + "年" + std::to_string(now.month) + "月" +
         std::to_string(now.day) + "日";
}

std::string opinion_block(std::string_view typed, std::string_view username, const DateTime& now) {
  return text::html(typed) + "<br>" + text::html(username) + "&nbsp;" + signature_date(now);
}

namespace {

constexpr std::array<Step, 7> kSteps = {{
    {kDrafting, "drafting", {"", ""}},
    {kVerification, "draft verification", {"核稿", "hegao.asp"}},
    {kReview, "review", {"审核", "shenhe.asp"}},
    {kCountersign, "countersign", {"会签", "huiqian.asp"}},
    {kSignOff, "sign-off", {"签发", "qianfa.asp"}},
    {kDistribution, "distribution and filing", {"公文归档", "fenfa.asp"}},
    {kRegistration, "registration", {"收文登记", "swdengji.asp"}},
}};

}  // namespace

const Step* find_step(int code) {
  if (code < 0 || code >= static_cast<int>(kSteps.size())) return nullptr;
  return &kSteps[code];
}

const Step* parse_step(std::string_view posted, int lowest, int highest) {
  long long code = 0;
  if (!text::parse_int(posted, code) || code < lowest || code > highest) return nullptr;
  return find_step(static_cast<int>(code));
}

const Step& routed_step(std::string_view posted, int lowest, int highest) {
  const Step* step = parse_step(posted, lowest, highest);
  if (!step) throw Error(Errc::bad_request, "请选择有效的下一步骤。");
  if (step->code == kCountersign)
    throw Error(Errc::bad_request,
                "会签需要选定会签人和签发人，请由审核人在审核页面选择“审核后送多人会签”。");
  return *step;
}

}  // namespace desk::workflow
