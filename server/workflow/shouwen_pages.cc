#include "server/workflow/shouwen_pages.h"

#include "server/workflow/history.h"

#include <string>
#include <string_view>

#include "core/text.h"
#include "server/host/kit.h"
#include "server/workflow/docview.h"
#include "server/workflow/flow.h"
#include "server/workflow/picker.h"
#include "server/workflow/shouwen.h"

namespace desk::workflow {
namespace {

using text::html;

// The leader picker in the right-hand column (several users) and its script.
void write_picker(asp::ScriptingContext& ctx) {
  auto picker = ctx.server().CreateObject<Picker>("deskserver.turnmoreshouwen");
  picker->main(ctx.conn());
  ctx.response().Write("<script language='javascript' src='picker.js'></script>");
}

// A choice of one user ("" for none), by name with the login id.
std::string user_choice(db::Connection& conn, std::string_view field) {
  std::string out =
      "<select name='" + std::string(field) + "'><option value=''>（不指定）</option>";
  for (const db::Row& u :
       conn.query("SELECT uid, name, dep FROM userlist WHERE disabled = 0 ORDER BY dep, uid"))
    out += "<option value='" + html(u.text("uid")) + "'>" + html(text::trim(u.text("name"))) +
           "（" + html(u.text("dep")) + "）</option>";
  return out + "</select>";
}

// Page script shared by both registration forms. checkpeople() opens the
// member tree; the picker fills `hiddenselect` ("a;b;") and `username`.
constexpr std::string_view kPeopleScript = R"JS(
function checkpeople() {
  var tables = document.querySelectorAll('table[id^="dep"]');
  for (var i = 0; i < tables.length; i++) tables[i].style.display = '';
  var top = document.getElementsByName('top')[0];
  if (top && top.scrollIntoView) top.scrollIntoView();
}
function fieldof(name) { return document.form.elements[name]; }
function leaderschosen() {
  if (fieldof('hiddenselect').value.replace(/[;\s]/g, '') === '') {
    alert('请在右边的成员列表中选择批办领导！');
    checkpeople();
    return false;
  }
  return true;
}
window.addEventListener('load', function () {
  var u = fieldof('username');
  if (u) { u.readOnly = true; u.placeholder = '在右边的成员列表中选择'; }
});
)JS";

// Registration of a document from outside: validates, sends the chosen file
// as the whole body to swpso.asp (which keeps the new row's id in the
// session), then submits the form with the file's name and extension. With
// the user's document helper (office.js) the body may be a file of the
// user's computer named by its path, which the helper uploads.
constexpr std::string_view kRegisterScript = R"JS(
var sending = false, officeok = false;
function tokened(url) {
  return url + '?formtoken=' + (formtokens.length ? formtokens.shift() : '');
}
function extof(name) {
  var dot = name.lastIndexOf('.');
  return dot >= 0 ? name.substring(dot + 1) : '';
}
function helperupload(local) {
  var cut = local.lastIndexOf('\\');
  var folder = cut >= 0 ? local.substring(0, cut) : '', name = local.substring(cut + 1);
  sending = true;
  office.upload(tokened('swpso.asp'), name, folder, String(maxsize)).then(function (ok) {
    if (!ok) throw new Error('文件正文上传失败，请检查本机文件的路径后重试！');
    fieldof('fujian').value = name;
    fieldof('fujiantype').value = extof(name);
    fieldof('file').disabled = true;
    document.form.submit();
  }).catch(function (e) { sending = false; alert(e.message); });
  return false;
}
window.addEventListener('load', function () {
  office.ready().then(function (ok) {
    officeok = ok;
    if (ok) document.getElementById('officebox').style.display = '';
    else office.sayFallback(document.getElementById('officenote'));
  });
});
function checkform() {
  if (sending) return false;
  if (fieldof('title').value.replace(/\s/g, '') === '') {
    alert('请输入文件标题！');
    fieldof('title').focus();
    return false;
  }
  if (!leaderschosen()) return false;
  var input = fieldof('file');
  var local = officeok ? document.getElementById('officepath').value.trim() : '';
  if (local) return helperupload(local);
  var file = input.files && input.files[0];
  if (!file) { alert('请选择文件正文！'); return false; }
  if (file.size === 0) { alert('所选的文件正文是空文件！'); return false; }
  if (file.size > maxsize) { alert('文件正文超过了允许的大小！'); return false; }
  sending = true;
  fetch(tokened('swpso.asp'), {method: 'POST', body: file, credentials: 'same-origin',
                      headers: {'Content-Type': 'application/octet-stream'}})
    .then(function (r) {
      if (!r.ok) throw new Error(r.status === 413 ? '文件正文超过了允许的大小！' : '文件正文上传失败，请重试！');
      var dot = file.name.lastIndexOf('.');
      fieldof('fujian').value = file.name;
      fieldof('fujiantype').value = dot >= 0 ? file.name.substring(dot + 1) : '';
      input.disabled = true;
      document.form.submit();
    })
    .catch(function (e) { sending = false; alert(e.message); });
  return false;
}
)JS";

