// The working screen: the frame set, the desk's pending work, clock-in and
// clock-out, and internal mail sent with the recipient picker.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { isoNow, useSite } from './harness.mjs';
import { frame, holdDeskItem, textOf } from './frames.mjs';

const site = useSite();

// Frame name -> the page it loads.
const kFrames = {
  top: 'top.asp',
  left: 'left.asp',
  down: 'rz.asp',
  rl: 'rl.htm',
  right: 'right.asp',
  rd: 'rd.asp',
};

// Loads the frame set on `page` (already logged in) and returns, by frame,
// the response of each frame's document (the frame set's own under
// page.mainFrame()).
async function loadFrameSet(page) {
  // A frame's name is not known yet when its document arrives: keyed by the
  // frame itself.
  const documents = new Map();
  const onResponse = (res) => {
    if (res.request().isNavigationRequest()) documents.set(res.request().frame(), res);
  };
  page.on('response', onResponse);
  try {
    // The frame set's load event waits for every frame.
    await page.goto(site.url('main.asp'));
  } finally {
    page.off('response', onResponse);
  }
  return documents;
}

// The waiting-work sprite of the menu frame.
async function sprite(page) {
  return frame(page, 'left').getAttribute('#cat', 'src');
}

function today() {
  return isoNow().slice(0, 10);
}

describe('frame set', () => {
  test('every frame loads its page', async () => {
    const page = await site.login('zhang');
    const documents = await loadFrameSet(page);
    assert.equal(documents.get(page.mainFrame())?.status(), 200, 'main.asp');
    for (const [name, source] of Object.entries(kFrames)) {
      const f = frame(page, name);
      assert.ok(f.url().endsWith('/' + source), `frame ${name} shows ${f.url()}, not ${source}`);
      const res = documents.get(f);
      assert.ok(res, `frame ${name} was loaded`);
      assert.equal(res.status(), 200, `frame ${name} (${source})`);
    }
    assert.equal(await page.title(), 'TARVO网络办公系统');
    assert.deepEqual(page.errors.map(String), []);
  });
});

describe('desk', () => {
  test('lists today\'s pending item with its link and counts every open one', async () => {
    const db = site.db();
    const add = db.prepare(
        'INSERT INTO newwork (userid, title, url, baseid, applytime, typed, status) ' +
        'VALUES (?, ?, ?, ?, ?, ?, ?)');
    // The title is exactly as long as the desk's lists show whole.
    const title = '预算<草案>';
    const now = new Date();
    const todays = add.run('zhang', title, 'hegao.asp', 4321, isoNow(now), '核稿', 0);
    const yesterday = new Date(now.getTime() - 24 * 3600 * 1000);
    add.run('zhang', '昨天的事项', 'shenhe.asp', 4322, isoNow(yesterday), '审核', 0);
    add.run('zhang', '已办的事项', 'shenhe.asp', 4323, isoNow(now), '审核', 1);
    add.run('chen', '别人的事项', 'shenhe.asp', 4324, isoNow(now), '审核', 0);

    const page = await site.login('zhang');
    const right = frame(page, 'right');
    const links = right.locator('a[href*="?flowid="]');
    assert.equal(await links.count(), 1, 'only today\'s open item of the user is listed');
    assert.equal(await textOf(links.first()), `[核稿]${title}`);
    assert.equal(await links.first().getAttribute('href'),
                 `hegao.asp?flowid=4321&nwid=${todays.lastInsertRowid}`);
    assert.equal(await textOf(right.locator('a[href="newwork.asp"]').first()),
                 '您共有2项待办的工作');
    assert.equal(await sprite(page), 'images/logo.gif', 'something waits');
    await holdDeskItem(right, 'a[href*="?flowid="]');
    await site.screenshot(page, 'frames');
    assert.deepEqual(page.errors.map(String), []);
  });

  test('clock-in then clock-out switch the buttons and fill the day\'s row', async () => {
    const page = await site.login('wang');
    const dialogs = [];
    page.on('dialog', (d) => {
      dialogs.push(d.message());
      d.accept().catch(() => {});
    });
    const right = frame(page, 'right');
    const clockIn = right.locator('input[name=startwork]');
    const clockOut = right.locator('input[name=Submit2]');
    const rows = () => site.db()
        .prepare('SELECT workday, timestart, timeend FROM worktime WHERE uid = ? ORDER BY id')
        .all('wang');

    assert.match(await textOf(right.locator('form')), /您今天还没有签到!/);
    assert.equal(await clockIn.isEnabled(), true);
    assert.equal(await clockOut.isEnabled(), false);
    assert.deepEqual(rows(), []);

    await clockIn.click();
    await right.waitForSelector('input[name=Submit2]:not([disabled])');
    assert.deepEqual(dialogs, ['签到成功']);
    assert.equal(await clockIn.isEnabled(), false);
    let worked = rows();
    assert.equal(worked.length, 1);
    assert.equal(worked[0].workday, today());
    assert.match(worked[0].timestart, /^\d\d:\d\d:\d\d$/);
    assert.equal(worked[0].timeend, '');
    assert.match(await textOf(right.locator('form')), new RegExp(`您今天${worked[0].timestart}签到`));

    await clockOut.click();
    await right.waitForFunction(() => /退签/.test(document.body.innerText));
    assert.deepEqual(dialogs, ['签到成功', '退签成功']);
    assert.equal(await clockIn.isEnabled(), false);
    assert.equal(await clockOut.isEnabled(), false);
    worked = rows();
    assert.equal(worked.length, 1, 'clock-out closes the same row');
    assert.match(worked[0].timeend, /^\d\d:\d\d:\d\d$/);
    assert.ok(worked[0].timeend >= worked[0].timestart,
              `${worked[0].timeend} is not after ${worked[0].timestart}`);
    assert.match(await textOf(right.locator('form')), new RegExp(`${worked[0].timeend}退签`));
    await site.screenshot(page, 'clocked');
    assert.deepEqual(page.errors.map(String), []);
  });
});

