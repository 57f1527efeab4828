// The document control `office`: hosts a word-processing document in the
// page's pane, takes hold of the word processor once the document has
// loaded, watches it with a one-second timer, and offers the page script the
// document operations. Members keep the names and order of the control's
// scripting interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/cardreader.h"
#include "web/ftp.h"
#include "web/http_client.h"
#include "web/paths.h"
#include "web/platform.h"
#include "web/word.h"

namespace desk::web {

inline constexpr std::string_view kLibraryName = "web";
inline constexpr std::string_view kClassId = "{8C9AA244-AC33-47F9-8968-CC114654A6EC}";
inline constexpr std::string_view kDispatchId = "{D1E5A305-D63F-4E24-9B8B-C3FAD4458AAD}";
inline constexpr std::string_view kEventsId = "{20AF6BE2-B94A-430F-ACC7-756ADF0C35A2}";
inline constexpr std::string_view kVersion = "2.1.0.0";

// Texts of the control's message boxes.
inline constexpr std::string_view kErrorTitle = "错误！";
inline constexpr std::string_view kNoDocument = "没有打开word或与word连接失败，请从新打开word！";
inline constexpr std::string_view kOpenFailed = "文件打开失败，或没有安装word！";
inline constexpr std::string_view kFtpConnectFailed = "和服务器连接失败";

// Texts the card reader's methods leave in ErrorMsg.
inline constexpr std::string_view kPortFailed = "打开端口失败！";
inline constexpr std::string_view kStatusError = "读卡状态错误！";
inline constexpr std::string_view kInsertCard = "请插入IC卡！";
inline constexpr std::string_view kCardTypeError = "初始化IC卡错误！";
inline constexpr std::string_view kReadFailed = "读卡失败！";

// What a control instance talks to; everything outlives the control.
struct OfficePlatform {
  DocumentPane& pane;
  std::shared_ptr<WordApp> word;  // the word processor's global object
  MessageSink& messages;
  MessageLoop& loop;
  ActiveWindow& window;
  PathMap paths;
  // The transfers' HTTP client (its cookie, limits and time limits); a
  // default client when null.
  const HttpClient* http = nullptr;
  FtpOptions ftp = {};
  std::shared_ptr<ReaderLibrary> reader = {};  // none: no reader can be opened
};

// Text of the message box of an upload above the page's size limit.
inline constexpr std::string_view kTooLarge = "上传文件太大，请与管理员联系！";

class office {
 public:
  explicit office(OfficePlatform platform);
  ~office();
  office(const office&) = delete;
  office& operator=(const office&) = delete;

  // ---- properties, in interface order: plain values ----
  std::string ftpip;
  std::int16_t Port = 0;
  std::string username;
  std::string Password;
  std::string localfile;
  std::shared_ptr<WordApp> app;          // set when a document has loaded; cleared by SaveDoc
  std::shared_ptr<WordDocument> curdoc;  // unset: no document is open
  bool result1 = false;
  std::string opentype;  // "read" or "write"
  std::string retmsg;
  std::string ErrorMsg;

  // ---- methods, in interface order ----
  // Loads `filename` for reading; the result is always false (the page sees
  // the document appear).
  bool openfile(const std::string& filename);
  // Loads `filename` for editing.
  void writefile(const std::string& filename);
  // Copies one file to or from the FTP server in binary, in a session of its
  // own, after setting ftpip, Port, username, Password and localfile to the
  // arguments. Ports above 32767 travel as the 16-bit property's negative
  // values. True when the whole file arrived; failures are never raised.
  bool uploadfile(const std::string& mftpip, std::int16_t mport, const std::string& musername,
                  const std::string& mpassword, const std::string& mlocalfile,
                  const std::string& mremotefile);
  bool downloadfile(const std::string& mftpip, std::int16_t mport, const std::string& musername,
                    const std::string& mpassword, const std::string& mlocalfile,
                    const std::string& mremotefile);
  // ---- HTTP transfers (transfer.cc) ----
  // Arguments are the page's variables: where a method changes one, the
  // caller's variable receives the new value. Requests are synchronous and
  // bounded by the client's time limits. The try variants also show the
  // server's answer in a message box without a title. A server that cannot
  // be reached makes the result false without a message box.