// "swdengji1.asp": the registration form of a document from outside; its
// post is saved by swdengji1.main.
void swdengji1_page(asp::ScriptingContext& ctx, Swdengji1& page) {
  page.main(ctx.conn());
  page.main1();
  auto& r = ctx.response();
  r.Write(
      "<div id='officebox' class='10blue' style='display:none'>或用办公助手上传本机文件：<br>"
      "<input type='text' id='officepath' size='26' placeholder='如 d:\\收文\\来文.docx'>"
      "</div><div id='officenote' class='10blue'></div>");
  write_picker(ctx);
  r.Write("<input type='hidden' name='fujiantype'>");
  std::string tokens;
  for (int i = 0; i < 3; ++i)
    tokens += std::string(i ? "," : "") + "'" + text::js_string(host::form_token(ctx)) + "'";
  r.Write("<script language='javascript' src='office.js'></script>");
  r.Write("<script language='javascript'>var maxsize=" +
          std::to_string(asp::upload_ceiling(ctx.session(), ctx.config())) + ";var formtokens=[" +
          tokens + "];" + std::string(kPeopleScript) + std::string(kRegisterScript) + "</script>");
  r.Write(host::form_token_field(ctx));
  page.main2();
}

// The registration form of a distributed document, below its view.
void distributed_form(asp::ScriptingContext& ctx, const Item& item, const db::Row& doc,
                      const std::string& view) {
  const Regional& regional = ctx.regional();
  std::string worktime = regional.date(ctx.now());
  DateTime written;
  if (DateTime::parse_iso(doc.text("writetime"), written)) worktime = regional.date(written);
  auto field = [](std::string_view name, const std::string& value, std::string_view size,
                  std::string_view title) {
    return "<input class='fileinput' type='text' name='" + std::string(name) + "' value='" +
           html(value) + "' size='" + std::string(size) + "' title='" + std::string(title) + "'>";
  };
  auto row2 = [](std::string_view l1, const std::string& f1, std::string_view l2,
                 const std::string& f2) {
    return "<tr bgcolor='#FFFFFF'><td width='13%' height='30' class='label'>" + std::string(l1) +
           "</td><td width='37%'>" + f1 + "</td><td width='13%' class='label'>" + std::string(l2) +
           "</td><td width='37%'>" + f2 + "</td></tr>";
  };
  auto row1 = [](std::string_view label, const std::string& f, std::string_view height = "30") {
    return "<tr bgcolor='#FFFFFF'><td height='" + std::string(height) + "' class='label'>" +
           std::string(label) + "</td><td colspan='3'>" + f + "</td></tr>";
  };

  std::string out = page_head("收文登记");
  out +=
      "<table width='100%' cellpadding='0' cellspacing='0'><tr><td valign='top'>"
      "<div class='pagetitle'>收文登记</div><div class='section'>分发来的公文</div>";
  out += view;
  out += "<div class='section'>登记为收文</div>";
  out +=
      "<form name='form' method='POST' action='swdengji.asp' "
      "onsubmit='return leaderschosen()'>"
      "<table width='100%' border='0' cellspacing='1' cellpadding='2' bgcolor='990000'>";
  out += row2("收文编号：", field("swid", "", "20", "单击，请输入收文号"), "密　　级：",
              host::select("miji", host::kMiji, doc.text("miji")) + "&nbsp;缓　　急：" +
                  host::select("huanji", host::kHuanji, doc.text("huanji")));
  out += row2("来文时间：", field("arrivetime", regional.date(ctx.now()), "20", "来文时间"),
              "成文时间：", field("worktime", worktime, "20", "成文时间"));
  out += row2("来文单位：", field("fromdep", doc.text("writedep"), "20", "单击，请输入来文单位"),
              "份　　数：", field("copy", "1", "6", "份数"));
  out += row1("文　　号：", field("wenhao", doc.text("wenhao"), "45", "单击，请输入文号"));
  out += row1("标　　题：", field("title", doc.text("title"), "48", "单击，请输入文件标题"));
  out += row1("主 题 词：", field("keyword", doc.text("keywords"), "48", "单击，请输入文件主题词"));
  out += row1("拟办意见：",
              "<textarea class='body1' name='name_nb' title='单击，请输入拟办意见' "
              "style='width:80%' rows='4'></textarea>",
              "80");
  out += row1("承 办 人：",
              user_choice(ctx.conn(), "workpeople") + " <span class='hint'>（可不选）</span>");
  out += row1("批办领导：",
              "<input class='lineinput' type='text' name='username' size='40' "
              "onClick='checkpeople()' style='cursor:pointer'>"
              "&nbsp;&nbsp;<input type='submit' value=' 提 交 '>&nbsp;"
              "<input type='button' value=' 返 回 ' onClick=\"document.location='right.asp'\">",
              "40");
  out += "</table>";
  out += "<input type='hidden' name='documentname' value='" + html(doc.text("documentname")) + "'>";
  out += "<input type='hidden' name='hiddenselect'>";
  out += "<input type='hidden' name='single' value='single'>";
  out += "<input type='hidden' name='hiddennum' value='0'>";
  out += "<input type='hidden' name='flag' value='2'>";
  out += "<input type='hidden' name='flowid' value='" + std::to_string(item.baseid) + "'>";
  out += "<input type='hidden' name='nwid' value='" + std::to_string(item.id) + "'>";
  out += host::form_token_field(ctx);
  out += "</form></td><td width='200' valign='top'>";
  ctx.response().Write(out);
  write_picker(ctx);
  ctx.response().Write("</td></tr></table><script language='javascript'>" +
                       std::string(kPeopleScript) + "</script></body></html>");
}