describe('mail with the picker', () => {
  // Short enough for the desk's mail list to show it whole; the markup
  // characters must come back as text.
  const subject = '周五例会<议程>&材料';
  // The contact's name has a character outside the pages' code page: the
  // browser posts it as a character reference, which must come back as text.
  const body = '请各位准时参加。\n联系人：王䶮';
  let mailId;

  test('zhang picks li in the department tree and sends', async () => {
    const page = await site.login('zhang');
    const right = frame(page, 'right');
    await right.click('a[href="writemail.asp"]');
    await right.waitForURL(/\/writemail\.asp$/);
    await right.fill('input[name=title]', subject);
    await right.fill('textarea[name=text]', body);

    const department = right.locator('td.workshop', { hasText: '业务部' });
    const opens = /show\('(dep\d+)'\)/.exec(await department.getAttribute('onclick'));
    assert.ok(opens, 'the department title opens its member table');
    const members = right.locator(`table#${opens[1]}`);
    assert.equal(await members.isVisible(), false, 'members start hidden');
    await department.click();
    assert.equal(await members.isVisible(), true, 'a click shows the members');
    await members.locator('td[id^=user]', { hasText: '李娜' }).click();
    assert.equal(await right.inputValue('input[name=hiddenselect]'), 'li;');
    assert.equal(await right.inputValue('input[name=username]'), '李娜');
    await site.screenshot(page, 'writemail');

    await right.click('input[type=submit]');
    await right.waitForFunction(() => document.body.innerText.includes('邮件已发送'));

    const sent = site.db()
        .prepare('SELECT id, topeopleid, topeople, title, text, sendername, status FROM mail ' +
                 'WHERE senderid = ?')
        .all('zhang');
    assert.equal(sent.length, 1);
    assert.equal(sent[0].topeopleid, 'li');
    assert.equal(sent[0].title, subject);
    assert.equal(sent[0].text.replace(/\r\n/g, '\n'), body);
    assert.equal(sent[0].sendername, '张伟');
    assert.equal(sent[0].status, 0);
    mailId = sent[0].id;
    assert.deepEqual(page.errors.map(String), []);
  });

  test('someone else cannot open it, and it stays unread', async (t) => {
    if (!mailId) return t.skip('no mail was sent');
    const page = await site.login('zhang');
    const res = await page.goto(site.url(`readmail.asp?id=${mailId}`));
    assert.equal(res.status(), 404);
    assert.match(await page.textContent('body'), /该邮件不存在或不属于您。/);
    assert.ok(!(await page.textContent('body')).includes(subject));
    assert.equal(site.db().prepare('SELECT status FROM mail WHERE id = ?').get(mailId).status, 0);
  });

  test('li sees it waiting on the desk and reading it clears the sprite', async (t) => {
    if (!mailId) return t.skip('no mail was sent');
    const idle = await site.login('zhao');
    assert.equal(await sprite(idle), 'images/logo1.gif', 'nothing waits for zhao');

    const page = await site.login('li');
    const right = frame(page, 'right');
    assert.equal(await sprite(page), 'images/logo.gif', 'the unread mail waits');
    const link = right.locator(`a[href="readmail.asp?id=${mailId}"]`);
    assert.equal(await link.textContent(), subject);
    assert.equal(await textOf(right.locator('a[href="mailbox.asp"]').locator('..')), '收件箱[1/1]');
    await site.screenshot(page, 'mail-waiting');

    await link.click();
    await right.waitForURL(/\/readmail\.asp\?id=\d+$/);
    assert.equal(await right.locator('b', { hasText: '周五' }).textContent(), subject);
    assert.match(await right.textContent('body'), /请各位准时参加。\s*联系人：王䶮/);
    assert.equal(site.db().prepare('SELECT status FROM mail WHERE id = ?').get(mailId).status, 1);

    const left = frame(page, 'left');
    await left.goto(left.url());
    assert.equal(await sprite(page), 'images/logo1.gif', 'nothing waits once it is read');
    await right.goto(site.url('right.asp'));
    assert.equal(await textOf(right.locator('a[href="mailbox.asp"]').locator('..')), '收件箱[0/1]');
    assert.equal(await right.locator(`a[href="readmail.asp?id=${mailId}"]`).count(), 0);
    assert.deepEqual(page.errors.map(String), []);
  });
});
