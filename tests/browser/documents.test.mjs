// An outgoing document in the browser: zhang drafts it with a body file and
// sends it to li for verification; li opens it from the desk, downloads the
// body, writes an opinion and hands it to wang for review.
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { describe, test } from 'node:test';

import { useSite } from './harness.mjs';
import { frame, holdDeskItem, textOf } from './frames.mjs';

const site = useSite();

// Tall enough for the drafting form to show whole.
const kWindow = { viewport: { width: 1280, height: 1000 } };

const title = '关于印发值班制度的通知';
const wenhao = '办〔2024〕7号';
const fileName = '通知.doc';
// A body with every byte value, so any text handling of the upload shows.
const bodyBytes = Buffer.concat([
  Buffer.from('d0cf11e0a1b11ae1', 'hex'),
  Buffer.from(Array.from({ length: 256 }, (_, i) => i)),
  Buffer.from('\r\n值班制度正文\r\n\0', 'utf8'),
]);
const opinion = '同意<请审核>，并核对附件。';

// Chooses `name` in the recipient tree of `f`: opens the member's department,
// then clicks the member.
async function pick(f, department, name) {
  await f.locator('td.workshop', { hasText: department }).click();
  const member = f.locator('td[id^=user]', { hasText: name });
  assert.equal(await member.isVisible(), true, `${name} shows under ${department}`);
  await member.click();
}

// The open items of `uid`, oldest first.
function openItems(uid) {
  return site.db()
      .prepare('SELECT id, url, baseid, typed, title FROM newwork WHERE userid = ? AND status = 0 ' +
               'ORDER BY id')
      .all(uid);
}

// Waits for a step's result page in `f` and returns its text.
async function resultText(f, message) {
  await f.waitForFunction((m) => document.body && document.body.innerText.includes(m), message);
  return textOf(f.locator('body'));
}

