# The desk data of the comparison (sourced, not run): a user's pending work,
# mail and the notices, written with Debian's sqlite3 shell while the server
# is not running.
#
#   seed_desk DB UID TODAY_ITEMS OLD_ITEMS MAILS
#
# TODAY_ITEMS open items sent to UID today (the desk lists them), OLD_ITEMS
# open items from earlier days (counted, not listed), and MAILS mails to UID,
# the newest ten and every fifth older one unread.
#   seed_notices DB COUNT
# makes the notice board hold at least COUNT notices.

seed_desk() {
  local db=$1 uid=$2 today=$3 old=$4 mails=$5
  sqlite3 -batch -bail "$db" \
    ".parameter set :uid '$uid'" \
    ".parameter set :today $today" \
    ".parameter set :old $old" \
    ".parameter set :mails $mails" "
BEGIN IMMEDIATE;
WITH RECURSIVE seq(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM seq WHERE k < :today)
INSERT INTO newwork (userid, title, url, baseid, applytime, typed, status)
SELECT :uid, '今天的公文第' || k || '号', 'hegao.asp', k,
       date('now', 'localtime') || ' 00:' || printf('%02d', k % 60) || ':30', '核稿', 0
FROM seq WHERE :today > 0;
WITH RECURSIVE seq(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM seq WHERE k < :old)
INSERT INTO newwork (userid, title, url, baseid, applytime, typed, status)
SELECT :uid, '以前的公文第' || k || '号', 'shenhe.asp', 1000000 + k,
       datetime('now', 'localtime', 'start of day', '-1 minutes', '-' || k || ' minutes'), '审核', 0
FROM seq WHERE :old > 0;
WITH RECURSIVE seq(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM seq WHERE k < :mails)
INSERT INTO mail (topeopleid, topeople, title, text, mailtime, senderid, sendername, status)
SELECT :uid, :uid, '邮件标题第' || k || '封：关于工作安排', '邮件正文。',
       datetime('now', 'localtime', '-' || (:mails - k) || ' minutes'), 'chen', '陈杰',
       CASE WHEN k > :mails - 10 OR k % 5 = 0 THEN 0 ELSE 1 END
FROM seq WHERE :mails > 0;
COMMIT;"
}

seed_notices() {
  local db=$1 count=$2
  sqlite3 -batch -bail "$db" ".parameter set :n $count" "
WITH RECURSIVE seq(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM seq WHERE k < :n)
INSERT INTO news (title, content, senddate, sendtime, senderid, sendername)
SELECT '通知第' || k || '号', '通知内容。', date('now', 'localtime'), datetime('now', 'localtime'),
       'admin', '系统管理员'
FROM seq WHERE k > (SELECT COUNT(*) FROM news);"
}
