// The document control in Chromium, with the suite on HTTPS at an address
// Chromium treats as public and the document helper (officectl serve) on
// this machine. zhang drafts a document from a template through the control,
// li reviews it with revision marks, wang signs it with his signature picture;
// the stored .docx holds li's tracked changes and the picture. The same road
// without the helper (Chromium's local-network permission not given) uses the
// file inputs and download links, says so once, and offers the PDF preview.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { inflateRawSync } from 'node:zlib';

import { isoNow, outputDir, repoRoot, Site } from './harness.mjs';

const site = new Site({ https: true });
const officectlPath = process.env.OFFICECTL || join(repoRoot, 'build', 'bin', 'officectl');
const kWindow = { viewport: { width: 1280, height: 1000 } };
const template = readFileSync(join(repoRoot, 'tests', 'fuzz', 'corpus', 'docx', 'minimal.docx'));
const signature = readFileSync(join(repoRoot, 'tests', 'web', 'data', 'sig.jpg'));

// The helper, started for the suite's origin with the test operation on and
// no word processor to open.
const helper = {
  child: null, root: null, port: 0, code: '', log: '',
  async start(origin, ca) {
    this.root = mkdtempSync(join(tmpdir(), 'desk-helper-'));
    this.child = spawn(officectlPath,
        ['serve', '--origin', origin, '--port', '0', '--state', join(this.root, 'state'),
         '--drives', join(this.root, 'drives'), '--editor', 'none', '--ca', ca, '--test-ops',
         '--log'],
        { stdio: ['ignore', 'pipe', 'pipe'] });
    this.child.stderr.setEncoding('utf8');
    this.child.stderr.on('data', (t) => { this.log += t; });
    this.child.stdout.setEncoding('utf8');
    await new Promise((resolve, reject) => {
      this.child.once('exit', (code) => reject(new Error(`officectl exited (${code}): ${this.log}`)));
      this.child.stdout.on('data', (t) => {
        for (const m of t.matchAll(/pairing code for \S+: (\d{8})/g)) this.code = m[1];
        const p = /on http:\/\/127\.0\.0\.1:(\d+)\//.exec(t);
        if (p) {
          this.port = Number(p[1]);
          resolve();
        }
      });
    });
  },
  stop() {
    if (this.child && this.child.exitCode === null) this.child.kill('SIGTERM');
    if (this.root) rmSync(this.root, { recursive: true, force: true });
  },
  // Requests that reached the helper.
  requests(path) {
    return this.log.split('\n').filter((l) => l.includes(`"POST ${path}"`)).length;
  },
};

before(async () => {
  await site.start();
  // The helper trusts the suite's self-signed certificate, as a user of a
  // trial suite would configure it.
  await helper.start(new URL(site.baseUrl).origin, join(site.dir, 'data', 'tls', 'cert.pem'));
  site.db().prepare('INSERT INTO temple (filedata, filename, fileindex, wtime) VALUES (?, ?, 1, ?)')
      .run(template, '通知模板', isoNow());
  site.db().prepare("UPDATE userlist SET signature = ? WHERE uid = 'wang'").run(signature);
});
after(async () => {
  writeFileSync(join(outputDir, 'office-helper.log'), helper.log);
  helper.stop();
  await site.stop();
});

// A page of `uid`'s own browser. With `helper`, the browser lets the suite
// reach the helper (the local-network permission, as the user would grant
// it) and types the pairing code the helper shows when asked; without, the
// permission is not given. Message boxes are collected in page.dialogs.
async function browserOf(uid, withHelper) {
  const page = await site.login(uid, undefined, kWindow);
  const context = page.context();
  if (withHelper) {
    await context.grantPermissions(['local-network-access'], { origin: new URL(site.baseUrl).origin });
  }
  await context.addInitScript((port) => { window.officeHelperPort = port; }, helper.port);
  page.dialogs = [];
  page.on('dialog', (d) => {
    page.dialogs.push(d.message());
    (d.type() === 'prompt' ? d.accept(helper.code) : d.accept()).catch(() => {});
  });
  return page;
}

// Chooses `name` in the recipient tree: opens the department, clicks the member.
async function pick(page, department, name) {
  await page.locator('td.workshop', { hasText: department }).first().click();
  await page.locator('td[id^=user]', { hasText: name }).first().click();
}

async function waitText(page, selector, part) {
  await page.waitForFunction(([sel, t]) => {
    const e = document.querySelector(sel);
    return e && e.innerText.includes(t);
  }, [selector, part], { timeout: 60_000 });
}

async function sent(page) {
  await page.waitForFunction(() => document.body && document.body.innerText.includes('公文已发送'),
                             null, { timeout: 60_000 });
}

