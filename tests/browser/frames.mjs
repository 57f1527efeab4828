// Helpers for the pages of the frame set (main.asp) shared by the tests.
import assert from 'node:assert/strict';

// The frame `name` of the frame set on `page`.
export function frame(page, name) {
  const f = page.frame(name);
  assert.ok(f, `frame ${name} exists`);
  return f;
}

// Text of an element with its runs of white space folded.
export async function textOf(locator) {
  return (await locator.textContent()).replace(/\s+/g, ' ').trim();
}

// Today's pending items scroll up through their panel on the desk (frame
// `right`). Waits until the link `selector` is inside the panel, then holds
// the scroller still the way a user does, by pointing at it. Returns the link.
export async function holdDeskItem(right, selector) {
  await right.waitForFunction((sel) => {
    const a = document.querySelector(sel);
    const box = a && a.closest('marquee');
    return box && a.getBoundingClientRect().bottom <= box.getBoundingClientRect().bottom;
  }, selector, { timeout: 15_000 });
  await right.hover('marquee');
  return right.locator(selector);
}
