// A visitor's path through the catalogue in a real browser: Debian's Chromium driven
// by playwright-core, against the installation with_site.sh serves. Screenshots of
// every page at a desktop and a phone width go to LIRAWEB_SCREENSHOTS.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch {
  console.log('playwright-core is not installed (node_setup.sh installs it); skipping');
  process.exit(77);
}

const base = process.env.LIRAWEB_BASE;
const shots = process.env.LIRAWEB_SCREENSHOTS || path.join(os.tmpdir(), 'liraweb-screenshots');
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

const desktop = { width: 1280, height: 900 };
const phone = { width: 390, height: 844 };

const chromiumFlags = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

let passed = 0;
async function step(name, body) {
  const started = Date.now();
  await body();
  passed += 1;
  console.log(`ok ${passed} - ${name} (${Date.now() - started} ms)`);
}

async function shoot(page, name) {
  await page.screenshot({ path: path.join(shots, `${name}.png`), fullPage: true });
}

// Nothing may stick out sideways: a page that needs horizontal scrolling is broken on a phone.
async function assertNoSidewaysScroll(page) {
  const overflow = await page.evaluate(
    () => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  assert.ok(overflow <= 0, `page is ${overflow}px wider than the window`);
}

async function searchByTitle(page, title) {
  await page.goto(`${base}/`);
  await page.getByLabel('書名').fill(title);
  await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
}

async function hitCount(page) {
  return Number(await page.locator('#hit-count').textContent());
}

async function resultRows(page) {
  return page.locator('table.results tbody tr');
}

async function main() {
  assert.ok(base, 'LIRAWEB_BASE is not set; run through with_site.sh');
  fs.mkdirSync(shots, { recursive: true });
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'liraweb-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath, headless: true, args: chromiumFlags, viewport: desktop,
  });
  try {
    const page = context.pages()[0] || await context.newPage();
    page.setDefaultTimeout(10000);
    const failedRequests = [];
    page.on('response', (r) => { if (r.status() >= 400) failedRequests.push(`${r.status()} ${r.url()}`); });

    await step('top page: every search field has its label', async () => {
      await page.goto(`${base}/`);
      assert.match(page.url(), /\/cgi-bin\/liraweb\/$/);
      for (const label of ['書名', '著者名', '出版者', 'ISBN', '件名', '並べ替える項目', '昇順（ア→ン、0→9）', '降順（ン→ア、9→0）']) {
        assert.equal(await page.getByLabel(label, { exact: true }).count(), 1, `label ${label}`);
      }
      assert.equal(await page.evaluate(() => document.characterSet), 'Shift_JIS');
      await shoot(page, 'desktop-top');
    });

    let hits = 0;
    await step('search for a Japanese title word, sorted by reading', async () => {
      await page.getByLabel('書名').fill('の');
      await page.getByLabel('並べ替える項目').selectOption('MS_SYOKANA');
      await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
      // The form is sent in the page's own encoding: の is 0x82 0xCC in Shift_JIS.
      assert.match(page.url(), /BOOKNAME=%82%CC/);
      assert.match(page.url(), /ORDER=MS_SYOKANA&ORDERKIND=ASC/);
      await page.getByRole('heading', { name: '検索結果' }).waitFor();
      hits = await hitCount(page);
      assert.ok(hits > 20, `expected more than one page of hits, got ${hits}`);
      const rows = await resultRows(page);
      assert.equal(await rows.count(), 20);
      assert.equal((await rows.first().locator('td').first().textContent()).trim(), '1');
      assert.match(await page.locator('.conditions').textContent(), /書名\s*=\s*の/);
      assert.match(await page.locator('#legend').textContent(), /貸出できます/);
      await shoot(page, 'desktop-list');
    });

    await step('next page continues the numbering', async () => {
      await Promise.all([page.waitForURL(/PAGENUM=1/), page.getByRole('link', { name: '次のページ' }).first().click()]);
      const rows = await resultRows(page);
      assert.equal((await rows.first().locator('td').first().textContent()).trim(), '21');
      assert.equal(await hitCount(page), hits);
      assert.equal(await page.getByRole('link', { name: '前のページ' }).count(), 2);
    });

    await step('a title link opens the detail page with loan state and location', async () => {
      const link = (await resultRows(page)).first().locator('td').nth(3).locator('a');
      const title = (await link.textContent()).trim();
      await Promise.all([page.waitForURL(/\/data\?ID=/), link.click()]);
      assert.equal((await page.locator('h1').textContent()).trim(), title);
      assert.match(await page.locator('#loan-state').textContent(), /貸出(可|中|不可)/);
      const where = (await page.locator('#whereabout').textContent()).trim();
      assert.ok(where && where !== '---', `no shelf location: '${where}'`);
      await shoot(page, 'desktop-detail');
    });

    await step('a lent-out book and an available one say so in words', async () => {
      for (const [title, state] of [['こころ', '貸出中'], ['吾輩は猫である', '貸出可']]) {
        await searchByTitle(page, title);
        const link = page.locator('table.results a', { hasText: new RegExp(`^${title}\\s*$`) }).first();
        await Promise.all([page.waitForURL(/\/data\?ID=/), link.click()]);
        assert.equal((await page.locator('#loan-state').textContent()).trim(), state);
      }
    });

    await step('nothing found shows the notice page', async () => {
      await searchByTitle(page, '見つかるはずのない書名');
      assert.match(await page.locator('h1').textContent(), /該当書籍は見付かりませんでした/);
      await shoot(page, 'desktop-error');
      await Promise.all([page.waitForURL(/\/cgi-bin\/liraweb$/), page.getByRole('link', { name: '検索画面に戻る' }).click()]);
      await page.getByLabel('書名').waitFor();
    });

    await step('phone width: one column, no sideways scrolling', async () => {
      await page.setViewportSize(phone);
      await page.goto(`${base}/`);
      await assertNoSidewaysScroll(page);
      await shoot(page, 'phone-top');
      await searchByTitle(page, 'の');
      await assertNoSidewaysScroll(page);
      // The rows turn into cards: the title spans the card's whole width.
      const cell = (await resultRows(page)).first().locator('td').nth(3);
      const rowBox = await (await resultRows(page)).first().boundingBox();
      const cellBox = await cell.boundingBox();
      assert.ok(cellBox.width > rowBox.width * 0.8, 'title cell does not span the card');
      await shoot(page, 'phone-list');
      const link = cell.locator('a');
      await Promise.all([page.waitForURL(/\/data\?ID=/), link.click()]);
      await assertNoSidewaysScroll(page);
      await shoot(page, 'phone-detail');
    });

    await step('no request failed', async () => {
      assert.deepEqual(failedRequests, []);
    });
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  console.log(`${passed} steps passed; screenshots in ${shots}`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