describe('an outgoing document from drafting to review', () => {
  let fawenId;

  test('zhang drafts it with a body file and sends it to li for verification', async () => {
    const page = await site.login('zhang', undefined, kWindow);
    const dialogs = [];
    page.on('dialog', (d) => {
      dialogs.push(d.message());
      d.dismiss().catch(() => {});
    });
    // The menu's document group holds the drafting page; it opens in the
    // work frame.
    const left = frame(page, 'left');
    await left.click('#parent2 td');
    await left.click('a[href="fawen.asp"]');
    const right = frame(page, 'right');
    await right.waitForURL(/\/fawen\.asp$/);
    assert.equal(await textOf(right.locator('font.bblue').nth(1)), '张伟', 'the drafter is shown');

    await right.fill('input[name=wenhao]', wenhao);
    await right.fill('input[name=title]', title);
    await right.fill('input[name=mainsend]', '各部门');
    await right.setInputFiles('#bodyfile',
                              { name: fileName, mimeType: 'application/msword', buffer: bodyBytes });
    await right.selectOption('select[name=typed]', { label: '核稿' });
    await pick(right, '业务部', '李娜');
    assert.equal(await right.inputValue('input[name=hiddenselect]'), 'li');
    assert.equal(await right.inputValue('input[name=username]'), '李娜');
    await site.screenshot(page, 'drafting');

    await right.click('input[type=button][value="发 送"]');
    const result = await resultText(right, '公文已发送');
    assert.match(result, /公文拟稿/);
    assert.deepEqual(dialogs, [], 'the form was complete');

    const docs = site.db()
        .prepare('SELECT id, title, wenhao, mainsend, documentname, filedata, writeid, writename, ' +
                 'writedep FROM fawen WHERE title = ?')
        .all(title);
    assert.equal(docs.length, 1);
    const doc = docs[0];
    assert.equal(doc.wenhao, wenhao);
    assert.equal(doc.mainsend, '各部门');
    assert.equal(doc.documentname, fileName);
    assert.ok(Buffer.isBuffer(doc.filedata), 'the body is stored as bytes');
    assert.ok(doc.filedata.equals(bodyBytes), 'the stored body is the uploaded file');
    assert.deepEqual([doc.writeid, doc.writename, doc.writedep], ['zhang', '张伟', '办公室']);
    fawenId = doc.id;

    const items = openItems('li');
    assert.equal(items.length, 1);
    assert.deepEqual({ ...items[0], id: 0 },
                     { id: 0, url: 'hegao.asp', baseid: fawenId, typed: '核稿', title });
    assert.deepEqual(page.errors.map(String), []);
  });

  test('li verifies it from the desk and hands it to wang for review', async (t) => {
    if (!fawenId) return t.skip('no document was drafted');
    const [item] = openItems('li');
    const page = await site.login('li', undefined, kWindow);
    const right = frame(page, 'right');
    const link = await holdDeskItem(right, `a[href="hegao.asp?flowid=${fawenId}&nwid=${item.id}"]`);
    assert.equal(await textOf(link), '[核稿]关于印发值班…');
    await link.click();
    await right.waitForURL(/\/hegao\.asp\?flowid=\d+&nwid=\d+$/);

    const view = right.locator('table.fawenview');
    const fields = await textOf(view);
    for (const shown of [`标 题：${title}`, `文 号：${wenhao}`, '拟稿单位：办公室',
                         '拟 稿 人：张伟', `公文正文：${fileName}`]) {
      assert.ok(fields.replace(/　/g, ' ').replace(/ +/g, ' ').includes(shown),
                `the document shows "${shown}": ${fields}`);
    }

    // The body link opens a window of its own that saves the file.
    const bodyLink = view.locator(`a[href="loadhg.asp?flowid=${fawenId}"]`);
    const [download] = await Promise.all([
      new Promise((resolve) => {
        page.once('download', resolve);
        page.context().once('page', (popup) => popup.once('download', resolve));
      }),
      bodyLink.click(),
    ]);
    assert.equal(download.suggestedFilename(), fileName);
    const saved = await readFile(await download.path());
    assert.ok(saved.equals(bodyBytes), `the downloaded body has ${saved.length} bytes, ` +
              `not the ${bodyBytes.length} uploaded`);

    await right.fill('textarea[name=name_hg]', opinion);
    await right.selectOption('form[name=form] select[name=typed]', { label: '审核' });
    await pick(right, '业务部', '王强');
    assert.equal(await right.inputValue('input[name=hiddenselect]'), 'wang');
    await site.screenshot(page, 'verification');

    await right.click('input[type=submit][value="提 交"]');
    await resultText(right, '公文已发送');

    assert.deepEqual(openItems('li'), [], 'li\'s item is done');
    const next = openItems('wang');
    assert.equal(next.length, 1);
    assert.deepEqual({ ...next[0], id: 0 },
                     { id: 0, url: 'shenhe.asp', baseid: fawenId, typed: '审核', title });
    const doc = site.db().prepare('SELECT name_hg, hegaoname FROM fawen WHERE id = ?').get(fawenId);
    assert.match(doc.name_hg,
                 /^同意&lt;请审核&gt;，并核对附件。<br>李娜&nbsp;\d{4}年\d{1,2}月\d{1,2}日$/);
    assert.equal(doc.hegaoname, '李娜');
    assert.deepEqual(page.errors.map(String), []);
  });

  test('wang opens the review and reads li\'s signed opinion', async (t) => {
    const [item] = openItems('wang');
    if (!fawenId || !item) return t.skip('the document did not reach wang');
    const page = await site.login('wang', undefined, kWindow);
    const right = frame(page, 'right');
    await (await holdDeskItem(right, `a[href="shenhe.asp?flowid=${fawenId}&nwid=${item.id}"]`)).click();
    await right.waitForURL(/\/shenhe\.asp\?/);
    const view = textOf(right.locator('table.fawenview'));
    assert.match(await view, /核稿意见：\s*同意<请审核>，并核对附件。\s*李娜/);
    assert.match(await view, /核 稿 人：\s*李娜/);
    assert.equal(await right.locator('textarea[name=name_sh]').count(), 1, 'the review form');
    assert.deepEqual(page.errors.map(String), []);
  });
});
