// node pair_picture.js URL ROOT OUT: the page at URL of the pair's client
// (its root ROOT) as a PNG in OUT, once the client has joined its server and
// the screen shows it (scripts/pair_picture.sh runs it).
"use strict";
const fs = require("fs");
const path = require("path");
const { chromium } = require(path.join(__dirname, "../tests/node_modules/playwright-core"));

const [url, root, out] = process.argv.slice(2);
const chrome = process.env.HELIX_CHROMIUM || "/usr/bin/chromium";
const sleep = ms => new Promise(ok => setTimeout(ok, ms));
const log = () => { try { return fs.readFileSync(root + "/var/log/helix.log", "utf8"); } catch (e) { return ""; } };

(async () => {
  const end = Date.now() + 90000;
  while (!log().includes("Websocket Connected")) {
    if (Date.now() > end) throw new Error("the client did not join its server");
    await sleep(200);
  }
  const browser = await chromium.launch({ executablePath: chrome, args: ["--no-sandbox"] });
  try {
    const page = await browser.newPage({ viewport: { width: 1400, height: 1100 } });
    await page.goto(url);
    await page.waitForFunction(() => {
      const i = document.getElementById("screen");
      return i.complete && i.naturalWidth === 800;
    }, null, { timeout: 30000 });
    // A few screen frames and log lines after the link came up.
    await sleep(4000);
    await page.screenshot({ path: out, fullPage: true });
  } finally {
    await browser.close();
  }
})().catch(e => { console.error(e.message); process.exit(1); });