function openItem(uid, fawenId) {
  return site.db().prepare(
      'SELECT id FROM newwork WHERE userid = ? AND baseid = ? AND status = 0').get(uid, fawenId).id;
}

function body(fawenId) {
  return site.db().prepare('SELECT filedata FROM fawen WHERE id = ?').get(fawenId).filedata;
}

// The entries of a zip archive by name (stored or deflated).
function unzip(buf) {
  let eocd = buf.length - 22;
  while (eocd >= 0 && buf.readUInt32LE(eocd) !== 0x06054b50) eocd--;
  assert.ok(eocd >= 0, 'a zip archive');
  const count = buf.readUInt16LE(eocd + 10);
  let at = buf.readUInt32LE(eocd + 16);
  const out = new Map();
  for (let i = 0; i < count; i++) {
    const method = buf.readUInt16LE(at + 10);
    const size = buf.readUInt32LE(at + 20);
    const nameLen = buf.readUInt16LE(at + 28);
    const extraLen = buf.readUInt16LE(at + 30);
    const commentLen = buf.readUInt16LE(at + 32);
    const local = buf.readUInt32LE(at + 42);
    const name = buf.toString('utf8', at + 46, at + 46 + nameLen);
    const data = local + 30 + buf.readUInt16LE(local + 26) + buf.readUInt16LE(local + 28);
    const raw = buf.subarray(data, data + size);
    out.set(name, method === 8 ? inflateRawSync(raw) : raw);
    at += 46 + nameLen + extraLen + commentLen;
  }
  return out;
}

