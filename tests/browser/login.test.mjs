// Logging in and out through the login form in a real browser.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { useSite } from './harness.mjs';

const kWrongLogin = '用户名或密码错误，请重新输入。';

const site = useSite();

// Fills and posts the login form of the page it is on; returns once the
// page the login sent the browser to has loaded.
async function submitLogin(page, uid, password) {
  const before = page.url();
  await page.fill('#username', uid);
  await page.fill('#password', password);
  await Promise.all([page.waitForURL((u) => u.href !== before), page.click('input[type=submit]')]);
}

async function expectLoginForm(page) {
  await page.waitForSelector('form[action="login.asp"]');
  assert.ok(await page.isVisible('#username'), 'login id field visible');
  assert.ok(await page.isVisible('#password'), 'password field visible');
  assert.equal(await page.getAttribute('#password', 'type'), 'password');
}

async function sessionCookie(page) {
  const cookies = await page.context().cookies(site.url());
  return cookies.find((c) => c.name === 'DESKSID' && c.value !== '');
}

describe('login form', () => {
  test('the application address shows the login form', async () => {
    const page = await site.newPage();
    const res = await page.goto(site.url());
    assert.equal(res.status(), 200);
    await expectLoginForm(page);
    assert.match(await page.title(), /网络办公系统/);
    assert.equal(await page.textContent('#message'), '');
    assert.deepEqual(page.errors, []);
    await site.screenshot(page, 'form');
  });

  for (const [what, uid, password, shot] of [
    ['a wrong password', 'admin', site.adminPassword + 'x', 'refused'],
    ['an unknown login id', 'nobody', 'whatever'],
    ['an empty password', 'admin', ''],
  ]) {
    test(`${what} is refused with the message on the form`, async () => {
      const page = await site.newPage();
      await page.goto(site.url('default.htm'));
      await submitLogin(page, uid, password);
      assert.match(page.url(), /\/default\.htm\?e=1$/);
      await expectLoginForm(page);
      assert.equal((await page.textContent('#message')).trim(), kWrongLogin);
      assert.equal(await sessionCookie(page), undefined, 'no session after a failed login');
      assert.deepEqual(page.errors, []);
      if (shot) await site.screenshot(page, shot);
    });
  }

  test('the message shows only for a known code', async () => {
    const page = await site.newPage();
    await page.goto(site.url('default.htm?e=9'));
    await expectLoginForm(page);
    assert.equal(await page.textContent('#message'), '');
  });
});

describe('administrator session', () => {
  test('logs in to main.asp and out again through quit.asp', async () => {
    const page = await site.newPage();
    await page.goto(site.url());
    await submitLogin(page, 'admin', site.adminPassword);
    assert.match(page.url(), /\/main\.asp$/);
    const cookie = await sessionCookie(page);
    assert.ok(cookie, 'a session cookie after login');
    assert.equal(cookie.httpOnly, true);
    await site.screenshot(page, 'admin-main');

    await page.goto(site.url('quit.asp'));
    assert.match(page.url(), /\/default\.htm$/);
    await expectLoginForm(page);
    assert.equal(await sessionCookie(page), undefined, 'the session cookie is dropped');

    // The old session id no longer opens the application.
    await page.context().addCookies([cookie]);
    const res = await page.goto(site.url('main.asp'));
    assert.ok(!(res.ok() && page.url().endsWith('/main.asp')),
              `main.asp answered ${res.status()} to a session that was ended`);
  });

  test('a demo user logs in with the password init printed', async () => {
    const user = site.demoAccounts[0];
    assert.ok(user, 'init --demo lists demo users');
    const page = await site.newPage();
    await page.goto(site.url());
    await submitLogin(page, user.uid, user.password);
    assert.match(page.url(), /\/main\.asp$/);
  });
});
