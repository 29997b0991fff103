// The unit's page in a headless browser: node sim_panel_browser.js URL ROOT
// (a running simulated unit at ROOT with helix-sim-panel at URL). Checks that
// the screen arrives, that holding a key on the page (mouse and keyboard)
// holds it in ROOT/dev/mem, and that a band button moves the unit (the band
// box of the screen changes). Exit 0 when all hold; the reason otherwise.
"use strict";
const fs = require("fs");
const { chromium } = require("playwright-core");

const [url, root] = process.argv.slice(2);
const chrome = process.env.HELIX_CHROMIUM || "/usr/bin/chromium";
const gplev0 = () => fs.readFileSync(root + "/dev/mem").readUInt32LE(0x34);
const held = k => (gplev0() & (1 << (21 + k))) === 0;
const sleep = ms => new Promise(ok => setTimeout(ok, ms));
async function waitFor(what, cond, ms) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await cond()) return;
    await sleep(20);
  }
  throw new Error("timed out: " + what);
}

(async () => {
  const browser = await chromium.launch({ executablePath: chrome, args: ["--no-sandbox"] });
  try {
    const page = await browser.newPage({ viewport: { width: 1400, height: 1100 } });
    await page.goto(url);
    await page.waitForFunction(() => {
      const i = document.getElementById("screen");
      return i.complete && i.naturalWidth === 800 && i.naturalHeight === 480;
    }, null, { timeout: 15000 });

    // Keys that keep the main menu (ANT, IN-ATT), so the band box stays on
    // the screen. Mouse on key 3: held while the button is held.
    const b = await page.locator("#key3").boundingBox();
    await page.mouse.move(b.x + b.width / 2, b.y + b.height / 2);
    await page.mouse.down();
    await waitFor("key 3 down", () => held(3), 10000);
    await sleep(300);
    if (!held(3)) throw new Error("key 3 let go while the mouse holds it");
    await page.mouse.up();
    await waitFor("key 3 up", () => !held(3), 10000);
    // Keyboard key 2, and the key bar drawn on the screen (key 3).
    await page.keyboard.down("2");
    await waitFor("key 2 down", () => held(2), 10000);
    await page.keyboard.up("2");
    await waitFor("key 2 up", () => !held(2), 10000);
    const s = await page.locator("#screen").boundingBox();
    await page.mouse.move(s.x + s.width * 333 / 800, s.y + s.height * 450 / 480);
    await page.mouse.down();
    await waitFor("key 3 down (screen bar)", () => held(3), 10000);
    await page.mouse.up();
    await waitFor("key 3 up", () => !held(3), 10000);

    // The band box of the screen as the page shows it.
    const bandBox = () => page.evaluate(() => {
      const c = document.createElement("canvas");
      c.width = 800; c.height = 480;
      const g = c.getContext("2d");
      g.drawImage(document.getElementById("screen"), 0, 0);
      return Array.from(g.getImageData(265, 278, 136, 26).data).join(",");
    });
    const before = await bandBox();
    await page.getByRole("button", { name: "40 m", exact: true }).click();
    await waitFor("the band on the screen", async () => (await bandBox()) !== before, 15000);
    const fps = await page.locator("#fps").textContent();
    console.log("ok; " + fps);
  } finally {
    await browser.close();
  }
})().catch(e => {
  console.error(String(e && e.stack || e));
  process.exit(1);
});