// "swdengji.asp?flowid=&nwid=": opened from the desk, shows the distributed
// document with the registration form and makes it the session's outgoing
// document; the form's post is saved by swdengji.main.
void swdengji_page(asp::ScriptingContext& ctx, Swdengji& page) {
  auto& req = ctx.request();
  if (req.is_post()) {
    page.main(ctx.conn());
    throw Error(Errc::bad_request, "提交的登记内容不完整，请从待办事宜中重新打开收文登记。");
  }

  const std::int64_t flowid = text::parse_id(req.QueryString("flowid"));
  if (flowid == 0) throw Error(Errc::bad_request, "没有指明要登记的公文。");
  Item item = work::open_item(ctx.conn(), req.QueryString("nwid"), ctx.session().get("uid"), flowid,
                              find_step(kRegistration)->item.url);
  std::optional<std::string> view = fawen_view(ctx.conn(), flowid, ctx.regional());
  db::Result doc = ctx.conn().query(
      "SELECT title, wenhao, miji, huanji, keywords, documentname, writedep, writetime "
      "FROM fawen WHERE id = ?",
      {flowid});
  if (!view || doc.empty()) throw Error(Errc::not_found, "要登记的公文不存在。");
  ctx.session().set("fawenid", std::to_string(flowid));
  distributed_form(ctx, item, doc.front(), *view);
}

