#include "server/sms/phone_page.h"

#include <string>
#include <string_view>

#include "core/text.h"
#include "server/host/kit.h"
#include "server/sms/sendsms.h"

namespace desk::sms {
namespace {

using text::html;

constexpr std::string_view kTitle = "手机短信";
// The sent list shows this many of the user's newest messages.
constexpr int kListedMessages = 100;
// The window of the per-user limit, in seconds.
constexpr long long kLimitWindowS = 3600;

// How a send ended, as `smssent.status` keeps it. A row still 'sending' is a
// send in progress.
struct StoredStatus {
  Status status;
  std::string_view code;
};
constexpr StoredStatus kStored[] = {
    {Status::sent, "sent"},
    {Status::bad_number, "bad_number"},
    {Status::bad_centre, "bad_centre"},
    {Status::no_modem, "no_modem"},
    {Status::port_failed, "port_failed"},
    {Status::refused, "refused"},
    {Status::no_answer, "no_answer"},
    {Status::unconfirmed, "unconfirmed"},
};
constexpr std::string_view kSending = "sending";

std::string_view code_of(Status s) {
  for (const auto& k : kStored)
    if (k.status == s) return k.code;
  return "port_failed";
}

// What the user reads for a stored status.
std::string result_text(std::string_view code) {
  for (const auto& k : kStored)
    if (k.code == code) return std::string(user_text(k.status));
  return "正在发送……";
}

struct Recipient {
  std::string number;
  std::string name;  // "" for a typed number
};

// The recipient a post names: field `to` is "u<id>" for a colleague (user
// row), "p<id>" for a contact of the user's own phone book, "" for the typed
// number in field `mobile`. Blanks and dashes written inside a number are no
// part of it; its length is checked when the message is prepared.
Recipient recipient_of(asp::ScriptingContext& ctx, const std::string& uid) {
  const std::string to = ctx.request().Form("to");
  Recipient r;
  if (to.empty()) {
    r.number = ctx.request().Form("mobile");
  } else {
    const std::int64_t id = text::parse_id(std::string_view(to).substr(1));
    db::Result rows;
    if (to[0] == 'u')
      rows = ctx.conn().query("SELECT name, mobilephone FROM userlist WHERE id = ?", {id});
    else if (to[0] == 'p')
      rows = ctx.conn().query("SELECT name, mobilephone FROM phone WHERE id = ? AND userid = ?",
                              {id, uid});
    if (rows.empty()) throw Error(Errc::not_found, "没有找到所选的收信人，请重新选择。");
    r.name = rows.front().text("name");
    r.number = rows.front().text("mobilephone");
    if (text::trim(r.number).empty())
      throw Error(Errc::bad_request, "所选的收信人没有登记手机号码，短信没有发送。");
  }
  std::erase_if(r.number, [](char c) { return c == ' ' || c == '-' || c == '\t'; });
  if (r.number.empty()) throw Error(Errc::bad_request, "请选择收信人或填写手机号码。");
  return r;
}

long long sent_within_hour(asp::ScriptingContext& ctx, const std::string& uid) {
  return ctx.conn()
      .query("SELECT COUNT(*) AS n FROM smssent WHERE userid = ? AND sendtime > ?",
             {uid, ctx.now().plus_seconds(-kLimitWindowS).iso()})
      .front()
      .integer("n");
}

// Checks the user's hourly limit and records the message as being sent, in
// one transaction, so two sends of one user at once cannot both pass the
// limit. Returns the row's id.
std::int64_t record_send(asp::ScriptingContext& ctx, const std::string& uid, const Message& m,
                         const std::string& name) {
  auto& conn = ctx.conn();
  db::Transaction tx(conn);
  const int limit = ctx.config().sms_hourly_limit;
  if (sent_within_hour(ctx, uid) >= limit)
    throw Error(Errc::conflict, "每人每小时最多发送" + std::to_string(limit) +
                                    "条短信，您已达到上限，请稍后再发。短信没有发送。");
  const std::int64_t id = conn.insert(
      "INSERT INTO smssent (userid, mobile, name, content, sendtime, ipaddress, status) "
      "VALUES (?, ?, ?, ?, ?, ?, ?)",
      {uid, m.number, name, m.text, ctx.now().iso(), ctx.request().ServerVariables("REMOTE_ADDR"),
       kSending});
  tx.commit();
  return id;
}

void record_outcome(asp::ScriptingContext& ctx, std::int64_t id, Status s,
                    const std::string& detail) {
  ctx.conn().exec("UPDATE smssent SET status = ?, detail = ? WHERE id = ?",
                  {code_of(s), detail, id});
}

// POST: checks the recipient and the text, records the message, sends it
// through the modem (blocking) and answers with the redirect to the page
// that shows the outcome. A refusal before the send writes nothing.
void send(asp::ScriptingContext& ctx) {
  const host::User user = host::current_user(ctx);
  Recipient to = recipient_of(ctx, user.uid);
  std::string text = ctx.request().Form("msg");
  if (text::trim(text).empty()) throw Error(Errc::bad_request, "请填写短信内容。");
  if (ctx.config().sms_port.device.empty())
    throw Error(Errc::conflict, std::string(user_text(Status::no_modem)));

  auto sendsms = ctx.server().CreateObject<SendSms>("deskserver.sendsms");
  std::string centre = ctx.config().sms_centre;
  const SendJob job = sendsms->start(centre, to.number, text);
  if (const Status refusal = job.message().refusal; job.message().refused()) {
    job();  // writes the operator alert to the server log; sends nothing
    // A wrong message centre is the server's settings, not the user's input.
    throw Error(refusal == Status::bad_number ? Errc::bad_request : Errc::conflict,
                std::string(user_text(refusal)));
  }

  const std::int64_t id = record_send(ctx, user.uid, job.message(), to.name);
  Outcome outcome;
  try {
    outcome = job();
  } catch (const std::exception& e) {
    // The row must not stay 'sending'.
    record_outcome(ctx, id, Status::port_failed, e.what());
    throw;
  }
  record_outcome(ctx, id, outcome.status, outcome.detail);
  ctx.response().Redirect("phone.asp?sent=" + std::to_string(id));
}

// The outcome of the user's message `id`, written after a send.
std::string outcome_box(asp::ScriptingContext& ctx, const std::string& uid, std::int64_t id) {
  db::Result rows = ctx.conn().query(
      "SELECT mobile, name, status FROM smssent WHERE id = ? AND userid = ?", {id, uid});
  if (rows.empty()) return "";
  const db::Row& row = rows.front();
  const bool sent = row.text("status") == code_of(Status::sent);
  std::string to =
      row.text("name").empty() ? row.text("mobile") : row.text("name") + " " + row.text("mobile");
  return "<div id='smsresult' class='smsresult" + std::string(sent ? "" : " failed") + "'><b>" +
         html(result_text(row.text("status"))) + "</b><br>收信人：" + html(to) + "</div>";
}

// The choice of recipient: colleagues with a mobile number (without showing
// it), the user's contacts with theirs, or a typed number.
std::string recipient_choice(asp::ScriptingContext& ctx, const std::string& uid) {
  auto& conn = ctx.conn();
  std::string out =
      "<select name='to' id='smsto' onchange='smspicked()'>"
      "<option value=''>直接填写号码</option>";
  db::Result users = conn.query(
      "SELECT id, name, dep FROM userlist WHERE TRIM(mobilephone) <> '' AND disabled = 0 "
      "ORDER BY dep, name, id");
  if (!users.empty()) {
    out += "<optgroup label='同事'>";
    for (const auto& u : users)
      out += "<option value='u" + std::to_string(u.integer("id")) + "'>" + html(u.text("name")) +
             (u.text("dep").empty() ? "" : "（" + html(u.text("dep")) + "）") + "</option>";
    out += "</optgroup>";
  }
  db::Result contacts = conn.query(
      "SELECT id, name, mobilephone FROM phone WHERE userid = ? AND TRIM(mobilephone) <> '' "
      "ORDER BY name, id",
      {uid});
  if (!contacts.empty()) {
    out += "<optgroup label='通讯录'>";
    for (const auto& c : contacts)
      out += "<option value='p" + std::to_string(c.integer("id")) + "'>" + html(c.text("name")) +
             " " + html(c.text("mobilephone")) + "</option>";
    out += "</optgroup>";
  }
  return out + "</select>";
}

// Counts characters as the message is sent: UTF-16 code units, each line
// break as the CR LF the form posts.
constexpr std::string_view kScript = R"JS(
var smssending = false;
function smslength(t) { return t.replace(/\r?\n/g, '\r\n').length; }
function countsms() {
  var left = smsmax - smslength(document.smsform.msg.value);
  document.getElementById('smsleft').innerText = left >= 0
      ? '还可以输入 ' + left + ' 个字'
      : '已超出 ' + (-left) + ' 个字，只会发送前 ' + smsmax + ' 个字';
  document.getElementById('smsleft').className = left >= 0 ? '10blue' : 'remind';
}
function smspicked() {
  var f = document.smsform;
  f.mobile.disabled = f.to.value !== '';
  if (f.mobile.disabled) f.mobile.value = '';
}
function checksms() {
  var f = document.smsform;
  if (smssending) return false;
  if (f.to.value === '' && f.mobile.value.replace(/[\s-]/g, '') === '') {
    alert('请选择收信人或填写手机号码。');
    return false;
  }
  if (f.msg.value.replace(/\s/g, '') === '') { alert('请填写短信内容。'); return false; }
  var over = smslength(f.msg.value) - smsmax;
  if (over > 0 && !confirm('短信超过 ' + smsmax + ' 个字，后面的 ' + over +
                           ' 个字将被截掉，不会发送。仍然发送吗？')) return false;
  smssending = true;
  f.send.disabled = true;
  document.getElementById('smsbusy').innerText = '正在发送，请稍候（约需 6 秒）……';
  return true;
}
countsms();
smspicked();
)JS";

std::string send_form(asp::ScriptingContext& ctx, const std::string& uid, long long sent_hour) {
  const int limit = ctx.config().sms_hourly_limit;
  return "<form name='smsform' method='post' action='phone.asp' onsubmit='return checksms()'>"
         "<table width='100%' border='0' cellspacing='0' cellpadding='4'>"
         "<tr><td class='10blue' width='70'>收信人：</td><td class='10blue'>" +
         recipient_choice(ctx, uid) +
         " <input type='text' name='mobile' size='16' maxlength='20'> "
         "（11位手机号码，或以86开头的13位号码）</td></tr>"
         "<tr><td class='10blue' valign='top'>内　容：</td><td class='10blue'>"
         "<textarea name='msg' cols='60' rows='5' oninput='countsms()'></textarea><br>"
         "<span id='smsleft' class='10blue'>还可以输入 " +
         std::to_string(kMaxChars) + " 个字</span>（每条短信最多 " + std::to_string(kMaxChars) +
         " 个字）</td></tr>"
         "<tr><td></td><td class='10blue'><input type='submit' name='send' value='发 送'> "
         "<span id='smsbusy' class='remind'></span></td></tr>"
         "<tr><td></td><td class='10blue'>每人每小时最多发送 <span class='numberbold'>" +
         std::to_string(limit) + "</span> 条短信，您最近一小时已发送 <span class='numberbold'>" +
         std::to_string(sent_hour) + "</span> 条。</td></tr></table>" +
         host::form_token_field(ctx) +
         "</form><script language='javascript'>var smsmax = " + std::to_string(kMaxChars) + ";" +
         std::string(kScript) + "</script>";
}

std::string sent_list(asp::ScriptingContext& ctx, const std::string& uid) {
  db::Result rows = ctx.conn().query(
      "SELECT sendtime, mobile, name, content, status FROM smssent WHERE userid = ? "
      "ORDER BY id DESC LIMIT ?",
      {uid, kListedMessages});
  std::string out =
      "<table width='96%' border='0' cellspacing='0' cellpadding='0' align='center' "
      "class='list' id='smslist'><tr><td colspan='4' class='listtitle'>已发短信</td></tr>"
      "<tr class='listhead'><td width='140'>时间</td><td width='170'>号码</td><td>内容</td>"
      "<td width='220'>结果</td></tr>";
  for (const auto& row : rows) {
    std::string to = html(row.text("mobile"));
    if (!row.text("name").empty()) to = html(row.text("name")) + "<br>" + to;
    out += "<tr><td class='10blue'>" + html(ctx.regional().shown(row.text("sendtime"))) +
           "</td><td class='10blue'>" + to + "</td><td class='10blue'>" +
           text::html_lines(row.text("content")) + "</td><td class='10blue'>" +
           html(result_text(row.text("status"))) + "</td></tr>";
  }
  if (rows.empty()) out += "<tr><td colspan='4' class='10blue'>您还没有发送过短信。</td></tr>";
  return out + "</table>";
}

// GET: the outcome of the send just made (?sent=<id>), the form and the
// sent list.
void show(asp::ScriptingContext& ctx) {
  const host::User user = host::current_user(ctx);
  std::string out = host::page_head(kTitle) + host::title_bar(kTitle, {});
  if (std::int64_t id = text::parse_id(ctx.request().QueryString("sent")))
    out += outcome_box(ctx, user.uid, id);
  if (ctx.config().sms_port.device.empty())
    out += "<div class='smsresult failed'>服务器没有配置短信设备，暂时不能发送短信。</div>";
  else
    out += send_form(ctx, user.uid, sent_within_hour(ctx, user.uid));
  out += sent_list(ctx, user.uid) + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

void phone_page(asp::ScriptingContext& ctx) {
  if (ctx.request().is_post())
    send(ctx);
  else
    show(ctx);
}

}  // namespace

void register_phone_page(asp::Registry& registry) {
  host::add_page(registry, "phone.asp", phone_page,
                 {.title = kTitle, .once = true, .pooled = true});
}

}  // namespace desk::sms
