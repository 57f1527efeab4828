#include "server/workflow/fawen_pages.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "server/host/chrome.h"
#include "server/host/kit.h"
#include "server/workflow/approval.h"
#include "server/workflow/docview.h"
#include "server/workflow/fawen.h"
#include "server/workflow/flow.h"
#include "server/workflow/picker.h"
#include "server/workflow/staging.h"

namespace desk::workflow {
namespace {

using text::html;

// ---- Page frame -------------------------------------------------------------

void open_page(asp::Response& r, std::string_view title) {
  r.Write(host::page_head(title));
}

void close_page(asp::Response& r) {
  r.Write(host::kPageEnd);
}

void title_bar(asp::Response& r, std::string_view title) {
  r.Write(host::title_bar(title, {{"right.asp", "返回桌面"}}));
}

using host::message_page;
using host::plain_answer;

// Once-only tokens for the uploads a page's script may post.
constexpr int kUploadTokens = 4;

// The page scripts: the upload ceiling and tokens, the user's name for the
// revisions the document helper records, the picker, the document helper's
// bridge and this road's own script.
void page_scripts(asp::ScriptingContext& ctx) {
  std::string tokens;
  for (int i = 0; i < kUploadTokens; ++i)
    tokens += std::string(i ? "," : "") + "'" + text::js_string(host::form_token(ctx)) + "'";
  ctx.response().Write("<script language='javascript'>var maxsize=" +
                       std::to_string(asp::upload_ceiling(ctx.session(), ctx.config())) +
                       ";var formtokens=[" + tokens + "];var officeuser='" +
                       text::js_string(host::current_user(ctx).name) +
                       "';</script><script language='javascript' src='picker.js'></script>"
                       "<script language='javascript' src='office.js'></script>"
                       "<script language='javascript' src='fawen.js'></script>");
}

// The body tools of a page that works on a document body with the user's
// document helper: its buttons, shown once the helper answers, and the note
// shown when it does not. `mode` is "draft", "redraft", "review" or "sign".
std::string body_tools(std::string_view mode, std::int64_t flowid) {
  std::string buttons;
  if (mode == "draft")
    buttons = "<input type='button' value='用所选模板撰写正文' onclick='draftOpen()'>";
  else if (mode == "redraft")
    buttons = "<input type='button' value='打开正文修改' onclick='draftOpen()'>";
  else if (mode == "review")
    buttons = "<input type='button' value='打开正文（修订模式）' onclick='stepOpen()'>";
  else
    buttons =
        "<input type='button' value='打开正文' onclick='stepOpen()'> "
        "<input type='button' value='插入我的签名' onclick='stepSign()'>";
  return "<div id='officebox' class='10blue' style='display:none' data-mode='" + std::string(mode) +
         "' data-flowid='" + std::to_string(flowid) + "'>正文：" + buttons +
         " <span id='officestate'></span></div><div id='officenote' class='10blue'></div>";
}

void picker(asp::ScriptingContext& ctx, bool several) {
  auto p = ctx.server().CreateObject<Picker>(several ? "deskserver.turnmorefawen"
                                                     : "deskserver.turnonefawen");
  p->main(ctx.conn());
}

// The display field and the hidden field the picker fills.
std::string chosen_field() {
  return "<input type='text' name='username' size='40' readonly class='fileinput'>"
         "<input type='hidden' name='hiddenselect'> （在右边的成员列表中选择）";
}

std::string form_row(std::string_view label, std::string_view content) {
  return "<tr><td class='10blue' width='90' valign='top'>" + std::string(label) +
         "</td><td class='10blue'>" + std::string(content) + "</td></tr>";
}

// The next-step choice for the codes `lowest`..`highest`.
std::string typed_select(int lowest, int highest, int selected) {
  std::string out = "<select name='typed'>";
  for (int code = lowest; code <= highest; ++code) {
    // Countersign starts from the review page's chain form, never from here.
    if (code == kCountersign) continue;
    out += "<option value='" + std::to_string(code) + "'";
    if (code == selected) out += " selected";
    out += ">" + std::string(find_step(code)->item.typed) + "</option>";
  }
  return out + "</select>";
}

std::string user_name(db::Connection& conn, const std::string& uid) {
  std::string name = conn.scalar("SELECT name FROM userlist WHERE uid = ?", {uid});
  return name.empty() ? uid : text::trim(name);
}

// ---- Step pages -------------------------------------------------------------

// The item a step page was opened with (?flowid=&nwid=): the user's pending
// item of that document leading to `url`; refused otherwise.
Item opened_item(asp::ScriptingContext& ctx, std::string_view url) {
  return work::open_item(ctx.conn(), ctx.request().QueryString("nwid"), ctx.session().get("uid"),
                         text::parse_id(ctx.request().QueryString("flowid")), url);
}

// Opens a step page on the item's document: Session `fawenid` names it (the
// send-back and older links read it; the page's own links carry the id), and
// its view comes first.
void begin_step_page(asp::ScriptingContext& ctx, const Item& item, std::string_view title,
                     std::string_view before = "") {
  std::optional<std::string> view = fawen_view(ctx.conn(), item.baseid, ctx.regional());
  if (!view) throw Error(Errc::not_found, "所办理的公文不存在。");
  ctx.session().set("fawenid", std::to_string(item.baseid));
  auto& r = ctx.response();
  open_page(r, title);
  title_bar(r, std::string(title) + "：" + item.title);
  r.Write(std::string(before) +
          "<table width='100%' border='0' cellspacing='0' cellpadding='4'><tr><td valign='top'>" +
          *view);
}

std::string form_open(std::string_view action, const Item& item, std::string_view check) {
  return "<form name='form' method='post' action='" + std::string(action) + "' onsubmit='return " +
         std::string(check) + "'><input type='hidden' name='flowid' value='" +
         std::to_string(item.baseid) + "'><input type='hidden' name='nwid' value='" +
         std::to_string(item.id) +
         "'><table width='100%' border='0' cellspacing='0' cellpadding='4'>";
}

std::string form_close(asp::ScriptingContext& ctx, std::string_view submit) {
  return form_row("", "<input type='submit' value='" + std::string(submit) + "'>") + "</table>" +
         host::form_token_field(ctx) + "</form>";
}

std::string opinion_box(std::string_view field) {
  return "<textarea name='" + std::string(field) + "' cols='60' rows='5'></textarea>";
}

// The send-back form: the reason is appended to the page's own opinion column.
std::string sendback_form(asp::ScriptingContext& ctx, const Item& item, std::string_view column) {
  return "<form name='backform' method='post' action='sendback.asp' "
         "onsubmit='return checkback()'><input type='hidden' name='flowid' value='" +
         std::to_string(item.baseid) + "'><input type='hidden' name='nwid' value='" +
         std::to_string(item.id) + "'><input type='hidden' name='backtype' value='" +
         std::string(column) + "'><table width='100%' border='0' cellspacing='0' cellpadding='4'>" +
         form_row("退回理由：", "<textarea name='reason' cols='60' rows='3'></textarea>") +
         form_row("", "<input type='submit' value='退回拟稿人'>") + "</table>" +
         host::form_token_field(ctx) + "</form>";
}

// Closes the document column and writes the right-hand one (a picker, or
// nothing), then the scripts.
void end_step_page(asp::ScriptingContext& ctx, std::optional<bool> several) {
  auto& r = ctx.response();
  r.Write("</td>");
  if (several) {
    r.Write("<td width='200' valign='top'>");
    picker(ctx, *several);
    r.Write("</td>");
  }
  r.Write("</tr></table>");
  page_scripts(ctx);
  close_page(r);
}

// A posted step: the component does the work; a refusal reaches the kit.
template <class T>
void post_step(asp::ScriptingContext& ctx, T& step, std::string_view title, std::string_view done) {
  step.main(ctx.conn());
  if (!ctx.response().redirected()) message_page(ctx, 200, title, done);
}

void hegao_page(asp::ScriptingContext& ctx, Hegao& step) {
  if (ctx.request().is_post()) return post_step(ctx, step, "核稿", "公文已发送");
  Item item = opened_item(ctx, "hegao.asp");
  begin_step_page(ctx, item, "核稿");
  ctx.response().Write(body_tools("review", item.baseid) +
                       form_open("hegao.asp", item, "stepSubmit(this, checkstep(true))") +
                       form_row("核稿意见：", opinion_box("name_hg")) +
                       form_row("下 一 步：", typed_select(kVerification, kSignOff, kReview)) +
                       form_row("处 理 人：", chosen_field()) + form_close(ctx, "提 交") +
                       sendback_form(ctx, item, "name_hg"));
  end_step_page(ctx, false);
}

// "shenhe.asp": plain review (?flowid=&nwid=), or with &mode=chain the review
// that starts a countersign chain, posted to "sendhuiqian.asp". Each form has
// its own picker, so the page shows one of them at a time.
void shenhe_page(asp::ScriptingContext& ctx, Shenhe& step) {
  if (ctx.request().is_post()) return post_step(ctx, step, "审核", "公文已发送");
  Item item = opened_item(ctx, "shenhe.asp");
  begin_step_page(ctx, item, "审核");
  std::string link = work::item_link(item);
  auto& r = ctx.response();
  r.Write(body_tools("review", item.baseid));
  if (ctx.request().QueryString("mode") == "chain") {
    std::string users = "<select name='qianfa'><option value=''>（请选择）</option>";
    for (const db::Row& u :
         ctx.conn().query("SELECT uid, name FROM userlist WHERE disabled = 0 ORDER BY uid")) {
      users += "<option value='" + html(u.text("uid")) + "'>" + html(text::trim(u.text("name"))) +
               "（" + html(u.text("uid")) + "）</option>";
    }
    users += "</select>";
    r.Write("<p class='10blue'>审核后送会签，最后由签发人签发。&nbsp;<a href='" + html(link) +
            "' class='aapply'>不需会签，直接审核</a></p>" +
            form_open("sendhuiqian.asp", item, "stepSubmit(this, checkchain())") +
            form_row("审核意见：", opinion_box("name_sh")) +
            form_row("会 签 人：", chosen_field()) + form_row("签 发 人：", users) +
            form_close(ctx, "送会签"));
    r.Write(sendback_form(ctx, item, "name_sh"));
    end_step_page(ctx, true);
    return;
  }
  r.Write("<p class='10blue'><a href='" + html(link + "&mode=chain") +
          "' class='aapply'>审核后送多人会签</a></p>" +
          form_open("shenhe.asp", item, "stepSubmit(this, checkstep(true))") +
          form_row("审核意见：", opinion_box("name_sh")) +
          form_row("下 一 步：", typed_select(kCountersign, kSignOff, kSignOff)) +
          form_row("处 理 人：", chosen_field()) + form_close(ctx, "提 交") +
          sendback_form(ctx, item, "name_sh"));
  end_step_page(ctx, false);
}

// "sendhuiqian.asp": the review opinion goes to Session `name_sh`, where the
// countersign request reads it.
void sendhuiqian_page(asp::ScriptingContext& ctx, Sendhuiqian& step) {
  if (!ctx.request().is_post()) return ctx.response().Redirect("right.asp");
  ctx.session().set("name_sh", ctx.request().Form("name_sh"));
  post_step(ctx, step, "审核", "公文已送会签");
}

void huiqian_page(asp::ScriptingContext& ctx, Huiqian& step) {
  if (ctx.request().is_post()) return post_step(ctx, step, "会签", "公文已发送");
  Item item = opened_item(ctx, "huiqian.asp");
  begin_step_page(ctx, item, "会签");
  auto& r = ctx.response();
  std::vector<std::string> chain = list_users(item.userlist);
  if (chain.empty() || next_user(item.userlist).next.empty()) {
    r.Write(
        "<p class='10blue'>该会签事项没有后续的会签人或签发人，无法继续传递，请退回拟稿人。</p>");
  } else {
    std::string order;
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
      order += html(user_name(ctx.conn(), chain[i])) + " 会签，";
    order += html(user_name(ctx.conn(), chain.back())) + " 签发";
    r.Write(body_tools("review", item.baseid) +
            form_open("huiqian.asp", item, "stepSubmit(this, checkstep(false))") +
            form_row("会签意见：", opinion_box("name_hq")) + form_row("之后依次：", order) +
            form_close(ctx, "提 交"));
  }
  r.Write(sendback_form(ctx, item, "name_hq"));
  end_step_page(ctx, std::nullopt);
}

void qianfa_page(asp::ScriptingContext& ctx, Qianfa& step) {
  if (ctx.request().is_post()) return post_step(ctx, step, "签发", "公文已发送");
  Item item = opened_item(ctx, "qianfa.asp");
  begin_step_page(ctx, item, "签发");
  ctx.response().Write(body_tools("sign", item.baseid) +
                       form_open("qianfa.asp", item, "stepSubmit(this, checkstep(true))") +
                       form_row("签发意见：", opinion_box("name_qf")) +
                       form_row("下 一 步：", "公文归档（分发）") +
                       form_row("分 发 人：", chosen_field()) + form_close(ctx, "签 发") +
                       sendback_form(ctx, item, "name_qf"));
  end_step_page(ctx, false);
}

// "fenfa.asp": distribution has no opinion column of its own; a send-back
// from here is recorded with the sign-off opinions.
void fenfa_page(asp::ScriptingContext& ctx, Fenfa& step) {
  if (ctx.request().is_post()) return post_step(ctx, step, "公文归档", "公文已分发");
  Item item = opened_item(ctx, "fenfa.asp");
  begin_step_page(ctx, item, "公文归档");
  ctx.response().Write(form_open("fenfa.asp", item, "checkfenfa()") +
                       form_row("收 文 人：", chosen_field()) + form_close(ctx, "分 发") +
                       sendback_form(ctx, item, "name_qf"));
  end_step_page(ctx, true);
}

void sendback_page(asp::ScriptingContext& ctx, Sendback& step) {
  if (!ctx.request().is_post()) return ctx.response().Redirect("right.asp");
  post_step(ctx, step, "退回", "公文已退回拟稿人");
}

// ---- Drafting ---------------------------------------------------------------

// The right-hand column of the drafting and redrafting forms: body upload,
// next step, first handler.
std::string draft_column(bool redraft, std::int64_t flowid = 0) {
  std::string out = "<table width='100%' border='0' cellspacing='0' cellpadding='3'><tr><td>" +
                    body_tools(redraft ? "redraft" : "draft", flowid) + "</td></tr>";
  if (!redraft) {
    out +=
        "<tr id='fallbackbox'><td class='10blue'>公文正文：<br><input type='file' id='bodyfile'>"
        "<br><a id='templelink' href='loadtemple.asp' class='aapply' target='_blank'>"
        "下载所选模板</a>，在其上撰写正文</td></tr>";
  } else {
    out +=
        "<tr id='fallbackbox'><td class='10blue'>新的正文（不换可不选）：<br>"
        "<input type='file' id='bodyfile'></td></tr>";
  }
  out += "<tr><td class='10blue'>下一步：" + typed_select(kVerification, kSignOff, kVerification) +
         "</td></tr><tr><td class='10blue'>处理人：<input type='text' name='username' size='16' "
         "readonly class='fileinput'><input type='hidden' name='hiddenselect'></td></tr>"
         "<tr><td class='10blue'><input type='button' value='发 送' onclick='" +
         std::string(redraft ? "sendredraft()" : "sendfawen()") +
         "'> <span id='fawenmsg'></span></td></tr><tr><td>";
  return out;
}

void drafting_form(asp::ScriptingContext& ctx, Fawen& fawen) {
  auto& r = ctx.response();
  open_page(r, "公文拟稿");
  r.Write("<form name='form' method='post' action='fawen.asp' onsubmit='return false'>");
  fawen.main1(ctx.conn());
  r.Write(draft_column(false));
  picker(ctx, false);
  r.Write(
      "</td></tr></table><input type='hidden' name='documentname'>"
      "<input type='hidden' name='fujian'><input type='hidden' name='fujiantype'>"
      "</td></tr></table>" +
      host::form_token_field(ctx) + "</form>");
  page_scripts(ctx);
  close_page(r);
}

// "fawen.asp": GET shows the drafting form; the posted form saves the
// document whose body was uploaded to "savedoc.asp".
void fawen_page(asp::ScriptingContext& ctx, Fawen& fawen) {
  if (!ctx.request().is_post()) return drafting_form(ctx, fawen);
  post_step(ctx, fawen, "公文拟稿", "公文已发送");
}

std::string text_input(std::string_view name, const db::Row& d, std::string_view column, int size) {
  return "<input type='text' class='fileinput' name='" + std::string(name) + "' size='" +
         std::to_string(size) + "' value='" + html(d.text(column)) + "'>";
}

// The drafting fields of a sent-back document, filled with what was saved.
std::string redraft_fields(const db::Row& d) {
  std::string out =
      "<table width='100%' border='0' cellspacing='1' cellpadding='2' bgcolor='990000'>";
  auto cell = [](std::string_view label, const std::string& input, int colspan = 1) {
    return "<td height='35'" +
           (colspan > 1 ? " colspan='" + std::to_string(colspan) + "'" : std::string()) +
           ">&nbsp;" + std::string(label) + input + "</td>";
  };
  out += "<tr bgcolor='ffffff'>" + cell("文　　号：", text_input("wenhao", d, "wenhao", 20)) +
         cell("密　　级：", host::select("miji", host::kMiji, d.text("miji"))) +
         cell("缓　　急：", host::select("huanji", host::kHuanji, d.text("huanji"))) + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("保密期限：", text_input("baomiqx", d, "baomiqx", 10)) +
         cell("定密依据：", text_input("dingmiyj", d, "dingmiyj", 20)) +
         cell("份　　数：", text_input("copy", d, "copy", 10)) + "</tr>";
  out += "<tr bgcolor='ffffff'>" +
         cell("主　　送：", text_input("mainsend", d, "mainsend", 40), 3) + "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("抄　　送：", text_input("tosend", d, "tosend", 40), 3) +
         "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("标　　题：", text_input("title", d, "title", 48), 3) +
         "</tr>";
  out += "<tr bgcolor='ffffff'>" + cell("主 题 词：", text_input("keyword", d, "keywords", 48), 3) +
         "</tr>";
  out += "<tr bgcolor='ffffff'>" +
         cell("附　　件：", "<input type='file' name='file' > （不换可不选）", 3) + "</tr>";
  return out + "</table>";
}

// "fawen1.asp?flowid=&nwid=": the drafter's redraft item. GET makes Session
// `fawenid` name the item's document and shows it with the filled form; the
// post saves it with `fawen1`.
void fawen1_page(asp::ScriptingContext& ctx, Fawen1& fawen1) {
  if (ctx.request().is_post()) return post_step(ctx, fawen1, "重新起草公文", "公文已发送");
  std::optional<Item> item = opened_item(ctx, kRedraftItem.url);
  db::Result doc = ctx.conn().query(
      "SELECT wenhao, miji, huanji, baomiqx, dingmiyj, mainsend, tosend, copy, title, keywords, "
      "documentname FROM fawen WHERE id = ?",
      {item->baseid});
  if (doc.empty()) throw Error(Errc::not_found, "所办理的公文不存在。");
  const db::Row& d = doc.front();
  std::string form =
      "<form name='form' method='post' action='fawen1.asp' onsubmit='return false'>"
      "<input type='hidden' name='nwid' value='" +
      std::to_string(item->id) + "'><input type='hidden' name='opendoc' value='" +
      html(d.text("documentname")) +
      "'><input type='hidden' name='fujian'><input type='hidden' name='fujiantype'>";
  begin_step_page(ctx, *item, "重新起草公文", form);
  auto& r = ctx.response();
  r.Write("<p class='10blue'>修改公文：</p>" + redraft_fields(d) +
          "</td><td width='200' valign='top'>" + draft_column(true, item->baseid));
  picker(ctx, false);
  r.Write("</td></tr></table></td></tr></table>" + host::form_token_field(ctx) + "</form>");
  page_scripts(ctx);
  close_page(r);
}

// ---- Uploads ----------------------------------------------------------------

// The document of Session `fawenid` if this user may change its files: a
// document not yet drafted (only its uploader holds its id), or one that is
// back with its drafter for redrafting. 0 otherwise.
std::int64_t changeable_document(asp::ScriptingContext& ctx) {
  std::int64_t id = text::parse_id(ctx.session().get("fawenid"));
  if (id == 0) return 0;
  db::Result doc = ctx.conn().query("SELECT writeid FROM fawen WHERE id = ?", {id});
  if (doc.empty()) return 0;
  std::string writeid = doc.front().text("writeid");
  if (writeid.empty()) return id;
  std::string uid = ctx.session().get("uid");
  if (writeid != uid) return 0;
  std::string open = ctx.conn().scalar(
      "SELECT COUNT(*) FROM newwork WHERE userid = ? AND baseid = ? AND url = ? AND status = 0",
      {uid, id, kRedraftItem.url});
  return open == "0" ? 0 : id;
}

// Checks an upload request; false after answering it.
bool upload_allowed(asp::ScriptingContext& ctx) {
  auto& req = ctx.request();
  if (!req.is_post()) {
    plain_answer(ctx, 405, "请用 POST 上传文件。");
    return false;
  }
  if (req.TotalBytes() > asp::upload_ceiling(ctx.session(), ctx.config())) {
    plain_answer(ctx, 413, "文件超过了允许的大小。");
    return false;
  }
  if (req.TotalBytes() == 0) {
    plain_answer(ctx, 400, "上传的文件是空的。");
    return false;
  }
  return true;
}

// "redraftdoc.asp": the request body is the new body of the sent-back
// document named by Session `fawenid` (the drafter's own, while the redraft
// item is open), kept until the redraft form is saved.
void redraftdoc_page(asp::ScriptingContext& ctx) {
  if (!upload_allowed(ctx)) return;
  std::int64_t id = changeable_document(ctx);
  if (id == 0 || ctx.conn().scalar("SELECT writeid FROM fawen WHERE id = ?", {id}).empty())
    return plain_answer(ctx, 403, "您不能修改该公文的正文。");
  // The new body waits for the redraft form: an abandoned redraft leaves the
  // document as it was.
  stage(ctx.conn(), ctx.session().get("uid"), id, Staged::body, ctx.request().body(), ctx.now());
  plain_answer(ctx, 200, "OK");
}

// "fawenpso.asp": the request body becomes the attachment of the document
// being drafted or redrafted (Session `fawenid`); its name and type are saved
// with the form, and a redraft gets it when its form is saved.
void fawenpso_page(asp::ScriptingContext& ctx) {
  if (!upload_allowed(ctx)) return;
  std::int64_t id = changeable_document(ctx);
  if (id == 0) return plain_answer(ctx, 403, "您不能修改该公文的附件。");
  // A document not yet drafted is itself an upload waiting for its form; a
  // document back for redrafting gets the attachment when its form is saved.
  auto& conn = ctx.conn();
  if (conn.scalar("SELECT writeid FROM fawen WHERE id = ?", {id}).empty())
    conn.exec("UPDATE fawen SET psodata = ?, uploadtime = ? WHERE id = ?",
              {db::Blob{ctx.request().body()}, ctx.now().iso(), id});
  else
    stage(conn, ctx.session().get("uid"), id, Staged::attachment, ctx.request().body(), ctx.now());
  plain_answer(ctx, 200, "OK");
}

// "stepdoc.asp?flowid=": the request body is the body of outgoing document
// `flowid` as the user revised or signed it, while the user has an open item
// of an approval step on it; it reaches the document when the step's form
// is saved (an abandoned step leaves the body as it was).
void stepdoc_page(asp::ScriptingContext& ctx) {
  if (!upload_allowed(ctx)) return;
  const std::int64_t id = text::parse_id(ctx.request().QueryString("flowid"));
  db::Params params{ctx.session().get("uid"), id};
  std::string urls;
  for (int code : {kVerification, kReview, kCountersign, kSignOff, kDistribution}) {
    urls += urls.empty() ? "?" : ", ?";
    params.emplace_back(std::string(find_step(code)->item.url));
  }
  std::string open = ctx.conn().scalar(
      "SELECT COUNT(*) FROM newwork WHERE userid = ? AND baseid = ? AND status = 0 AND url IN (" +
          urls + ")",
      params);
  if (id == 0 || open == "0") return plain_answer(ctx, 403, "您不能修改该公文的正文。");
  stage(ctx.conn(), ctx.session().get("uid"), id, Staged::body, ctx.request().body(), ctx.now());
  plain_answer(ctx, 200, "OK");
}

}  // namespace

void register_fawen_pages(asp::Registry& r) {
  host::add_page<Fawen>(r, "fawen", fawen_page, {.title = "公文拟稿", .once = true});
  host::add_page<Fawen1>(r, "fawen1", fawen1_page, {.title = "重新起草公文", .once = true});
  host::add_page<Hegao>(r, "hegao", hegao_page, {.title = "核稿", .once = true});
  host::add_page<Shenhe>(r, "shenhe", shenhe_page, {.title = "审核", .once = true});
  host::add_page<Sendhuiqian>(r, "sendhuiqian", sendhuiqian_page, {.title = "审核", .once = true});
  host::add_page<Huiqian>(r, "huiqian", huiqian_page, {.title = "会签", .once = true});
  host::add_page<Qianfa>(r, "qianfa", qianfa_page, {.title = "签发", .once = true});
  host::add_page<Fenfa>(r, "fenfa", fenfa_page, {.title = "公文归档", .once = true});
  host::add_page<Sendback>(r, "sendback", sendback_page, {.title = "退回", .once = true});
  // Body uploads are once-only posts, also from the user's document helper.
  const host::PageOptions body_upload{
      .answer = host::Answer::plain, .once = true, .upload = true, .transfer = true};
  host::add_page(r, "redraftdoc.asp", redraftdoc_page, body_upload);
  host::add_page(r, "fawenpso.asp", fawenpso_page, body_upload);
  host::add_page(r, "stepdoc.asp", stepdoc_page, body_upload);
}

}  // namespace desk::workflow
