#include "server/host/schema.h"

#include <string_view>
#include <vector>

namespace desk::host {
namespace {

// Dates and times are ISO text: "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DD" or
// "HH:MM:SS". Document bodies, attachments and pictures are BLOBs.
constexpr std::string_view kVersion1 = R"SQL(
CREATE TABLE depart (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  depno INTEGER NOT NULL,
  depname TEXT NOT NULL DEFAULT ''
);

CREATE TABLE userlist (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  uid TEXT NOT NULL DEFAULT '',
  name TEXT NOT NULL DEFAULT '',
  passwd TEXT NOT NULL DEFAULT '',
  depid TEXT NOT NULL DEFAULT '',
  dep TEXT NOT NULL DEFAULT '',
  mobilephone TEXT NOT NULL DEFAULT '',
  workphone TEXT NOT NULL DEFAULT '',
  type TEXT NOT NULL DEFAULT '1',
  power TEXT NOT NULL DEFAULT '1',
  email TEXT NOT NULL DEFAULT '',
  bz TEXT NOT NULL DEFAULT '',
  signature BLOB
);
CREATE INDEX userlist_uid ON userlist(uid);

-- The user rows login reads: the department name comes from the user row,
-- or from its department when the row has none.
CREATE VIEW userdep AS
  SELECT u.id AS id, u.uid AS uid, u.passwd AS passwd, u.name AS name,
         COALESCE(NULLIF(u.dep, ''), d.depname, '') AS depname,
         u.type AS type, u.power AS power
  FROM userlist u LEFT JOIN depart d ON CAST(d.depno AS TEXT) = u.depid;

CREATE TABLE sysconfig (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  type INTEGER NOT NULL,
  maxsize INTEGER NOT NULL DEFAULT 5000000,
  soundpath TEXT NOT NULL DEFAULT ''
);

CREATE TABLE loginlog (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  uid TEXT NOT NULL DEFAULT '',
  name TEXT NOT NULL DEFAULT '',
  actiondate TEXT NOT NULL,
  ipaddress TEXT NOT NULL DEFAULT '',
  type TEXT
);

CREATE TABLE worktime (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  uid TEXT NOT NULL,
  workday TEXT NOT NULL,
  timestart TEXT NOT NULL DEFAULT '',
  timeend TEXT NOT NULL DEFAULT '',
  type INTEGER
);
CREATE INDEX worktime_uid_day ON worktime(uid, workday);

CREATE TABLE news (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  title TEXT NOT NULL DEFAULT '',
  content TEXT NOT NULL DEFAULT '',
  clicknum INTEGER NOT NULL DEFAULT 0,
  senddate TEXT NOT NULL,
  sendtime TEXT NOT NULL,
  senderid TEXT NOT NULL DEFAULT '',
  sendername TEXT NOT NULL DEFAULT ''
);

CREATE TABLE newwork (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  userid TEXT NOT NULL DEFAULT '',
  title TEXT NOT NULL DEFAULT '',
  url TEXT NOT NULL DEFAULT '',
  baseid INTEGER NOT NULL DEFAULT 0,
  applytime TEXT,
  typed TEXT NOT NULL DEFAULT '',
  userlist TEXT NOT NULL DEFAULT '',
  status INTEGER NOT NULL DEFAULT 0,
  donetime TEXT
);
CREATE INDEX newwork_user ON newwork(userid, status);
CREATE INDEX newwork_base ON newwork(baseid);

CREATE TABLE workflow (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  flowid INTEGER NOT NULL,
  handlename TEXT NOT NULL DEFAULT '',
  handleid TEXT NOT NULL DEFAULT '',
  handletime TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  nextid TEXT NOT NULL DEFAULT '',
  handtype TEXT NOT NULL DEFAULT '',
  nexttype TEXT NOT NULL DEFAULT '',
  remark TEXT NOT NULL DEFAULT ''
);
CREATE INDEX workflow_flow ON workflow(flowid);

CREATE TABLE fawen (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  filedata BLOB,
  filetype TEXT NOT NULL DEFAULT '',
  documentname TEXT NOT NULL DEFAULT '',
  wenhao TEXT NOT NULL DEFAULT '',
  miji TEXT NOT NULL DEFAULT '',
  huanji TEXT NOT NULL DEFAULT '',
  baomiqx TEXT NOT NULL DEFAULT '',
  dingmiyj TEXT NOT NULL DEFAULT '',
  mainsend TEXT NOT NULL DEFAULT '',
  tosend TEXT NOT NULL DEFAULT '',
  writedep TEXT NOT NULL DEFAULT '',
  writeid TEXT NOT NULL DEFAULT '',
  writename TEXT NOT NULL DEFAULT '',
  writetime TEXT,
  copy TEXT NOT NULL DEFAULT '',
  title TEXT NOT NULL DEFAULT '',
  keywords TEXT NOT NULL DEFAULT '',
  fujianname TEXT NOT NULL DEFAULT '',
  psotype TEXT NOT NULL DEFAULT '',
  psodata BLOB,
  name_hg TEXT NOT NULL DEFAULT '',
  hegaoname TEXT NOT NULL DEFAULT '',
  name_sh TEXT NOT NULL DEFAULT '',
  name_hq TEXT NOT NULL DEFAULT '',
  name_qf TEXT NOT NULL DEFAULT '',
  name_correct TEXT NOT NULL DEFAULT '',
  name_print TEXT NOT NULL DEFAULT '',
  donetime TEXT,
  status TEXT NOT NULL DEFAULT '0'
);

CREATE TABLE shouwen (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  swid TEXT NOT NULL DEFAULT '',
  wenhao TEXT NOT NULL DEFAULT '',
  miji TEXT NOT NULL DEFAULT '',
  huanji TEXT NOT NULL DEFAULT '',
  title TEXT NOT NULL DEFAULT '',
  keyword TEXT NOT NULL DEFAULT '',
  documentname TEXT NOT NULL DEFAULT '',
  filedata BLOB,
  filetype TEXT NOT NULL DEFAULT '',
  arrivetime TEXT NOT NULL DEFAULT '',
  writetime TEXT NOT NULL DEFAULT '',
  fromdep TEXT NOT NULL DEFAULT '',
  writeid TEXT NOT NULL DEFAULT '',
  writename TEXT NOT NULL DEFAULT '',
  copy TEXT NOT NULL DEFAULT '',
  plist TEXT NOT NULL DEFAULT '',
  draftime TEXT,
  name_nb TEXT NOT NULL DEFAULT ''
);

CREATE TABLE swflow (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  flowid INTEGER NOT NULL,
  handlename TEXT NOT NULL DEFAULT '',
  handleid TEXT NOT NULL DEFAULT '',
  nextid TEXT NOT NULL DEFAULT '',
  handletime TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  remark TEXT NOT NULL DEFAULT '',
  handletype TEXT NOT NULL DEFAULT '',
  nexttype TEXT NOT NULL DEFAULT ''
);
CREATE INDEX swflow_flow ON swflow(flowid);

CREATE TABLE temple (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  filename TEXT NOT NULL DEFAULT '',
  filedata BLOB,
  fileindex INTEGER NOT NULL DEFAULT 0,
  wtime TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  userid TEXT NOT NULL DEFAULT ''
);

CREATE TABLE personplan (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  uid TEXT NOT NULL DEFAULT '',
  content TEXT NOT NULL DEFAULT '',
  plandate TEXT NOT NULL DEFAULT '',
  plantime TEXT NOT NULL DEFAULT '',
  remindtime TEXT NOT NULL DEFAULT '',
  remind INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX personplan_uid ON personplan(uid, plandate);

CREATE TABLE phone (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  userid TEXT NOT NULL DEFAULT '',
  username TEXT NOT NULL DEFAULT '',
  name TEXT NOT NULL DEFAULT '',
  mobilephone TEXT NOT NULL DEFAULT '',
  telephone TEXT NOT NULL DEFAULT '',
  email TEXT NOT NULL DEFAULT '',
  company TEXT NOT NULL DEFAULT '',
  address TEXT NOT NULL DEFAULT '',
  postcode TEXT NOT NULL DEFAULT '',
  work TEXT NOT NULL DEFAULT '',
  fax TEXT NOT NULL DEFAULT '',
  remark TEXT NOT NULL DEFAULT ''
);

-- Media ids are assigned by the pages (largest id plus one).
CREATE TABLE share (
  id INTEGER PRIMARY KEY,
  title TEXT NOT NULL DEFAULT '',
  content TEXT NOT NULL DEFAULT '',
  isshare TEXT NOT NULL DEFAULT '',
  savedate TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  type TEXT NOT NULL DEFAULT '',
  uid TEXT NOT NULL DEFAULT '',
  username TEXT NOT NULL DEFAULT ''
);

CREATE TABLE sharepic (
  id INTEGER PRIMARY KEY,
  shareid TEXT NOT NULL DEFAULT ''
);

CREATE TABLE mail (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  topeopleid TEXT NOT NULL DEFAULT '',
  topeople TEXT NOT NULL DEFAULT '',
  title TEXT NOT NULL DEFAULT '',
  text TEXT NOT NULL DEFAULT '',
  mailtime TEXT,
  senderid TEXT NOT NULL DEFAULT '',
  sendername TEXT NOT NULL DEFAULT '',
  ipaddress TEXT NOT NULL DEFAULT '',
  fjlist TEXT NOT NULL DEFAULT '',
  status INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX mail_to ON mail(topeopleid, status);

CREATE TABLE mailfj (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  status INTEGER NOT NULL DEFAULT 0,
  mailid TEXT NOT NULL DEFAULT '',
  filename TEXT NOT NULL DEFAULT '',
  filesize INTEGER NOT NULL DEFAULT 0,
  filedata BLOB,
  uid TEXT NOT NULL DEFAULT '',
  uploadtime TEXT
);
CREATE INDEX mailfj_mailid ON mailfj(mailid);

CREATE TABLE lawinfo (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  lawno TEXT NOT NULL DEFAULT '',
  lawtitle TEXT NOT NULL DEFAULT '',
  jztype TEXT NOT NULL DEFAULT '',
  flbmtype TEXT NOT NULL DEFAULT '',
  judgeperiod TEXT NOT NULL DEFAULT '',
  demandanttm TEXT NOT NULL DEFAULT '',
  defendanttm TEXT NOT NULL DEFAULT '',
  needmoney TEXT NOT NULL DEFAULT '',
  moneytype TEXT NOT NULL DEFAULT '',
  moneyrate TEXT NOT NULL DEFAULT '',
  receivedate TEXT NOT NULL DEFAULT '',
  receivetype TEXT NOT NULL DEFAULT '',
  proxyrange TEXT NOT NULL DEFAULT '',
  proxyreason TEXT NOT NULL DEFAULT '',
  lawdesc TEXT NOT NULL DEFAULT '',
  lawanalysis TEXT NOT NULL DEFAULT '',
  lawyerid TEXT NOT NULL DEFAULT '',
  lawyername TEXT NOT NULL DEFAULT '',
  writeid TEXT NOT NULL DEFAULT '',
  writename TEXT NOT NULL DEFAULT '',
  writetime TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  status INTEGER NOT NULL DEFAULT 0,
  closeuid TEXT NOT NULL DEFAULT '',
  closename TEXT NOT NULL DEFAULT '',
  closetime TEXT,
  closeip TEXT NOT NULL DEFAULT ''
);

CREATE TABLE lawflow (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  lawid INTEGER NOT NULL,
  lawyerid TEXT NOT NULL DEFAULT '',
  lawyername TEXT NOT NULL DEFAULT '',
  handletype INTEGER NOT NULL DEFAULT 0,
  donedate TEXT,
  ipaddress TEXT NOT NULL DEFAULT ''
);

CREATE TABLE lawfj (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  flowid INTEGER NOT NULL DEFAULT 0,
  filename TEXT NOT NULL DEFAULT '',
  filedata BLOB
);

CREATE TABLE lawlinkbook (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  flowid INTEGER NOT NULL,
  linkname TEXT NOT NULL DEFAULT '',
  relation TEXT NOT NULL DEFAULT '',
  mobile TEXT NOT NULL DEFAULT '',
  companyname TEXT NOT NULL DEFAULT '',
  "desc" TEXT NOT NULL DEFAULT '',
  writeid TEXT NOT NULL DEFAULT '',
  writename TEXT NOT NULL DEFAULT '',
  adddate TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  status INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE lawmoneyflow (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  flowid INTEGER NOT NULL,
  moneytype TEXT NOT NULL DEFAULT '',
  moneyamt REAL NOT NULL DEFAULT 0,
  moneydesc TEXT NOT NULL DEFAULT '',
  moneydate TEXT NOT NULL DEFAULT '',
  lawyerid TEXT NOT NULL DEFAULT '',
  lawyername TEXT NOT NULL DEFAULT '',
  writeid TEXT NOT NULL DEFAULT '',
  writename TEXT NOT NULL DEFAULT '',
  adddate TEXT,
  status INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE lawworkflow (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  flowid INTEGER NOT NULL,
  worktype TEXT NOT NULL DEFAULT '',
  lawyerid TEXT NOT NULL DEFAULT '',
  lawyername TEXT NOT NULL DEFAULT '',
  donedate TEXT NOT NULL DEFAULT '',
  "desc" TEXT NOT NULL DEFAULT '',
  writeid TEXT NOT NULL DEFAULT '',
  writename TEXT NOT NULL DEFAULT '',
  adddate TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  status INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE lawanalysisflow (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  flowid INTEGER NOT NULL,
  lawyerid TEXT NOT NULL DEFAULT '',
  lawyername TEXT NOT NULL DEFAULT '',
  donedate TEXT NOT NULL DEFAULT '',
  "desc" TEXT NOT NULL DEFAULT '',
  writeid TEXT NOT NULL DEFAULT '',
  writename TEXT NOT NULL DEFAULT '',
  adddate TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  status INTEGER NOT NULL DEFAULT 0
);
)SQL";

// Send-backs, which the history tables of the roads do not record, kept so a
// document's history can show them. `road` is "fawen" or "shouwen"; `step`
// the page of the item that was sent back.
constexpr std::string_view kVersion2 = R"SQL(
CREATE TABLE sendback (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  road TEXT NOT NULL,
  flowid INTEGER NOT NULL,
  handlename TEXT NOT NULL DEFAULT '',
  handleid TEXT NOT NULL DEFAULT '',
  handletime TEXT,
  ipaddress TEXT NOT NULL DEFAULT '',
  toid TEXT NOT NULL DEFAULT '',
  step TEXT NOT NULL DEFAULT '',
  reason TEXT NOT NULL DEFAULT ''
);
CREATE INDEX sendback_flow ON sendback(road, flowid);

-- Failed logins, counted for throttling; the login journal keeps only
-- successful logins and logouts.
CREATE TABLE loginfail (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  uid TEXT NOT NULL DEFAULT '',
  ipaddress TEXT NOT NULL DEFAULT '',
  failtime TEXT NOT NULL
);
CREATE INDEX loginfail_uid ON loginfail(uid, failtime);
CREATE INDEX loginfail_ip ON loginfail(ipaddress, failtime);

-- Uploads wait for the form that names them. A body uploaded for a new
-- document (or template) is a row not yet completed, stamped `uploadtime`;
-- bytes that replace those of an existing document wait in `staged` until
-- its form is saved. What no form completes within a day is removed.
ALTER TABLE fawen ADD COLUMN uploadtime TEXT;
ALTER TABLE shouwen ADD COLUMN uploadtime TEXT;
ALTER TABLE temple ADD COLUMN uploadtime TEXT;
UPDATE fawen SET uploadtime = CURRENT_TIMESTAMP WHERE writeid = '';
UPDATE shouwen SET uploadtime = CURRENT_TIMESTAMP WHERE draftime IS NULL;
UPDATE temple SET uploadtime = CURRENT_TIMESTAMP WHERE wtime IS NULL AND filename = '';
CREATE TABLE staged (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  owner TEXT NOT NULL,
  target INTEGER NOT NULL,
  kind TEXT NOT NULL,
  data BLOB,
  uploadtime TEXT NOT NULL,
  UNIQUE (owner, target, kind)
);
CREATE INDEX fawen_upload ON fawen(uploadtime) WHERE writeid = '';
CREATE INDEX shouwen_upload ON shouwen(uploadtime) WHERE draftime IS NULL;
)SQL";

// Text messages sent from the text-message page, one row per message handed
// to the modem: written before the send with status 'sending' and given the
// outcome after it. `mobile` and `content` are as sent (13 digits, at most 70
// characters); `name` is the recipient's when chosen from the colleagues or
// the phone book; `status` is the outcome's code (sent, refused, no_answer,
// port_failed, unconfirmed). The rows of the last hour limit further sends.
constexpr std::string_view kVersion6 = R"SQL(
CREATE TABLE smssent (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  userid TEXT NOT NULL,
  mobile TEXT NOT NULL DEFAULT '',
  name TEXT NOT NULL DEFAULT '',
  content TEXT NOT NULL DEFAULT '',
  sendtime TEXT NOT NULL,
  ipaddress TEXT NOT NULL DEFAULT '',
  status TEXT NOT NULL DEFAULT 'sending',
  detail TEXT NOT NULL DEFAULT ''
);
CREATE INDEX smssent_user ON smssent(userid, sendtime);
)SQL";

// Case files: who uploaded a case document, when and how large it is, and the
// indexes the case list, the case page and the access rule look rows up by.
constexpr std::string_view kVersion4 = R"SQL(
ALTER TABLE lawfj ADD COLUMN filesize INTEGER NOT NULL DEFAULT 0;
ALTER TABLE lawfj ADD COLUMN writeid TEXT NOT NULL DEFAULT '';
ALTER TABLE lawfj ADD COLUMN writename TEXT NOT NULL DEFAULT '';
ALTER TABLE lawfj ADD COLUMN adddate TEXT;
CREATE INDEX lawfj_flow ON lawfj(flowid);
CREATE INDEX lawinfo_lawyer ON lawinfo(lawyerid, status);
CREATE INDEX lawflow_law ON lawflow(lawid);
CREATE INDEX lawlinkbook_flow ON lawlinkbook(flowid, status);
CREATE INDEX lawmoneyflow_flow ON lawmoneyflow(flowid);
CREATE INDEX lawworkflow_flow ON lawworkflow(flowid, status);
CREATE INDEX lawanalysisflow_flow ON lawanalysisflow(flowid, status);
)SQL";

// The media library and the upload store. Media items and pictures record
// the format recognised from their bytes (it decides how the file is served)
// and their size; a picture records its uploader, so only they can see it
// before it is in an album and only their session's pictures go into their
// album. `upfile`: files of the upload store (upfiles/), each with its
// uploader, under the name it was stored as.
constexpr std::string_view kVersion5 = R"SQL(
ALTER TABLE share ADD COLUMN format TEXT NOT NULL DEFAULT '';
ALTER TABLE share ADD COLUMN filesize INTEGER NOT NULL DEFAULT 0;
CREATE INDEX share_owner ON share(uid);
ALTER TABLE sharepic ADD COLUMN uid TEXT NOT NULL DEFAULT '';
ALTER TABLE sharepic ADD COLUMN format TEXT NOT NULL DEFAULT '';
ALTER TABLE sharepic ADD COLUMN filesize INTEGER NOT NULL DEFAULT 0;
ALTER TABLE sharepic ADD COLUMN savedate TEXT;
CREATE INDEX sharepic_share ON sharepic(shareid);

CREATE TABLE upfile (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  filename TEXT NOT NULL,
  origname TEXT NOT NULL DEFAULT '',
  filesize INTEGER NOT NULL DEFAULT 0,
  uid TEXT NOT NULL DEFAULT '',
  savedate TEXT,
  ipaddress TEXT NOT NULL DEFAULT ''
);
CREATE UNIQUE INDEX upfile_name ON upfile(filename);
)SQL";

// Accounts an administrator disabled keep their rows (and so their history)
// but cannot log in; login reads the mark through `userdep`. The reminder
// sound's path is appended to the application's path, so it starts with "/".
constexpr std::string_view kVersion3 = R"SQL(
ALTER TABLE userlist ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0;

DROP VIEW userdep;
CREATE VIEW userdep AS
  SELECT u.id AS id, u.uid AS uid, u.passwd AS passwd, u.name AS name,
         COALESCE(NULLIF(u.dep, ''), d.depname, '') AS depname,
         u.type AS type, u.power AS power, u.disabled AS disabled
  FROM userlist u LEFT JOIN depart d ON CAST(d.depno AS TEXT) = u.depid;

UPDATE sysconfig SET soundpath = '/' || soundpath
  WHERE soundpath <> '' AND substr(soundpath, 1, 1) <> '/';
)SQL";

// What the desk, the menu and the status bar ask for on every request, held
// so that no request walks a user's whole list: indexes in the order of the
// pending-work and mailbox lists, and each user's counts of open items, mails
// and unread mails, kept by triggers on every change of the two tables (the
// rows of a user with no count are all zero).
constexpr std::string_view kVersion7 = R"SQL(
CREATE INDEX newwork_user_time ON newwork(userid, status, applytime);
CREATE INDEX mail_to_time ON mail(topeopleid, mailtime);

CREATE TABLE usercounts (
  userid TEXT PRIMARY KEY,
  work INTEGER NOT NULL DEFAULT 0,
  mails INTEGER NOT NULL DEFAULT 0,
  unread INTEGER NOT NULL DEFAULT 0
) WITHOUT ROWID;

INSERT INTO usercounts (userid, work, mails, unread)
  SELECT userid, SUM(work), SUM(mails), SUM(unread) FROM (
    SELECT userid, COUNT(*) AS work, 0 AS mails, 0 AS unread FROM newwork WHERE status = 0
      GROUP BY userid
    UNION ALL
    SELECT topeopleid, 0, COUNT(*), SUM(status = 0) FROM mail GROUP BY topeopleid)
  GROUP BY userid;

CREATE TRIGGER newwork_counts_insert AFTER INSERT ON newwork WHEN NEW.status = 0 BEGIN
  INSERT INTO usercounts (userid, work) VALUES (NEW.userid, 1)
    ON CONFLICT (userid) DO UPDATE SET work = work + 1;
END;
CREATE TRIGGER newwork_counts_delete AFTER DELETE ON newwork WHEN OLD.status = 0 BEGIN
  UPDATE usercounts SET work = work - 1 WHERE userid = OLD.userid;
END;
CREATE TRIGGER newwork_counts_update AFTER UPDATE OF userid, status ON newwork
  WHEN (OLD.status = 0) <> (NEW.status = 0) OR (OLD.status = 0 AND OLD.userid IS NOT NEW.userid)
BEGIN
  UPDATE usercounts SET work = work - 1 WHERE userid = OLD.userid AND OLD.status = 0;
  INSERT INTO usercounts (userid, work) SELECT NEW.userid, 1 WHERE NEW.status = 0
    ON CONFLICT (userid) DO UPDATE SET work = work + 1;
END;

CREATE TRIGGER mail_counts_insert AFTER INSERT ON mail BEGIN
  INSERT INTO usercounts (userid, mails, unread) VALUES (NEW.topeopleid, 1, NEW.status = 0)
    ON CONFLICT (userid) DO UPDATE SET mails = mails + 1, unread = unread + excluded.unread;
END;
CREATE TRIGGER mail_counts_delete AFTER DELETE ON mail BEGIN
  UPDATE usercounts SET mails = mails - 1, unread = unread - (OLD.status = 0)
    WHERE userid = OLD.topeopleid;
END;
CREATE TRIGGER mail_counts_update AFTER UPDATE OF topeopleid, status ON mail
  WHEN OLD.topeopleid IS NOT NEW.topeopleid OR (OLD.status = 0) <> (NEW.status = 0)
BEGIN
  UPDATE usercounts SET mails = mails - 1, unread = unread - (OLD.status = 0)
    WHERE userid = OLD.topeopleid;
  INSERT INTO usercounts (userid, mails, unread) VALUES (NEW.topeopleid, 1, NEW.status = 0)
    ON CONFLICT (userid) DO UPDATE SET mails = mails + 1, unread = unread + excluded.unread;
END;
)SQL";

