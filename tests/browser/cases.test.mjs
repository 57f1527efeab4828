// Case files of the law-firm edition in the browser, served under its own
// virtual directory: zhang accepts a case from the menu, opens it from the
// case list, records a fee and a document on the case page and hands it to
// li; li opens it from his desk and closes it.
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { describe, test } from 'node:test';

import { useSite } from './harness.mjs';
import { frame, holdDeskItem, textOf } from './frames.mjs';

const site = useSite({ edition: 'law' });

const kWindow = { viewport: { width: 1280, height: 1000 }, acceptDownloads: true };
const title = '甲公司诉乙公司买卖合同纠纷';
const docName = '委托合同.doc';
const docBytes = Buffer.concat([Buffer.from('d0cf11e0', 'hex'),
                                Buffer.from(Array.from({ length: 256 }, (_, i) => i))]);

// Accepts every dialog of `page` and keeps their messages; `next(text)`
// resolves when a dialog containing `text` has been answered.
function answerDialogs(page) {
  const seen = [];
  const waiting = [];
  page.on('dialog', (d) => {
    seen.push(d.message());
    d.accept().catch(() => {});
    for (const w of waiting.splice(0)) {
      if (d.message().includes(w.text)) w.resolve(); else waiting.push(w);
    }
  });
  return {
    seen,
    next: (text) => new Promise((resolve) => waiting.push({ text, resolve })),
  };
}

function theCase() {
  return site.db().prepare('SELECT * FROM lawinfo WHERE lawtitle = ?').get(title);
}

describe('a case from acceptance to closing', () => {
  test('zhang accepts it, records a fee and a document and hands it to li', async () => {
    assert.equal(site.vdir, 'tarvolawyer');
    const page = await site.login('zhang', undefined, kWindow);
    const dialogs = answerDialogs(page);
    const left = frame(page, 'left');
    const right = frame(page, 'right');

    // The desk has the case line; the menu's daily-work group has the entries.
    assert.match(await textOf(right.locator('#deskcases')), /您承办的在办案件0件/);
    await left.click('#parent3 td');
    await left.click('a[href="lawaccept.asp"]');
    await right.waitForURL(/\/tarvolawyer\/lawaccept\.asp$/);
    assert.equal(await right.inputValue('input[name=moneyrate]'), '100');
    assert.equal(await right.inputValue('select[name=lawyerid]'), 'zhang');

    await right.fill('input[name=lawno]', '（2024）民初字第7号');
    await right.fill('input[name=lawtitle]', title);
    await right.fill('input[name=demandanttm]', '甲公司');
    await right.fill('input[name=defendanttm]', '乙公司');
    await right.fill('input[name=needmoney]', '10000');
    await right.fill('textarea[name=lawdesc]', '货款<50万元>未付');
    await site.screenshot(page, 'acceptance');
    const accepted = dialogs.next('登记案件成功');
    await right.click('input[type=submit][value="受理案件"]');
    await accepted;
    const row = theCase();
    assert.ok(row, 'the case is stored');
    assert.deepEqual([row.status, row.lawyerid, row.lawyername, row.moneyrate, row.lawdesc],
                     [0, 'zhang', '张伟', '100', '货款<50万元>未付']);

    // The case list leads to the case page.
    await left.click('a[href="lawlistall.asp"]');
    await right.waitForURL(/\/lawlistall\.asp$/);
    await right.click(`a[href="lawdiscuss.asp?flowid=${row.id}"]`);
    await right.waitForURL(/\/lawdiscuss\.asp\?flowid=\d+$/);
    assert.match(await textOf(right.locator('table.casehead')), new RegExp(title));
    assert.equal(await right.inputValue('textarea[name=lawdesc]'), '货款<50万元>未付');
    assert.match(await textOf(right.locator('div.feesummary')), /尚欠：10000\.00/);

    // A fee on its tab.
    await right.click('div.casetabs a:has-text("收费")');
    await right.waitForURL(/\/lawinfomoney\.asp\?flowid=\d+$/);
    await right.fill('input[name=moneyamt]', '3,000');
    await right.click('input[type=submit][value="添加收费记录"]');
    await right.waitForFunction(() => document.body.innerText.includes('收取律师费'));
    assert.match(await textOf(right.locator('div.feesummary')), /已收合计：3000\.00.*尚欠：7000\.00/);

    // A document on its tab, and back as it was.
    await right.click('div.casetabs a:has-text("案件文档")');
    await right.waitForURL(/\/lawinfodoc\.asp\?flowid=\d+$/);
    await right.setInputFiles('input[name=fj]',
                              { name: docName, mimeType: 'application/msword', buffer: docBytes });
    await right.click('input[type=submit][value="上传文档"]');
    const link = right.locator('a', { hasText: docName });
    await link.waitFor();
    const [download] = await Promise.all([page.waitForEvent('download'), link.click()]);
    assert.equal(download.suggestedFilename(), docName);
    assert.ok((await readFile(await download.path())).equals(docBytes), 'the document comes back');
    await site.screenshot(page, 'documents');

    // Handed to li from the case page; zhang no longer sees it.
    await right.click('div.casetabs a:has-text("案件信息")');
    await right.waitForURL(/\/lawdiscuss\.asp\?flowid=\d+$/);
    await right.selectOption('select[name=lawyerid]', 'li');
    const saved = dialogs.next('卷宗修改成功');
    await right.click('input[type=submit][value="保存卷宗"]');
    await saved;
    await right.waitForURL(/\/lawlistall\.asp$/);
    assert.equal(theCase().lawyername, '李娜');
    const items = site.db()
        .prepare("SELECT typed, url, baseid, status FROM newwork WHERE userid = 'li'").all();
    assert.deepEqual(items, [{ typed: '案件处理', url: 'lawdiscuss.asp', baseid: row.id, status: 0 }]);
    assert.deepEqual(page.errors.map(String), []);
  });

  test('li opens it from the desk and closes it', async (t) => {
    const row = theCase();
    if (!row || row.lawyerid !== 'li') return t.skip('the case was not handed to li');
    const [item] = site.db()
        .prepare("SELECT id FROM newwork WHERE userid = 'li' AND status = 0").all();
    const page = await site.login('li', undefined, kWindow);
    const dialogs = answerDialogs(page);
    const right = frame(page, 'right');
    const deskLink = await holdDeskItem(right, `a[href="lawdiscuss.asp?flowid=${row.id}&nwid=${item.id}"]`);
    assert.match(await textOf(deskLink), /^\[案件处理\]/);
    await deskLink.click();
    await right.waitForURL(/\/lawdiscuss\.asp\?flowid=\d+&nwid=\d+$/);
    assert.match(await textOf(right.locator('span.casestate')), /在办/);

    const confirmed = dialogs.next('确定结案');
    await right.click('input[type=submit][value="结　案"]');
    await confirmed;
    await right.waitForFunction(() => document.querySelector('span.casestate.closed'));
    assert.match(await textOf(right.locator('body')), /该案件已于 \S+ \S+ 由 李娜 结案/);
    await site.screenshot(page, 'closed');
    const closed = theCase();
    assert.deepEqual([closed.status, closed.closeuid], [1, 'li']);
    assert.equal(site.db().prepare('SELECT status FROM newwork WHERE id = ?').get(item.id).status, 1);
    assert.deepEqual(page.errors.map(String), []);
  });
});
