#include "server/workflow/history.h"

#include "core/text.h"
#include "server/workflow/flow.h"

namespace desk::workflow {

using text::html;

std::string step_name(DocKind kind, std::string_view code) {
  if (code.empty()) return kind == DocKind::incoming ? "办结" : "";
  long long c = -1;
  if (!text::parse_int(code, c)) return std::string(code);
  if (kind == DocKind::incoming) {
    // Registration is code 0 of the incoming history, the instruction code 1.
    if (c == 0) return "收文登记";
    if (c == 1) return std::string(kInstructionItem.typed);
    return std::string(code);
  }
  if (c == kDrafting) return "拟稿";
  if (const Step* step = find_step(static_cast<int>(c))) return std::string(step->item.typed);
  return std::string(code);
}

std::string user_names(db::Connection& conn, std::string_view list) {
  std::string out;
  for (const std::string& uid : list_users(list)) {
    std::string name =
        conn.scalar("SELECT name FROM userlist WHERE uid = ? ORDER BY id LIMIT 1", {uid});
    if (!out.empty()) out += "、";
    out += name.empty() ? uid : name;
  }
  return out;
}

std::string history_table(db::Connection& conn, DocKind kind, std::int64_t id,
                          const Regional& regional) {
  // The road's own rows, with the send-backs kept beside them, in time order.
  const bool out_road = kind == DocKind::outgoing;
  db::Result rows = conn.query(
      std::string(out_road
                      ? "SELECT handlename, handleid, handletime, handtype AS step, nexttype, "
                        "nextid, remark, 0 AS back, id FROM workflow WHERE flowid = ? "
                      : "SELECT handlename, handleid, handletime, handletype AS step, "
                        "nexttype, nextid, remark, 0 AS back, id FROM swflow WHERE flowid = ? ") +
          "UNION ALL SELECT handlename, handleid, handletime, step, '' AS nexttype, toid AS "
          "nextid, "
          "reason AS remark, 1 AS back, id FROM sendback WHERE road = ? AND flowid = ? "
          "ORDER BY handletime, id",
      {id, out_road ? "fawen" : "shouwen", id});
  std::string out =
      "<table width='100%' border='0' cellspacing='1' cellpadding='3' bgcolor='990000' "
      "class='history'><tr bgcolor='#EEEEEE'><td width='12%'><b>办理人</b></td>"
      "<td width='18%'><b>办理时间</b></td><td width='12%'><b>办理步骤</b></td>"
      "<td width='12%'><b>下一步</b></td><td width='16%'><b>接收人</b></td>"
      "<td><b>意见</b></td></tr>";
  if (rows.empty())
    out += "<tr bgcolor='#FFFFFF'><td colspan='6' align='center'>没有办理记录。</td></tr>";
  for (const db::Row& r : rows) {
    std::string who = r.text("handlename");
    if (who.empty()) who = r.text("handleid");
    const bool back = r.integer("back") == 1;
    out += "<tr bgcolor='#FFFFFF'><td>" + html(who) + "</td><td>" +
           html(regional.shown(r.text("handletime"))) + "</td><td>" +
           html(back ? "退回拟稿人" : step_name(kind, r.text("step"))) + "</td><td>" +
           html(back ? std::string(kRedraftItem.typed) : step_name(kind, r.text("nexttype"))) +
           "</td><td>" + html(user_names(conn, r.text("nextid"))) + "</td><td>" +
           text::html_lines(r.text("remark")) + "</td></tr>";
  }
  return out + "</table>";
}

}  // namespace desk::workflow
