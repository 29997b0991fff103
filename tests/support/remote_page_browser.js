// node remote_page_browser.js PORT PHRASE [SHOT]: the unit's page in headless
// Chromium; types the phrase, waits for the live status, presses "Next bank"
// and waits for the bank to change (SHOT: a screenshot). Exit 0 when all hold.
"use strict";
const { chromium } = require("playwright-core");

const [port, phrase, shot] = process.argv.slice(2);
(async () => {
  const chrome = process.env.HELIX_CHROMIUM || "/usr/bin/chromium";
  const browser = await chromium.launch({ executablePath: chrome, args: ["--no-sandbox"] });
  try {
    const page = await browser.newPage({ viewport: { width: 900, height: 760 } });
    const outside = [];
    page.on("request", r => { if (!r.url().startsWith("http://127.0.0.1:" + port)) outside.push(r.url()); });
    await page.goto("http://127.0.0.1:" + port + "/");
    await page.fill("#phrase", phrase);
    await page.click("#connect");
    const text = id => page.textContent(id);
    await page.waitForFunction(() => document.getElementById("state").textContent === "connected",
      null, { timeout: 15000 });
    const bank = await text("#bank");
    await page.click("#bank-next");
    await page.waitForFunction(b => document.getElementById("bank").textContent !== b, bank,
      { timeout: 15000 });
    if (outside.length) throw new Error("fetched from elsewhere: " + outside.join(" "));
    if (shot) await page.screenshot({ path: shot, fullPage: true });
    console.log("band", await text("#band"), "bank", bank, "->", await text("#bank"));
  } finally {
    await browser.close();
  }
})().catch(e => { console.error(String(e)); process.exit(1); });