  // A bodiless POST to URL + "?name=" + filename + "&type=" + filetype (both
  // trimmed; "&" instead of "?" when URL already has a query; characters
  // that would change the query are percent-encoded in the page's code
  // page). True on status 200.
  bool sendurltry(std::string& URL, const std::string& filename, const std::string& filetype);
  bool sendurl(std::string& URL, const std::string& filename, const std::string& filetype);
  // POSTs file filepath\filename (filepath "" is the work folder; the
  // caller's filepath becomes the file's path) as the whole body with
  // Content-Type "multipart/form-data". A decimal filesize smaller than the
  // file stops it with the too-large message. A file that cannot be read is
  // not sent (false, noted). True on status 200.
  bool upload(const std::string& URL, const std::string& filename, std::string& filepath,
              const std::string& filesize);
  bool uploadtry(const std::string& URL, const std::string& filename, std::string& filepath,
                 const std::string& filesize);
  // GETs URL into the work folder as `filename`, replacing a file of that
  // name. True on status 200 once the file is written whole.
  bool download(const std::string& URL, const std::string& filename);
  bool downloadtry(const std::string& URL, const std::string& filename);
  // The same into folder spath (created as needed; the caller's spath gets
  // its trailing backslash).
  bool downloadpath(const std::string& URL, const std::string& filename, std::string& spath);
  bool downloadpathtry(const std::string& URL, const std::string& filename, std::string& spath);
  // Sends the collected values and files as one multipart/form-data POST
  // (the upload wire format) with a Referer of httpurl; retmsg becomes the
  // answer's text whatever the status. True on status 200. Throws HttpError
  // when the server cannot be reached, and WordError (after the "GetBinary"
  // message box) when a listed file cannot be read: nothing is sent then.
  bool uploadurl(const std::string& httpurl);
  // Starts a new multi-part upload with empty lists.
  bool initupload();
  // The list methods are false before initupload and leave the lists
  // unchanged when they are false.
  bool addpara(const std::string& paraname, const std::string& paravalue);
  // Adds a file by its full path when it exists (folders do not count).
  bool addfile(const std::string& filepath);
  // Adds file `filename` of the work folder when it exists.
  bool addzw(const std::string& filename);
  // Adds every file directly in folder dirpath (given its trailing
  // backslash), in the order the folder lists them.
  bool adddir(std::string& dirpath);

  // Closes each handle that is not 0 and sets it to 0.
  void disconnect(FtpHandle& hconnect, FtpHandle& hInternet);
  // Opens the thread's FTP handle pair and logs in with the properties; shows
  // the connection message when that fails. Always "".
  std::string connect();
  // Accepts every revision so far, then marks and shows later ones.
  void Emend();
  void pagehead();
  void insertpageno();
  void pagefoot();
  void pagesetup();
  void printout();
  // Protects the document for comments only, with the password "kvq".
  void Protect();
  void closedoc();
  // Saves the document as "c:\template1.doc".
  void SaveAs();
  // Saves the document and lets go of it and of the word processor.
  void SaveDoc();
  void SetUserName(const std::string& name);
  // Embeds the picture at the insertion point, then turns every inline
  // picture of the document into a floating shape.
  void signature(const std::string& picturepath);
  void UnEmend();
  void UnProtect();
  // Empties and removes the work folder; failures are noted, not raised.
  void delfile();
  // The pane's document-complete handler, callable by page script too.
  void docpane_DocumentComplete();
  // The card's six bytes from address 138 as text, followed by NULs to 1024
  // characters; "" on failure, with ErrorMsg saying why.
  std::string ReadId();
  // Closes the card reader if it is open.
  void CloseComm();
  // Sounds the reader's buzzer for `stimemin` (a whole number, else an
  // error is raised before the reader is touched), card or no card.
  void DevBeep(const std::string& stimemin);

  // ---- events ----
  void docpane_DownloadComplete();
  void Timer1_Timer();
  // The control's size changed: the pane fills it.
  void resize(int width, int height);

  // ---- private state, readable ----
  const std::string& fileurl() const { return fileurl_; }
  const std::string& docname() const { return docname_; }
  WindowHandle docwindow() const { return docwindow_; }
  std::int32_t cardport() const { return cardport_; }
  bool timer_enabled() const;
  const PathMap& paths() const { return p_.paths; }
  // The multi-part upload's lists: names and values, and the files by the
  // paths the page gave.
  const std::vector<std::pair<std::string, std::string>>& paralist() const { return paralist_; }
  const std::vector<std::string>& filelist() const { return filelist_; }

 private:
  enum class Handler { download, document };
  void load_completed(Handler handler);
  bool guard();
  WordApp& application();
  std::shared_ptr<WordDocument> active_document();
  template <typename F>
  void attempt(const char* step, F&& f);
  bool open_reader();

  const HttpClient& http() const { return p_.http ? *p_.http : default_http_; }
  // One transfer: the request, the try variant's message, false on a
  // failure to reach the server (noted).
  bool exchange(const HttpRequest& request, bool show, HttpResponse& response);
  bool fetch_to(const std::string& URL, const std::string& target, bool show);
  bool notice(std::string& URL, const std::string& filename, const std::string& filetype,
              bool show);
  bool upload_file(const std::string& URL, const std::string& filename, std::string& filepath,
                   const std::string& filesize, bool show);
  std::string multipart_body(std::string& content_type);

  OfficePlatform p_;
  HttpClient default_http_;
  std::vector<std::pair<std::string, std::string>> paralist_;
  std::vector<std::string> filelist_;
  bool upload_started_ = false;
  std::string fileurl_;
  std::string docname_;
  WindowHandle docwindow_ = 0;
  int timer_;
  std::int32_t cardport_ = 0;  // the open reader's handle; below 1: none
};

}  // namespace desk::web
