// The document pane: fetches the address it is sent to into the work folder
// (or takes a local file in place) and opens it in the word processor.
#pragma once

#include <filesystem>
#include <string>

#include "web/docx_word.h"
#include "web/http_client.h"
#include "web/paths.h"
#include "web/platform.h"

namespace desk::web {

class FetchingPane final : public DocumentPane {
 public:
  FetchingPane(MessageLoop& loop, DocxWord& word, const PathMap& paths, const HttpClient& http,
               MessageSink& messages);

  // Queues the load. When it runs: the shown document is closed (its unsaved
  // changes saved), the address is fetched and opened, then the download and
  // document events are raised, also when the load failed (a failure is
  // noted; the word processor then has no active document). Addresses are
  // http(s) URLs, file: URLs and Windows paths; a fetched file is stored in
  // the work folder under the name the server gives or the URL's last segment.
  void navigate(const std::string& address) override;
  // Closes the shown document, saving its unsaved changes.
  void quit() override;
  void place(int left, int top, int width, int height) override;

  struct Bounds {
    int left = 0, top = 0, width = 0, height = 0;
  };
  const Bounds& bounds() const { return bounds_; }

  // The local file an address loads (fetching it when remote). Throws.
  std::filesystem::path fetch(const std::string& address);

 private:
  void load(const std::string& address);

  MessageLoop& loop_;
  DocxWord& word_;
  const PathMap& paths_;
  const HttpClient& http_;
  MessageSink& messages_;
  Bounds bounds_;
};

// The file name a download is stored under: the Content-Disposition file
// name, else the URL's last path segment (percent-decoded), with characters
// that cannot be in a file name removed; "document.docx" when nothing is left.
std::string download_name(const std::string& url, const std::string& content_disposition);

}  // namespace desk::web
