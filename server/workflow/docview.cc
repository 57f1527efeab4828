#include "server/workflow/docview.h"

#include "core/text.h"

namespace desk::workflow {
namespace {

using text::html;

// One labelled cell; `markup` is already safe for the page.
std::string cell(std::string_view label, const std::string& markup, int colspan = 1,
                 std::string_view height = "30") {
  std::string out = "<td height='" + std::string(height) + "' valign='top'";
  if (colspan > 1) out += " colspan='" + std::to_string(colspan) + "'";
  out += ">&nbsp;" + std::string(label) + "<font class='bblue'>" + markup + "</font></td>";
  return out;
}

}  // namespace

std::optional<std::string> fawen_view(db::Connection& conn, std::int64_t id,
                                      const Regional& regional) {
  db::Result r = conn.query(
      "SELECT wenhao, miji, huanji, baomiqx, dingmiyj, mainsend, tosend, writedep, writename, "
      "writetime, copy, title, keywords, documentname, fujianname, hegaoname, name_hg, name_sh, "
      "name_hq, name_qf, name_correct, name_print, donetime, status, "
      "filedata IS NOT NULL AS hasbody, psodata IS NOT NULL AS hasattachment "
      "FROM fawen WHERE id = ?",
      {id});
  if (r.empty()) return std::nullopt;
  const db::Row& d = r.front();
  auto f = [&d](std::string_view column) { return html(d.text(column)); };

  std::string body = "（无正文）";
  if (d.integer("hasbody") != 0) {
    std::string name = d.text("documentname").empty() ? "下载正文" : d.text("documentname");
    body = "<a href='loadhg.asp?flowid=" + std::to_string(id) +
           "' class='aapply' target='_blank'>" + html(name) +
           "</a>&nbsp;&nbsp;<a href='preview.asp?flowid=" + std::to_string(id) +
           "' class='aapply' target='_blank'>在线预览</a>";
  }
  std::string attachment = "（无附件）";
  if (d.integer("hasattachment") != 0) {
    std::string name = d.text("fujianname").empty() ? "下载附件" : d.text("fujianname");
    attachment = "<a href='loadpso.asp?flowid=" + std::to_string(id) +
                 "' class='aapply' target='_blank'>" + html(name) + "</a>";
  }
  std::string state = d.text("status") == "1"
                          ? "已分发（" + html(regional.shown(d.text("donetime"))) + "）"
                          : "办理中";

  std::string out =
      "<table width='100%' border='0' cellspacing='1' cellpadding='2' bgcolor='990000' "
      "class='fawenview'>";
  out += "<tr bgcolor='ffffff'>" + cell("标　　题：", f("title"), 3) + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("文　　号：", f("wenhao")) + cell("密　　级：", f("miji")) +
         cell("缓　　急：", f("huanji")) + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("保密期限：", f("baomiqx")) +
         cell("定密依据：", f("dingmiyj"), 2) + "</tr>";
  // The opinion columns hold blocks built by opinion_block: safe markup.
  out += "<tr bgcolor='f5f5f5'>" + cell("核稿意见：", d.text("name_hg"), 1, "70") +
         cell("审核意见：", d.text("name_sh"), 2, "70") + "</tr>";
  out += "<tr bgcolor='f5f5f5'>" + cell("签　　发：", d.text("name_qf"), 1, "70") +
         cell("会　　签：", d.text("name_hq"), 2, "70") + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("主　　送：", f("mainsend"), 3) + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("抄　　送：", f("tosend"), 3) + "</tr>";
  out += "<tr bgcolor='f5f5f5'>" + cell("拟稿单位：", f("writedep")) +
         cell("拟 稿 人：", f("writename")) + cell("核 稿 人：", f("hegaoname")) + "</tr>";
  out += "<tr bgcolor='f5f5f5'>" + cell("印　　制：", f("name_print")) +
         cell("校　　对：", f("name_correct")) + cell("份　　数：", f("copy")) + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("拟稿时间：", html(regional.shown(d.text("writetime")))) +
         cell("状　　态：", state, 2) + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("主 题 词：", f("keywords"), 3) + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("公文正文：", body) + cell("附　　件：", attachment, 2) +
         "</tr>";
  out += "</table>";
  return out;
}

}  // namespace desk::workflow
