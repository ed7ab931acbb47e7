// A visitor's path through the catalogue in a real browser: Debian's Chromium driven
// by playwright-core, against the installation with_site.sh serves. Screenshots of
// every page at a desktop and a phone width go to LIRAWEB_SCREENSHOTS.
'use strict';

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
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
const phone = { width: 375, height: 812 };

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

// axe-core's WCAG 2.1 A and AA rules, run inside the page; a violation fails the test
// with the rule, its help text and the elements it found.
const axeSource = (() => {
  try {
    return require.resolve('axe-core/axe.min.js');
  } catch {
    return null;
  }
})();
async function assertAccessible(page, name) {
  assert.ok(axeSource, 'axe-core is not installed (node_setup.sh installs it)');
  if (!(await page.evaluate(() => typeof window.axe !== 'undefined'))) {
    await page.addScriptTag({ path: axeSource });
  }
  const result = await page.evaluate(() => window.axe.run(document, {
    runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] },
  }));
  assert.ok(result.passes.some((rule) => rule.id === 'color-contrast'), `axe-core did not run on ${name}`);
  const found = result.violations.map((v) =>
    `${v.id}: ${v.help} [${v.nodes.map((n) => n.target.join(' ')).join(', ')}]`);
  assert.deepEqual(found, [], `axe-core violations on ${name}`);
}

// The top page with its fold-out of the five field boxes opened.
async function openTopPage(page) {
  await page.goto(`${base}/`);
  await page.locator('details.more-fields > summary').click();
}

async function searchByTitle(page, title) {
  await openTopPage(page);
  await page.getByLabel('書名').fill(title);
  await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
}

async function hitCount(page) {
  return Number(await page.locator('#hit-count').textContent());
}

// The result cards the row template writes, one a book.
async function resultRows(page) {
  return page.locator('ol.results > li');
}

async function rowNumber(row) {
  return (await row.locator('.card-no').textContent()).trim();
}

// The first book is in the first screen: its title ends above the window's bottom edge.
async function assertFirstRowInFirstScreen(page) {
  await page.evaluate(() => window.scrollTo(0, 0));
  const box = await (await resultRows(page)).first().locator('.card-title').boundingBox();
  const height = page.viewportSize().height;
  assert.ok(box && box.y + box.height <= height,
    `first result title ends at y=${box && box.y + box.height}, the screen is ${height}px high`);
}

