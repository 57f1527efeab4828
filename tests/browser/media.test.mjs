// The media library in the browser: zhang uploads three pictures and makes
// a shared album, uploads a private piece of music and plays it; li sees the
// album but not the music.
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { join } from 'node:path';
import { deflateSync } from 'node:zlib';
import { describe, test } from 'node:test';

import { useSite } from './harness.mjs';
import { frame, textOf } from './frames.mjs';

const site = useSite();

const kWindow = { viewport: { width: 1280, height: 1000 } };
const albumTitle = '年会合影';
const musicTitle = '晨曲';

function crc32(bytes) {
  let c = ~0;
  for (const b of bytes) {
    c ^= b;
    for (let k = 0; k < 8; ++k) c = (c >>> 1) ^ (0xedb88320 & -(c & 1));
  }
  return ~c >>> 0;
}

// A valid PNG picture of 16 x 12 pixels in one colour.
function png([r, g, b]) {
  const chunk = (type, data) => {
    const len = Buffer.alloc(4);
    len.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(body));
    return Buffer.concat([len, body, crc]);
  };
  const [w, h] = [16, 12];
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(w, 0);
  ihdr.writeUInt32BE(h, 4);
  ihdr.set([8, 2, 0, 0, 0], 8);  // 8-bit RGB
  const row = Buffer.concat([Buffer.from([0]), Buffer.from(Array(w).fill([r, g, b]).flat())]);
  return Buffer.concat([
    Buffer.from('89504e470d0a1a0a', 'hex'),
    chunk('IHDR', ihdr),
    chunk('IDAT', deflateSync(Buffer.concat(Array(h).fill(row)))),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// One second of a 440 Hz tone: a WAV header and 16-bit mono samples at 8 kHz.
function wav() {
  const rate = 8000;
  const samples = Buffer.alloc(rate * 2);
  for (let i = 0; i < rate; ++i) {
    samples.writeInt16LE(Math.round(8000 * Math.sin((2 * Math.PI * 440 * i) / rate)), i * 2);
  }
  const h = Buffer.alloc(44);
  h.write('RIFF', 0, 'ascii');
  h.writeUInt32LE(36 + samples.length, 4);
  h.write('WAVEfmt ', 8, 'ascii');
  h.writeUInt32LE(16, 16);
  h.writeUInt16LE(1, 20);  // PCM
  h.writeUInt16LE(1, 22);  // mono
  h.writeUInt32LE(rate, 24);
  h.writeUInt32LE(rate * 2, 28);
  h.writeUInt16LE(2, 32);
  h.writeUInt16LE(16, 34);
  h.write('data', 36, 'ascii');
  h.writeUInt32LE(samples.length, 40);
  return Buffer.concat([h, samples]);
}

// Opens the media library from the menu; returns the work frame.
async function openLibrary(page) {
  const left = frame(page, 'left');
  const link = left.locator('a[href="sharemore.asp"]');
  if (!(await link.isVisible())) await left.click('#parent1 td');
  await link.click();
  const right = frame(page, 'right');
  await right.waitForURL(/\/sharemore\.asp$/);
  return right;
}

// Whether the picture `selector` of `f` has loaded and has a size.
function pictureShown(f, selector) {
  return f.locator(selector).evaluate((img) => img.complete && img.naturalWidth > 0);
}

// The HTTP status of a GET of `path` made by the page in `f`, with its cookies.
function statusOf(f, path) {
  return f.evaluate((p) => fetch(p, { credentials: 'same-origin' }).then((r) => r.status), path);
}

describe('the shared media library', () => {
  let albumId;
  let musicId;

  test('zhang uploads three pictures and makes a shared album', async () => {
    const page = await site.login('zhang', undefined, kWindow);
    const right = await openLibrary(page);
    await right.click('a[href="shareadd.asp?type=pic"]');
    await right.waitForURL(/shareadd\.asp\?type=pic$/);
    const colours = [[200, 30, 30], [30, 160, 60], [40, 60, 210]];
    await right.setInputFiles('#mediafile', colours.map((c, i) => ({
      name: `照片${i + 1}.png`, mimeType: 'image/png', buffer: png(c),
    })));
    await right.fill('input[name=title]', albumTitle);
    await right.fill('textarea[name=content]', '二〇二四年年会');
    await right.check('input[name=isshare][value="1"]');
    await site.screenshot(page, 'upload');
    await right.click('input[type=submit]');
    await right.waitForURL(/shareview\.asp\?id=\d+$/);
    albumId = Number(new URL(right.url()).searchParams.get('id'));

    assert.equal(await textOf(right.locator('#itemtitle')), albumTitle);
    const thumbs = right.locator('img.thumb');
    assert.equal(await thumbs.count(), 3);
    await right.waitForFunction(() => {
      const imgs = [...document.querySelectorAll('img.thumb, #bigpic')];
      return imgs.every((i) => i.complete && i.naturalWidth > 0);
    });
    // A thumbnail shows its picture in the large view.
    const third = await thumbs.nth(2).getAttribute('data-id');
    await thumbs.nth(2).click();
    await right.waitForFunction(
        (id) => document.getElementById('bigpic').src.endsWith(`pic=${id}`), third);
    await right.waitForFunction(() => {
      const big = document.getElementById('bigpic');
      return big.complete && big.naturalWidth === 16;
    });
    assert.ok(await pictureShown(right, '#bigpic'));
    await site.screenshot(page, 'album');

    const pics = site.db()
        .prepare('SELECT id, format FROM sharepic WHERE shareid = ? ORDER BY id')
        .all(String(albumId));
    assert.deepEqual(pics.map((p) => p.format), ['png', 'png', 'png']);
    for (const p of pics) assert.ok(existsSync(join(site.dir, 'pic', `${p.id}.jpg`)));
    // Stored pictures are no static files.
    assert.equal(await statusOf(right, `pic/${pics[0].id}.jpg`), 404);
    assert.deepEqual(page.errors, []);
  });

  test('zhang uploads a piece of music for himself and plays it', async () => {
    const page = await site.login('zhang', undefined, kWindow);
    const right = await openLibrary(page);
    await right.click('a[href="shareadd.asp?type=mp3"]');
    await right.waitForURL(/shareadd\.asp\?type=mp3$/);
    await right.setInputFiles('#mediafile', { name: 'song.wav', mimeType: 'audio/wav', buffer: wav() });
    await right.fill('input[name=title]', musicTitle);
    await right.check('input[name=isshare][value="0"]');
    await right.click('input[type=submit]');
    await right.waitForURL(/shareview\.asp\?id=\d+$/);
    musicId = Number(new URL(right.url()).searchParams.get('id'));

    // The player can play it, and seeks within it.
    const state = await right.locator('audio#player').evaluate((a) => new Promise((resolve) => {
      const done = () => resolve({ ready: a.readyState, duration: a.duration });
      if (a.readyState >= 3) return done();
      a.addEventListener('canplay', done, { once: true });
      a.addEventListener('error', () => resolve({ error: a.error && a.error.code }), { once: true });
      a.load();
    }));
    assert.ok(state.ready >= 3, `the audio element reached canplay: ${JSON.stringify(state)}`);
    assert.ok(Math.abs(state.duration - 1) < 0.05, `one second long: ${state.duration}`);
    const seeked = await right.locator('audio#player').evaluate((a) => new Promise((resolve) => {
      a.addEventListener('seeked', () => resolve(a.currentTime), { once: true });
      a.currentTime = 0.5;
    }));
    assert.ok(Math.abs(seeked - 0.5) < 0.05);
    assert.match(site.serverLog(), new RegExp(`"GET /tarvo/sharefile\\.asp\\?id=${musicId}" 206 `));
    await site.screenshot(page, 'music');

    const row = site.db().prepare('SELECT type, format, isshare, uid FROM share WHERE id = ?')
        .get(musicId);
    assert.deepEqual(row, { type: 'mp3', format: 'wav', isshare: '0', uid: 'zhang' });
    assert.ok(existsSync(join(site.dir, 'MP3', `${musicId}.mp3`)));

    // The list shows both of zhang's items.
    await openLibrary(page);
    const list = await textOf(right.locator('#sharelist'));
    assert.ok(list.includes(albumTitle) && list.includes(musicTitle), list);
    assert.deepEqual(page.errors, []);
  });

  test('li sees the shared album but not the private music', async () => {
    const page = await site.login('li', undefined, kWindow);
    const right = await openLibrary(page);
    const list = await textOf(right.locator('#sharelist'));
    assert.ok(list.includes(albumTitle), list);
    assert.ok(list.includes('张伟'), 'the owner is shown');
    assert.ok(!list.includes(musicTitle), list);
    await site.screenshot(page, 'list');

    await right.click(`a[href="shareview.asp?id=${albumId}"]`);
    await right.waitForURL(/shareview\.asp\?id=\d+$/);
    assert.equal(await right.locator('img.thumb').count(), 3);
    assert.equal(await right.locator('input[value="删除"]').count(), 0, 'only the owner deletes');

    assert.equal(await statusOf(right, `shareview.asp?id=${musicId}`), 404);
    assert.equal(await statusOf(right, `sharefile.asp?id=${musicId}`), 404);
    assert.equal(await statusOf(right, `MP3/${musicId}.mp3`), 404);
    assert.deepEqual(page.errors, []);
  });
});
