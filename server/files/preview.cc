#include "server/files/preview.h"

#include <fstream>
#include <iterator>

#include "core/text.h"
#include "platform/convert/convert.h"
#include "server/files/documents.h"
#include "server/host/chrome.h"
#include "server/host/kit.h"

namespace desk::files {
namespace {

using text::html;

// The body the request names, after the access check.
struct Body {
  std::int64_t id = 0;
  bool incoming = false;
  std::string bytes;
  std::string query;  // "flowid=N" or "kind=sw&flowid=N"
  std::string download;
};

Body read_body(asp::ScriptingContext& ctx) {
  Body b;
  b.incoming = ctx.request().QueryString("kind") == "sw";
  b.id = text::parse_id(ctx.request().QueryString("flowid"));
  if (b.id == 0) throw Error(Errc::not_found, "没有指明要预览的公文。");
  auto& conn = ctx.conn();
  if (!(b.incoming ? may_read_shouwen(conn, b.id, ctx.session())
                   : may_read_fawen(conn, b.id, ctx.session())))
    throw Error(Errc::forbidden, "您无权查看该公文。");
  db::Result rows = conn.query(
      std::string("SELECT filedata FROM ") + (b.incoming ? "shouwen" : "fawen") + " WHERE id = ?",
      {b.id});
  if (rows.empty()) throw Error(Errc::not_found, "所要预览的公文不存在。");
  b.bytes = rows.front()["filedata"].bytes();
  const std::string id = std::to_string(b.id);
  b.query = (b.incoming ? "kind=sw&flowid=" : "flowid=") + id;
  b.download = (b.incoming ? "swload.asp?flowid=" : "loadhg.asp?flowid=") + id;
  return b;
}

std::filesystem::path cache_of(asp::ScriptingContext& ctx) {
  return ctx.app().root / "data" / "preview";
}

// "preview.asp": the preview page.
void preview_page(asp::ScriptingContext& ctx) {
  Body b = read_body(ctx);
  auto& r = ctx.response();
  r.Write(host::page_head("正文预览"));
  r.Write(host::title_bar("正文预览", {}));
  const std::string download =
      "<a href='" + html(b.download) + "' class='aapply' target='_blank'>下载正文</a>";
  auto say = [&](std::string_view text, bool again) {
    r.Write(
        "<table width='100%' border='0' cellspacing='0' cellpadding='8'><tr><td class='10blue'>" +
        html(text) + "&nbsp;&nbsp;" + download + "</td></tr></table>");
    if (again)
      r.Write(
          "<script "
          "language='javascript'>setTimeout(function(){location.reload();},2000);</script>");
  };
  if (b.bytes.empty()) {
    say("该公文没有正文。", false);
    r.Write(host::kPageEnd);
    return;
  }
  const std::string key = convert::version_key(b.bytes);
  convert::Outcome o =
      convert::pdf_service().request(cache_of(ctx), key, [&] { return std::move(b.bytes); });
  switch (o.state) {
    case convert::State::ready:
      r.Write("<iframe id='pdfview' src='previewpdf.asp?" + html(b.query) + "&amp;v=" + key +
              "' style='width:100%;height:85vh;border:0' title='正文预览'></iframe>"
              "<div class='10blue' style='padding:4px'>" +
              download + "</div>");
      break;
    case convert::State::pending:
      say("正在把正文转换为 PDF，请稍候……", true);
      break;
    case convert::State::busy:
      say("预览服务正忙，稍后将自动重试。", true);
      break;
    case convert::State::failed:
      say(o.reason + "请下载后查看。", false);
      break;
  }
  r.Write(host::kPageEnd);
}

// "previewpdf.asp": the PDF of the body version named, for the frame.
void previewpdf_page(asp::ScriptingContext& ctx) {
  Body b = read_body(ctx);
  const std::string key = convert::version_key(b.bytes);
  if (b.bytes.empty() || ctx.request().QueryString("v") != key)
    throw Error(Errc::not_found, "正文已经改变，请重新打开预览。");
  const std::filesystem::path pdf = cache_of(ctx) / (key + ".pdf");
  std::ifstream in(pdf, std::ios::binary);
  if (!in) throw Error(Errc::not_found, "预览还没有生成。");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto& r = ctx.response();
  r.Clear();
  r.ContentType = "application/pdf";
  r.Charset = "";
  r.AddHeader("Content-Disposition", "inline; filename=preview.pdf");
  r.AddHeader("Cache-Control", "private, max-age=3600");
  r.BinaryWrite(bytes);
}

}  // namespace

void register_preview_pages(asp::Registry& r) {
  // Hashing a large body is slow work: both run on the worker pool.
  host::add_page(r, "preview.asp", preview_page, {.title = "正文预览", .pooled = true});
  host::add_page(r, "previewpdf.asp", previewpdf_page, {.title = "正文预览", .pooled = true});
}

}  // namespace desk::files
