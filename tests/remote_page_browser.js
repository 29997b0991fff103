// The unit's own page in headless Chromium: node remote_page_browser.js PORT
// PHRASE [SHOT]. Loads http://127.0.0.1:PORT/, types the phrase, waits for the
// live status (band and bank), presses "Next bank" and waits for the bank to
// change; SHOT, when given, receives a screenshot. Exit 0 when all hold.
"use strict";
const { chromium } = require("playwright-core");

const [port, phrase, shot] = process.argv.slice(2);
(async () => {
  const browser = await chromium.launch({
    executablePath: process.env.HELIX_CHROMIUM || "/usr/bin/chromium", args: ["--no-sandbox"] });
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
    console.log("band", await text("#band"), "bank", bank, "->", await text("#bank"),
      "forward", await text("#fwd"));
  } finally {
    await browser.close();
  }
})().catch(e => { console.error(String(e)); process.exit(1); });
