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

#include "web/cardreader.h"
#include "web/ftp.h"
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
  FtpOptions ftp = {};
  std::shared_ptr<ReaderLibrary> reader = {};  // none: no reader can be opened
};

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
  // The HTTP transfers (sendurltry ... adddir) come here.
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

 private:
  enum class Handler { download, document };
  void load_completed(Handler handler);
  bool guard();
  WordApp& application();
  std::shared_ptr<WordDocument> active_document();
  template <typename F>
  void attempt(const char* step, F&& f);
  bool open_reader();

  OfficePlatform p_;
  std::string fileurl_;
  std::string docname_;
  WindowHandle docwindow_ = 0;
  int timer_;
  std::int32_t cardport_ = 0;  // the open reader's handle; below 1: none
};

}  // namespace desk::web