constexpr std::string_view kPibanScript = R"JS(
function checkpiban() {
  var f = document.form.elements['remark'];
  if (f.value.replace(/\s/g, '') === '') { alert('请填写批办意见！'); f.focus(); return false; }
  return true;
}
)JS";

// "piban.asp?flowid=&nwid=": the incoming document, its history and, while
// the item is pending, the form for the instruction; posted back to itself.
void piban_page(asp::ScriptingContext& ctx, Piban& page) {
  auto& req = ctx.request();
  if (req.is_post()) return page.main(ctx.conn());

  auto& conn = ctx.conn();
  const std::string uid = ctx.session().get("uid");
  const std::int64_t flowid = text::parse_id(req.QueryString("flowid"));
  // A done item still shows the document and when it was done.
  std::optional<Item> item = work::load_item(conn, text::parse_id(req.QueryString("nwid")));
  if (!item || item->userid != uid || item->url != kInstructionItem.url || item->baseid != flowid)
    throw Error(Errc::conflict, "该待办事项已经办理，或不是您的待办事项。");
  std::optional<std::string> view = shouwen_view(conn, flowid, ctx.regional(), true);
  if (!view) throw Error(Errc::not_found, "该收文不存在。");
  // Older body links ("swload.asp" without an id) serve the session's
  // incoming document.
  ctx.session().set("shouwenid", std::to_string(flowid));

  std::string out = page_head("收文批办");
  out += "<div class='pagetitle'>收文批办</div><div class='section'>收文</div>";
  out += *view;
  out += "<div class='section'>办理记录</div>";
  out += history_table(conn, DocKind::incoming, flowid, ctx.regional());
  if (item->status != 0) {
    out += "<p class='hint'>该批办事项已于 " + html(ctx.regional().shown(item->donetime)) +
           " 办理完毕。</p><p><a href='right.asp' class='aapply'>返回</a></p>";
  } else {
    const LeaderChain chain = leader_chain(item->userlist);
    const std::string after =
        chain.next.empty() ? "提交后本收文批办结束。"
                           : "提交后转交：" + user_names(conn, item->userlist) + "（依次批办）";
    out += "<div class='section'>批办意见</div>";
    out +=
        "<form name='form' method='POST' action='piban.asp' onsubmit='return checkpiban()'>"
        "<table width='100%' border='0' cellspacing='1' cellpadding='3' bgcolor='990000'>"
        "<tr bgcolor='#FFFFFF'><td width='13%' class='label'>批办意见：</td><td>"
        "<textarea class='body1' name='remark' rows='5' style='width:80%'></textarea>"
        "<div class='hint'>" +
        html(after) +
        "</div></td></tr><tr bgcolor='#FFFFFF'><td colspan='2' align='center' height='36'>"
        "<input type='submit' value=' 提 交 '>&nbsp;<input type='button' value=' 返 回 ' "
        "onClick=\"document.location='right.asp'\"></td></tr></table>"
        "<input type='hidden' name='flowid' value='" +
        std::to_string(flowid) + "'><input type='hidden' name='nwid' value='" +
        std::to_string(item->id) + "'>" + host::form_token_field(ctx) +
        "</form><script language='javascript'>" + std::string(kPibanScript) + "</script>";
  }
  out += "</body></html>";
  ctx.response().Write(out);
}

}  // namespace

void register_shouwen_pages(asp::Registry& registry) {
  host::add_page<Swdengji1>(registry, "swdengji1", swdengji1_page,
                            {.title = "收文登记", .once = true});
  host::add_page<Swdengji>(registry, "swdengji", swdengji_page,
                           {.title = "收文登记", .once = true});
  host::add_page<Piban>(registry, "piban", piban_page, {.title = "收文批办", .once = true});
}

}  // namespace desk::workflow