struct Migration {
  int version;
  std::string_view sql;
};

const std::vector<Migration>& migrations() {
  static const std::vector<Migration> list = {{1, kVersion1}, {2, kVersion2}, {3, kVersion3},
                                              {4, kVersion4}, {5, kVersion5}, {6, kVersion6},
                                              {7, kVersion7}};
  return list;
}

}  // namespace

int latest_schema_version() {
  return migrations().back().version;
}

int schema_version(db::Connection& conn) {
  conn.script("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  std::string v = conn.scalar("SELECT MAX(version) FROM schema_version");
  return v.empty() ? 0 : std::stoi(v);
}

int migrate(db::Connection& conn, int target) {
  schema_version(conn);  // makes the table
  // Each migration is applied once, whatever the order numbers arrived in;
  // `target` (tests) stops before any later one.
  for (const auto& m : migrations()) {
    if (target > 0 && m.version > target) continue;
    if (conn.scalar("SELECT COUNT(*) FROM schema_version WHERE version = ?", {m.version}) != "0")
      continue;
    db::Transaction tx(conn);
    conn.script(m.sql);
    conn.exec("INSERT INTO schema_version (version) VALUES (?)", {m.version});
    tx.commit();
  }
  return schema_version(conn);
}

}  // namespace desk::host
