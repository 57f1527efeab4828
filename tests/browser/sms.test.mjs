// Text messages: the modem simulator on a pseudo-terminal is the server's
// modem; a message goes from the menu's page through the real serial code to
// the simulator and shows in the sender's list.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { after, before, test } from 'node:test';

import { frame, textOf } from './frames.mjs';
import { repoRoot, Site } from './harness.mjs';

const modemsimPath = process.env.MODEMSIM || join(repoRoot, 'build', 'bin', 'modemsim');
let modem = null;
let logDir = null;
const site = new Site({ settings: { sms_centre: '13900000001' } });

// The simulator runs first: the site's settings name its device.
before(async () => {
  logDir = mkdtempSync(join(tmpdir(), 'desk-modem-'));
  modem = spawn(modemsimPath, ['--log', join(logDir, 'received')],
                { stdio: ['ignore', 'pipe', 'inherit'] });
  const [device] = await Promise.race([
    once(createInterface({ input: modem.stdout }), 'line'),
    once(modem, 'exit').then(([code]) => { throw new Error(`modemsim exited (${code})`); }),
  ]);
  site.settings.sms_device = device.trim();
  await site.start();
});
after(async () => {
  await site.stop();
  modem?.kill('SIGTERM');
  if (logDir) rmSync(logDir, { recursive: true, force: true });
});

test('zhang sends a text to a contact and sees it in the sent list', async () => {
  const db = site.db();
  const contact = db.prepare('INSERT INTO phone (userid, name, mobilephone) VALUES (?, ?, ?)')
      .run('zhang', '王五', '13700000003').lastInsertRowid;
  const page = await site.login('zhang');
  const dialogs = [];
  page.on('dialog', (d) => {
    dialogs.push(d.message());
    d.dismiss().catch(() => {});
  });
  const left = frame(page, 'left');
  await left.click('#parent4 td');
  await left.click('a[href="phone.asp"]');
  const right = frame(page, 'right');
  await right.waitForURL(/\/phone\.asp$/);

  await right.selectOption('select[name=to]', `p${contact}`);
  assert.equal(await right.isDisabled('input[name=mobile]'), true, 'a chosen contact is the number');

  // Too long: the count says so, and a dismissed warning sends nothing.
  await right.fill('textarea[name=msg]', 'x'.repeat(72));
  assert.equal(await textOf(right.locator('#smsleft')), '已超出 2 个字，只会发送前 70 个字');
  await right.click('input[name=send]');
  assert.equal(dialogs.length, 1);
  assert.match(dialogs[0], /超过 70 个字/);
  assert.equal(db.prepare('SELECT COUNT(*) AS n FROM smssent').get().n, 0);

  // A line break is sent as CR LF: two characters.
  const text = '明天上午九点开会\n请准时';
  await right.fill('textarea[name=msg]', text);
  assert.equal(await textOf(right.locator('#smsleft')), '还可以输入 57 个字');
  await right.click('input[name=send]');
  assert.equal(await right.isDisabled('input[name=send]'), true, 'no second click while sending');
  // The modem's fixed waits take 5.6 s.
  await right.waitForURL(/\/phone\.asp\?sent=\d+$/, { timeout: 30_000 });
  assert.equal(await textOf(right.locator('#smsresult b')), '短信已发送');
  const listed = right.locator('#smslist tr', { hasText: '8613700000003' });
  assert.equal(await listed.count(), 1);
  assert.deepEqual((await listed.locator('td').allInnerTexts()).slice(1),
                   ['王五\n8613700000003', '明天上午九点开会\n请准时', '短信已发送']);
  assert.equal(dialogs.length, 1, 'a text that fits is sent without a warning');

  const rows = db.prepare('SELECT mobile, name, content, status FROM smssent WHERE userid = ?')
      .all('zhang');
  assert.deepEqual(rows, [{ mobile: '8613700000003', name: '王五',
                            content: '明天上午九点开会\r\n请准时', status: 'sent' }]);
  const received = readFileSync(join(logDir, 'received'), 'latin1');
  assert.ok(received.startsWith('AT+CMGF=0\rAT+CMGS= 41\r0891683109000000F111000D91683107000000F3'),
            received);
  await site.screenshot(page, 'sent');
  assert.deepEqual(page.errors.map(String), []);
});