describe('with the document helper', () => {
  const title = '关于值班安排的通知';
  let fawenId;

  test('zhang drafts the body from the template in the control', async () => {
    const page = await browserOf('zhang', true);
    await page.goto(site.url('fawen.asp'));
    await page.locator('#officebox').waitFor({ state: 'visible', timeout: 30_000 });
    assert.equal(await page.locator('#fallbackbox').isVisible(), false, 'no file input');
    await page.click('#officebox input[value="用所选模板撰写正文"]');
    await waitText(page, '#officestate', '已在文字处理软件中打开');
    // What zhang types in the word processor.
    await page.evaluate(() => office.testEdit({ paragraph: 0, insert: '：值班安排', at_end: true }));
    await page.fill('input[name=title]', title);
    await page.selectOption('select[name=typed]', '2');
    await pick(page, '业务部', '李娜');
    await page.click('input[type=button][value="发 送"]');
    await sent(page);
    fawenId = site.db().prepare('SELECT id FROM fawen WHERE title = ?').get(title).id;
    const doc = unzip(body(fawenId)).get('word/document.xml').toString('utf8');
    assert.match(doc, /Hello.*：值班安排/s, 'the template with zhang\'s text');
    assert.equal(site.db().prepare('SELECT documentname FROM fawen WHERE id = ?').get(fawenId)
                     .documentname, `${title}.docx`);
    assert.equal(helper.requests('/pair'), 1, 'paired once');
  });

  test('li reviews it with revision marks under her name', async () => {
    const page = await browserOf('li', true);
    await page.goto(site.url(`shenhe.asp?flowid=${fawenId}&nwid=${openItem('li', fawenId)}`));
    await page.locator('#officebox').waitFor({ state: 'visible', timeout: 30_000 });
    await page.click('#officebox input[value="打开正文（修订模式）"]');
    await waitText(page, '#officestate', '修订');
    await page.evaluate(() => office.testEdit(
        { paragraph: 0, insert: '（已审核）', at_end: true, delete_from: 0, delete_count: 2 }));
    await page.fill('textarea[name=name_sh]', '同意，请签发。');
    await page.selectOption('select[name=typed]', '4');
    await pick(page, '业务部', '王强');
    await page.click('form[name=form] input[type=submit]');
    await sent(page);
    const doc = unzip(body(fawenId)).get('word/document.xml').toString('utf8');
    assert.match(doc, /<w:ins [^>]*w:author="李娜"/, 'the insertion is li\'s');
    assert.match(doc, /<w:del [^>]*w:author="李娜"[^>]*>.*?<w:delText[^>]*>He<\/w:delText>/s);
  });

  test('wang signs it with his signature picture', async () => {
    const page = await browserOf('wang', true);
    await page.goto(site.url(`qianfa.asp?flowid=${fawenId}&nwid=${openItem('wang', fawenId)}`));
    await page.locator('#officebox').waitFor({ state: 'visible', timeout: 30_000 });
    await page.click('#officebox input[value="打开正文"]');
    await waitText(page, '#officestate', '正文已打开');
    await page.click('#officebox input[value="插入我的签名"]');
    await waitText(page, '#officestate', '签名已插入正文');
    await page.fill('textarea[name=name_qf]', '同意。');
    await pick(page, '办公室', '张伟');
    await page.click('form[name=form] input[type=submit]');
    await sent(page);
    await site.screenshot(page, 'signed');

    const parts = unzip(body(fawenId));
    const doc = parts.get('word/document.xml').toString('utf8');
    assert.match(doc, /<w:ins [^>]*w:author="李娜"/, 'li\'s changes are still tracked');
    assert.match(doc, /<wp:anchor\b[^]*<a:blip [^>]*r:embed="/, 'a floating picture');
    const media = [...parts.keys()].filter((n) => n.startsWith('word/media/'));
    assert.equal(media.length, 1);
    assert.deepEqual(parts.get(media[0]), signature, 'the picture is wang\'s signature');
    assert.equal(page.dialogs.filter((d) => d.includes('错误')).length, 0, page.dialogs.join('\n'));
  });
});

describe('the media library through the document helper', () => {
  test('zhang shares a picture of his computer named by its path', async () => {
    mkdirSync(join(helper.root, 'drives', 'd', 'pics'), { recursive: true });
    writeFileSync(join(helper.root, 'drives', 'd', 'pics', '合影.jpg'), signature);
    const page = await browserOf('zhang', true);
    await page.goto(site.url('shareadd.asp?type=pic'));
    await page.locator('#officebox').waitFor({ state: 'visible', timeout: 30_000 });
    await page.fill('#officepath', 'd:\\pics\\合影.jpg');
    await page.fill('input[name=title]', '年会合影');
    await page.click('input[type=submit]');
    await page.waitForURL(/shareview\.asp\?id=\d+$/, { timeout: 60_000 });
    const album = site.db().prepare("SELECT id FROM share WHERE title = '年会合影'").get();
    const pics = site.db().prepare('SELECT id FROM sharepic WHERE shareid = ?').all(String(album.id));
    assert.equal(pics.length, 1);
    assert.deepEqual(readFileSync(join(site.dir, 'pic', `${pics[0].id}.jpg`)), signature);
    const messages = page.dialogs.filter((d) => !d.includes('配对码'));
    assert.deepEqual(messages, [], 'no message box but the pairing prompt');
  });
});

describe('without the document helper', () => {
  const title = '关于节假日安排的通知';
  let fawenId;

  test('zhang drafts with the file input, told once', async () => {
    const asked = helper.requests('/hello');
    const page = await browserOf('zhang', false);
    await page.goto(site.url('fawen.asp'));
    await waitText(page, '#officenote', '没有连接到本机的办公助手');
    assert.equal(await page.locator('#officebox').isVisible(), false);
    assert.equal(await page.locator('#fallbackbox').isVisible(), true);
    await page.reload();
    await page.locator('#bodyfile').waitFor();
    await page.waitForTimeout(500);
    assert.equal(await page.locator('#officenote').innerText(), '', 'said once');
    assert.equal(helper.requests('/hello'), asked, 'Chromium let no request reach the helper');

    await page.setInputFiles('#bodyfile', { name: '节假日.docx', mimeType: 'application/octet-stream',
                                            buffer: template });
    await page.fill('input[name=title]', title);
    await page.selectOption('select[name=typed]', '2');
    await pick(page, '业务部', '李娜');
    await page.click('input[type=button][value="发 送"]');
    await sent(page);
    fawenId = site.db().prepare('SELECT id FROM fawen WHERE title = ?').get(title).id;
    assert.deepEqual(body(fawenId), template);
  });

  test('li reads the body as PDF in the page and reviews it', async () => {
    const page = await browserOf('li', false);
    const link = `shenhe.asp?flowid=${fawenId}&nwid=${openItem('li', fawenId)}`;
    await page.goto(site.url(link));
    await waitText(page, '#officenote', '没有连接到本机的办公助手');
    assert.equal(await page.locator(`a[href="loadhg.asp?flowid=${fawenId}"]`).count(), 1);
    const pdf = page.waitForResponse((r) => r.url().includes('previewpdf.asp'), { timeout: 120_000 });
    await page.goto(site.url(`preview.asp?flowid=${fawenId}`));
    const answer = await pdf;
    assert.equal(answer.headers()['content-type'], 'application/pdf');
    // The frame holds the browser's PDF viewer; the bytes it was given:
    const bytes = await (await page.request.get(answer.url())).body();
    assert.equal(bytes.subarray(0, 5).toString(), '%PDF-');
    await site.screenshot(page, 'preview');

    await page.goto(site.url(link));
    await page.fill('textarea[name=name_sh]', '同意。');
    await page.selectOption('select[name=typed]', '4');
    await pick(page, '业务部', '王强');
    await page.click('form[name=form] input[type=submit]');
    await sent(page);
    assert.deepEqual(body(fawenId), template, 'the body is as drafted');
  });
});