async function main() {
  assert.ok(base, 'LIRAWEB_BASE is not set; run through with_site.sh');
  fs.mkdirSync(shots, { recursive: true });
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'liraweb-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath, headless: true, args: chromiumFlags, viewport: desktop,
    acceptDownloads: true,
  });
  try {
    const page = context.pages()[0] || await context.newPage();
    page.setDefaultTimeout(10000);
    const failedRequests = [];
    // The not-found page answers 404 on purpose; every other status of 400 or more is a fault.
    const expectedNotFound = new Set();
    const expectedServerError = new Set();
    page.on('response', (r) => {
      if (r.status() >= 400 && !(r.status() === 404 && expectedNotFound.has(r.url())) &&
          !(r.status() === 500 && expectedServerError.has(r.url()))) {
        failedRequests.push(`${r.status()} ${r.url()}`);
      }
    });

    await step('top page: every search field has its label', async () => {
      await page.goto(`${base}/`);
      assert.match(page.url(), /\/cgi-bin\/liraweb\/$/);
      for (const label of ['キーワード', '書名', '著者名', '出版者', 'ISBN', '件名', '並べ替える項目', '昇順（ア→ン、0→9）', '降順（ン→ア、9→0）']) {
        assert.equal(await page.getByLabel(label, { exact: true }).count(), 1, `label ${label}`);
      }
      assert.equal(await page.evaluate(() => document.characterSet), 'Shift_JIS');
      // The page leads with the one box; the five fields wait in the fold-out.
      assert.ok(await page.getByLabel('キーワード').isVisible());
      assert.equal(await page.getByLabel('書名').isVisible(), false);
      assert.equal(await page.getByLabel('並べ替える項目').inputValue(), 'RELEVANCE');
      await shoot(page, 'desktop-top');
    });

    await step('the one box finds the exactly titled book first, then follows a no-hits link', async () => {
      // モモ is registered after もものかんづめ, which the same word finds too.
      await page.getByLabel('キーワード').fill('モモ');
      await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
      assert.match(page.url(), /ANY=%83%82%83%82&.*ORDER=RELEVANCE/);
      assert.ok((await hitCount(page)) > 1, 'モモ is held by more than one book');
      const first = (await resultRows(page)).first().locator('.card-title');
      assert.equal((await first.textContent()).trim(), 'モモ');
      // The author's name in the title field finds nothing; the notice offers the author field.
      await searchByTitle(page, '夏目漱石');
      assert.match(await page.locator('h1').textContent(), /該当書籍は見付かりませんでした/);
      const link = page.locator('ul.other-fields a', { hasText: /^著者名で探すと \d+ 件$/ });
      const offered = Number((await link.textContent()).match(/(\d+) 件/)[1]);
      assert.ok(offered > 1);
      await Promise.all([page.waitForURL(/CHOSYA=/), link.click()]);
      assert.equal(await hitCount(page), offered);
      assert.equal(await page.locator('form.search-form').getByLabel('著者名').inputValue(), '夏目漱石');
      await openTopPage(page);
    });

    let hits = 0;
    await step('search for a Japanese title word, sorted by reading', async () => {
      await page.getByLabel('書名').fill('の');
      await page.getByLabel('並べ替える項目').selectOption('MS_SYOKANA');
      await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
      // The form is sent in the page's own encoding: の is 0x82 0xCC in Shift_JIS.
      assert.match(page.url(), /BOOKNAME=%82%CC/);
      assert.match(page.url(), /ORDER=MS_SYOKANA&ORDERKIND=ASC/);
      await page.getByRole('heading', { name: 'の の検索結果' }).waitFor();
      hits = await hitCount(page);
      assert.ok(hits > 20, `expected more than one page of hits, got ${hits}`);
      const rows = await resultRows(page);
      assert.equal(await rows.count(), 20);
      assert.equal(await rowNumber(rows.first()), '1');
      assert.match(await page.locator('.conditions').textContent(), /書名\s*=\s*の/);
      // The title names the words and the page; each card its loan state in words.
      assert.equal(await page.title(), `の の検索結果 1/${Math.ceil(hits / 20)}ページ | サンプル市立図書館`);
      for (const state of await page.locator('ol.results .card-loan').allTextContents()) {
        assert.match(state, /^(貸出できます|貸出中|貸出できません)$/);
      }
      await assertFirstRowInFirstScreen(page);
      await shoot(page, 'desktop-list');
    });

    await step('next page continues the numbering', async () => {
      await Promise.all([page.waitForURL(/PAGENUM=1/), page.getByRole('link', { name: '次のページ' }).first().click()]);
      const rows = await resultRows(page);
      assert.equal(await rowNumber(rows.first()), '21');
      assert.equal(await hitCount(page), hits);
      assert.match(await page.title(), /^の の検索結果 2\/\d+ページ \| /);
      assert.equal(await page.getByRole('link', { name: '前のページ' }).count(), 2);
    });

    await step('a title link opens the detail page with loan state and location', async () => {
      const listUrl = page.url();
      const link = (await resultRows(page)).first().locator('.card-title a');
      const title = (await link.textContent()).trim();
      await Promise.all([page.waitForURL(/\/data\?ID=/), link.click()]);
      assert.equal((await page.locator('h1').textContent()).trim(), title);
      assert.match(await page.locator('#loan-state').textContent(), /貸出(可|中|不可)/);
      const where = (await page.locator('#whereabout').textContent()).trim();
      assert.ok(where && where !== '---', `no shelf location: '${where}'`);
      await shoot(page, 'desktop-detail');
      // The way back leads to the same page of the same search.
      await Promise.all([page.waitForURL(/\/list\?PAGENUM=1&/),
        page.getByRole('link', { name: '検索結果の一覧に戻る' }).click()]);
      assert.equal(new URL(page.url()).search, new URL(listUrl).search);
      assert.equal(await rowNumber((await resultRows(page)).first()), '21');
      // The author's other books: every one found is the author's.
      const author = (await (await resultRows(page)).first().locator('.card-author a').textContent()).trim();
      await Promise.all([page.waitForURL(/CHOSYA=/), (await resultRows(page)).first().locator('.card-author a').click()]);
      for (const shown of await page.locator('ol.results .card-author').allTextContents()) {
        assert.equal(shown.trim(), author);
      }
    });

    await step('a lent-out book and an available one say so in words', async () => {
      for (const [title, state] of [['こころ', '貸出中'], ['吾輩は猫である', '貸出可']]) {
        await searchByTitle(page, title);
        const link = page.locator('ol.results .card-title a', { hasText: new RegExp(`^${title}\\s*$`) }).first();
        await Promise.all([page.waitForURL(/\/data\?ID=/), link.click()]);
        assert.equal((await page.locator('#loan-state').textContent()).trim(), state);
      }
    });

    await step('a 13-digit ISBN as a barcode reader sends it finds the book', async () => {
      await openTopPage(page);
      await page.getByLabel('ISBN', { exact: true }).fill('9784101010014');
      await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
      await page.getByRole('heading', { name: '9784101010014 の検索結果' }).waitFor();
      assert.equal(await hitCount(page), 1);
      assert.equal(await page.locator('ol.results .card-title a', { hasText: /^吾輩は猫である\s*$/ }).count(), 1);
      // The condition summary shows the number as typed.
      assert.match(await page.locator('.conditions').textContent(), /ISBN\s*=\s*9784101010014/);
    });

    await step('nothing found shows the notice page', async () => {
      await searchByTitle(page, '見つかるはずのない書名');
      assert.match(await page.locator('h1').textContent(), /該当書籍は見付かりませんでした/);
      assert.match(await page.title(), /^該当書籍は見付かりませんでした \| /);
      await shoot(page, 'desktop-error');
      await Promise.all([page.waitForURL(/\/cgi-bin\/liraweb$/), page.getByRole('link', { name: '検索画面に戻る' }).click()]);
      await page.getByLabel('キーワード').waitFor();
    });

    await step('phone width: one column, no sideways scrolling', async () => {
      await page.setViewportSize(phone);
      await page.goto(`${base}/`);
      await assertNoSidewaysScroll(page);
      await shoot(page, 'phone-top');
      await searchByTitle(page, 'の');
      await assertNoSidewaysScroll(page);
      // The title spans the card's whole width.
      const cell = (await resultRows(page)).first().locator('.card-title');
      const rowBox = await (await resultRows(page)).first().boundingBox();
      const cellBox = await cell.boundingBox();
      assert.ok(cellBox.width > rowBox.width * 0.8, 'title does not span the card');
      await assertFirstRowInFirstScreen(page);
      await shoot(page, 'phone-list');
      const link = cell.locator('a');
      await Promise.all([page.waitForURL(/\/data\?ID=/), link.click()]);
      await assertNoSidewaysScroll(page);
      await shoot(page, 'phone-detail');
    });

    await step('permalink of a lent-out book: loan state and due date from the catalogue', async () => {
      await page.setViewportSize(desktop);
      const response = await page.goto(`${base}/cgi-bin/liraweb/data?ID=100003`);
      assert.equal(response.status(), 200);
      assert.equal((await page.locator('h1').textContent()).trim(), 'こころ');
      assert.equal((await page.locator('#loan-state').textContent()).trim(), '貸出中');
      assert.match(await page.locator('#due-date').textContent(), /返却予定日：2025-08-06/);
      assert.equal((await page.locator('#book-id').textContent()).trim(), '100003');
      // Due 2025-08-06, before the program's today: marked overdue. No list to go back to.
      assert.equal((await page.locator('#overdue').textContent()).trim(), '返却予定日を過ぎています');
      assert.equal(await page.getByRole('link', { name: '検索結果の一覧に戻る' }).count(), 0);
      assert.match(await page.title(), /^こころ \| 蔵書の詳細/);
      assert.equal(await page.locator('link[rel="canonical"]').getAttribute('href'),
        `${base}/cgi-bin/liraweb/data?ID=100003`);
      await shoot(page, 'desktop-detail-permalink');
    });

    await step('the detail page downloads the book as a RIS citation', async () => {
      await page.goto(`${base}/cgi-bin/liraweb/data?ID=100001`);
      const [download] = await Promise.all([
        page.waitForEvent('download'),
        page.locator('#export-ris').click(),
      ]);
      assert.equal(download.suggestedFilename(), '100001.ris');
      const ris = fs.readFileSync(await download.path(), 'utf8');
      assert.match(ris, /^TY  - BOOK\r\n/);
      assert.match(ris, /\r\nTI  - 吾輩は猫である\r\nAU  - 夏目漱石\r\n/);
      assert.match(ris, /\r\nER  - \r\n$/);
    });

    await step('a forged link does not reach the page', async () => {
      const forged = '%83%6E%83%62%83%4E%82%B3%82%EA%82%BD%96%7B'; // ハックされた本
      await page.goto(`${base}/cgi-bin/liraweb/data?ID=100001&RENT=1&BNAME=${forged}&ANAME=%3Cb%3Ex%3C/b%3E`);
      assert.equal((await page.locator('h1').textContent()).trim(), '吾輩は猫である');
      assert.equal((await page.locator('#loan-state').textContent()).trim(), '貸出可');
      assert.equal(await page.locator('#due-date').isVisible(), false);
      const text = await page.locator('body').textContent();
      assert.ok(!text.includes('ハックされた本') && !text.includes('<b>x'), 'a link value reached the page');
    });

    await step('an unknown ID answers the not-found page with 404', async () => {
      const url = `${base}/cgi-bin/liraweb/data?ID=999999&RENT=0`;
      expectedNotFound.add(url);
      const response = await page.goto(url);
      assert.equal(response.status(), 404);
      assert.match(await page.locator('h1').textContent(), /お探しの本は見つかりませんでした/);
      assert.match(await page.locator('#err-msg').textContent(), /999999/);
      assert.ok(await page.locator('.tips-not-found').isVisible());
      assert.equal(await page.locator('.tips-no-hits').isVisible(), false);
      // The installation's own look: its stylesheet styles the page.
      assert.equal(await page.locator('.site-header').evaluate((e) => getComputedStyle(e).backgroundColor),
        'rgb(29, 58, 95)');
      await shoot(page, 'desktop-not-found');
    });

    await step('the results page keeps the search in its form; one word changed searches again', async () => {
      await openTopPage(page);
      await page.getByLabel('書名').fill('ん');
      await page.getByLabel('著者名').fill('夏目');
      await page.getByLabel('並べ替える項目').selectOption('MS_CHOKANA');
      await page.getByLabel('降順（ン→ア、9→0）').check();
      await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
      await page.locator('details.refine > summary').click();
      const form = page.locator('form.search-form');
      assert.equal(await form.getByLabel('書名').inputValue(), 'ん');
      assert.equal(await form.getByLabel('著者名').inputValue(), '夏目');
      assert.equal(await form.getByLabel('並べ替える項目').inputValue(), 'MS_CHOKANA');
      assert.ok(await form.getByLabel('降順（ン→ア、9→0）').isChecked());
      assert.equal(await form.getByLabel('書名').getAttribute('autocomplete'), null);
      const before = await hitCount(page);
      await form.getByLabel('書名').fill('こ');
      await Promise.all([page.waitForURL(/BOOKNAME=%82%B1/), form.getByRole('button', { name: '検索する' }).click()]);
      assert.match(page.url(), /CHOSYA=%89%C4%96%DA/);
      assert.match(page.url(), /ORDER=MS_CHOKANA&ORDERKIND=DESC/);
      assert.equal(await page.locator('form.search-form').getByLabel('書名').inputValue(), 'こ');
      assert.equal(await page.locator('form.search-form').getByLabel('著者名').inputValue(), '夏目');
      assert.notEqual(await hitCount(page), before);
      // A result on one page writes no page navigation.
      assert.ok((await hitCount(page)) <= 20);
      assert.equal(await page.locator('nav.pager').count(), 0);
    });

    await step('Back keeps the typed words', async () => {
      await openTopPage(page);
      await page.getByLabel('書名').fill('吾輩');
      await page.getByLabel('出版者').fill('新潮');
      await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
      await page.goBack();
      await page.getByLabel('キーワード').waitFor();
      assert.equal(await page.getByLabel('書名').inputValue(), '吾輩');
      assert.equal(await page.getByLabel('出版者').inputValue(), '新潮');
    });

    await step('the page links move through a five-page result', async () => {
      await openTopPage(page);
      await page.getByLabel('出版者').fill('新');
      await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
      const total = await hitCount(page);
      assert.ok(total > 80 && total <= 100, `expected a five-page result, got ${total}`);
      const pager = page.getByRole('navigation', { name: 'ページ送り（上）' });
      const range = async () => (await page.locator('#page-range').textContent()).trim();
      assert.equal(await range(), `1～20件目 / ${total}件（全5ページ）`);
      assert.equal((await pager.locator('[aria-current="page"]').textContent()).trim(), '1');
      assert.equal(await pager.getByRole('link', { name: '5', exact: true }).count(), 1);
      await Promise.all([page.waitForURL(/PAGENUM=2&/), pager.getByRole('link', { name: '3', exact: true }).click()]);
      assert.equal(await range(), `41～60件目 / ${total}件（全5ページ）`);
      assert.equal(await rowNumber((await resultRows(page)).first()), '41');
      assert.equal(await page.locator('form.search-form').getByLabel('出版者').inputValue(), '新');
      await shoot(page, 'desktop-list-page3');
      await Promise.all([page.waitForURL(/PAGENUM=4&/), pager.getByRole('link', { name: '5', exact: true }).click()]);
      assert.equal(await range(), `81～${total}件目 / ${total}件（全5ページ）`);
      assert.equal(await pager.getByRole('link', { name: '次のページ' }).count(), 0);
      await Promise.all([page.waitForURL(/PAGENUM=3&/), pager.getByRole('link', { name: '前のページ' }).click()]);
      assert.equal((await pager.locator('[aria-current="page"]').textContent()).trim(), '4');
      await Promise.all([page.waitForURL(/PAGENUM=0&/), pager.getByRole('link', { name: '1', exact: true }).click()]);
      assert.equal(await pager.getByRole('link', { name: '前のページ' }).count(), 0);
    });

    await step('the no-hits page repeats the search, keeps it in the form and gives fitting tips', async () => {
      await searchByTitle(page, '見つかるはずのない書名');
      assert.match(await page.locator('.searched').textContent(), /書名\s*=\s*見つかるはずのない書名/);
      assert.equal(await page.locator('form.search-form').getByLabel('書名').inputValue(), '見つかるはずのない書名');
      assert.ok(await page.locator('.tips-no-hits').isVisible());
      assert.equal(await page.locator('.tips-no-keyword').isVisible(), false);
      await shoot(page, 'desktop-no-hits');
    });

    await step('OpenSearch: every page links a valid description that searches every field', async () => {
      for (const path of ['/cgi-bin/liraweb/', '/cgi-bin/liraweb/data?ID=100001']) {
        await page.goto(`${base}${path}`);
        assert.equal(await page.locator('link[rel="search"][type="application/opensearchdescription+xml"]').count(), 1);
        assert.equal(await page.locator('link[rel="icon"]').count(), 1);
      }
      const href = await page.locator('link[rel="search"]').getAttribute('href');
      const description = await page.evaluate(async (url) => {
        const response = await fetch(url);
        const text = new TextDecoder('shift_jis').decode(await response.arrayBuffer());
        const xml = new DOMParser().parseFromString(text, 'application/xml');
        const ns = 'http://a9.com/-/spec/opensearch/1.1/';
        const one = (name) => [...xml.getElementsByTagNameNS(ns, name)].map((e) => e.textContent);
        const url0 = xml.getElementsByTagNameNS(ns, 'Url')[0];
        return {
          type: response.headers.get('content-type'),
          parseError: xml.getElementsByTagName('parsererror').length,
          root: xml.documentElement.localName,
          shortName: one('ShortName'), description: one('Description'),
          input: one('InputEncoding'), output: one('OutputEncoding'),
          urlType: url0 && url0.getAttribute('type'), template: url0 && url0.getAttribute('template'),
        };
      }, href);
      assert.match(description.type, /^application\/opensearchdescription\+xml/);
      assert.equal(description.parseError, 0);
      assert.equal(description.root, 'OpenSearchDescription');
      assert.equal(description.shortName.length, 1);
      assert.ok(description.shortName[0].length > 0 && description.shortName[0].length <= 16);
      assert.equal(description.description.length, 1);
      assert.ok(description.description[0].length <= 1024);
      assert.deepEqual(description.input, ['Shift_JIS']);
      // The feeds the description also declares answer in UTF-8.
      assert.deepEqual(description.output, ['Shift_JIS', 'UTF-8']);
      assert.equal(description.urlType, 'text/html');
      assert.match(description.template, /^http:\/\/127\.0\.0\.1:\d+\/cgi-bin\/liraweb\/list\?.*ANY=\{searchTerms\}/);
      // A search engine fills the template with the words in the declared encoding.
      await page.goto(description.template.replace('{searchTerms}', '%82%B1%82%B1%82%EB')); // こころ
      assert.ok((await hitCount(page)) >= 1);
      assert.equal(await page.locator('form.search-form').getByLabel('キーワード').inputValue(), 'こころ');
    });

    await step('print hides the search time, the Back note and the forms', async () => {
      await page.goto(`${base}/cgi-bin/liraweb/data?ID=100001`);
      await page.emulateMedia({ media: 'print' });
      assert.equal(await page.locator('p.time').isVisible(), false);
      assert.equal(await page.locator('p.note').isVisible(), false);
      await page.emulateMedia({ media: 'screen' });
      assert.ok(await page.locator('p.note').isVisible());
    });

    await step('a broad search narrowed twice through facet links, one filter removed, a book opened', async () => {
      await page.goto(`${base}/`);
      await page.getByLabel('キーワード').fill('の');
      await Promise.all([page.waitForURL(/\/list\?/), page.getByRole('button', { name: '検索する' }).click()]);
      const broad = await hitCount(page);
      const facets = page.getByRole('complementary', { name: '絞り込み' });
      // A value's link leaves as many books as its count says.
      const follow = async (list, text) => {
        const link = facets.locator(`ul.${list} a`, { hasText: text }).first();
        const count = Number(await link.locator('.count').textContent());
        await Promise.all([page.waitForURL(/\/list\?/), link.click()]);
        return count;
      };
      const available = await follow('facet', '今すぐ借りられる');
      assert.match(page.url(), /&AVAILABLE=1/);
      assert.equal(await hitCount(page), available);
      assert.ok(available < broad, `${available} of ${broad} can be borrowed now`);
      const literature = await follow('facet', '文学');
      assert.match(page.url(), /&AVAILABLE=1&CLASS=9/);
      assert.equal(await hitCount(page), literature);
      assert.ok(literature < available);
      // Every row of the narrowed list can be borrowed now.
      const states = await (await resultRows(page)).locator('.card-loan').allTextContents();
      assert.ok(states.length > 0 && states.every((state) => state === '貸出できます'), states.join());
      await shoot(page, 'desktop-list-facets');
      // The applied filters: removing one keeps the other.
      await Promise.all([page.waitForURL(/\/list\?/),
        facets.locator('ul.facet-applied a', { hasText: '今すぐ借りられる' }).click()]);
      assert.doesNotMatch(page.url(), /AVAILABLE/);
      assert.match(page.url(), /&CLASS=9/);
      assert.ok((await hitCount(page)) >= literature);
      const title = (await resultRows(page)).first().locator('.card-title a');
      await Promise.all([page.waitForURL(/\/data\?ID=/), title.click()]);
    });

    await step('the 500 page is the installation\'s own: Japanese, Shift_JIS, a way back', async () => {
      const propSql = path.join(process.env.LIRAWEB_INSTALL, 'sql', 'Prop.sql');
      const url = `${base}/cgi-bin/liraweb/data?ID=100001`;
      expectedServerError.add(url);
      fs.renameSync(propSql, `${propSql}.away`);
      try {
        for (const [viewName, viewport] of [['desktop', desktop], ['phone', phone]]) {
          await page.setViewportSize(viewport);
          const response = await page.goto(url);
          assert.equal(response.status(), 500);
          assert.equal(await page.evaluate(() => document.documentElement.lang), 'ja');
          assert.equal(await page.evaluate(() => document.characterSet), 'Shift_JIS');
          assert.match(await page.locator('#err-msg').textContent(), /Prop\.sql.*EFOpenError/);
          await assertAccessible(page, `500 page at ${viewport.width}px`);
          await assertNoSidewaysScroll(page);
          await shoot(page, `${viewName}-server-error`);
        }
        await Promise.all([page.waitForURL(/\/cgi-bin\/liraweb\/$/),
          page.getByRole('link', { name: '蔵書検索のはじめのページへ' }).click()]);
      } finally {
        fs.renameSync(`${propSql}.away`, propSql);
        await page.setViewportSize(desktop);
      }
    });

    await step('axe-core finds no WCAG 2.1 AA violation on any page type, desktop and phone', async () => {
      const pages = [
        ['top', '/cgi-bin/liraweb/'],
        ['list', '/cgi-bin/liraweb/list?PAGENUM=1&SYUPAN=%90%56&ORDER=MS_SYOKANA&ORDERKIND=ASC'],
        ['list-filtered', '/cgi-bin/liraweb/list?PAGENUM=0&ANY=%82%CC&AVAILABLE=1&CLASS=9&DECADE=1990'],
        ['detail', '/cgi-bin/liraweb/data?ID=100003'],
        ['detail-from-list', '/cgi-bin/liraweb/data?ID=100003&PAGENUM=0&BOOKNAME=%82%B1%82%B1%82%EB'],
        ['detail-from-list-link', '/cgi-bin/liraweb/data?ID=100001&RENT=0&BNAME=x++'],
        ['no-hits', '/cgi-bin/liraweb/list?PAGENUM=0&BOOKNAME=xyzzy'],
        ['no-hits-other-fields', '/cgi-bin/liraweb/list?PAGENUM=0&BOOKNAME=%89%C4%96%DA%9F%F9%90%CE'],
        ['no-keyword', '/cgi-bin/liraweb/list?PAGENUM=0&BOOKNAME='],
        ['not-found', '/cgi-bin/liraweb/data?ID=999999'],
      ];
      for (const [viewName, viewport] of [['desktop', desktop], ['phone', phone]]) {
        await page.setViewportSize(viewport);
        for (const [name, path] of pages) {
          if (name === 'not-found') expectedNotFound.add(`${base}${path}`);
          await page.goto(`${base}${path}`);
          await assertAccessible(page, `${name} at ${viewport.width}px`);
          await assertNoSidewaysScroll(page);
          if (viewName === 'phone' && ['list', 'detail', 'no-hits', 'not-found'].includes(name)) {
            await shoot(page, `phone-${name}-new`);
          }
        }
      }
      await page.setViewportSize(desktop);
    });

    await step('no request failed', async () => {
      assert.deepEqual(failedRequests, []);
    });
    // Chromium keeps the engines it found in the profile's "Web Data" database, written
    // out when the browser closes.
    await context.close();
    await step('Chromium took the catalogue as a search engine from its description', async () => {
      const engines = execFileSync('sqlite3', [path.join(profile, 'Default', 'Web Data'),
        "SELECT short_name || ' ' || url FROM keywords WHERE originating_url LIKE '%/opensearch.xml'"],
      { encoding: 'utf8' });
      assert.match(engines, /^サンプル市立図書館 http:\/\/127\.0\.0\.1:\d+\/cgi-bin\/liraweb\/list\?PAGENUM=0&ANY=\{searchTerms\}&ORDER=RELEVANCE$/m);
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
