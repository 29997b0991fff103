// The README's five-minute tour, step by step, in headless Chromium:
// node readme_tour.js URL ROOT [SHOTS]  (a unit just started with
// ./scripts/run-sim.sh --fresh: its page and root). Each step does on the page
// only what the README says, then checks what the README says happens (the
// screen, the error list, the board's wire and state, the root's files).
// SHOTS: a folder for the tour's pictures (tour-1-start.png ...).
"use strict";
const fs = require("fs");
const { chromium } = require("playwright-core");

const [url, root, shots] = process.argv.slice(2);
const sleep = ms => new Promise(ok => setTimeout(ok, ms));
let step = "1";
async function waitFor(what, cond, ms = 30000) {
  for (const end = Date.now() + ms; Date.now() < end; await sleep(100)) if (await cond()) return;
  throw new Error("step " + step + ": no " + what);
}
const state = async () => (await fetch(url + "api/state")).json();
const board = async key => +(new RegExp(key + " ([-\\d.]+)").exec((await state()).boardState) || [])[1];
const wire = async text => (await state()).wire.some(l => l.includes(text));
const hasError = async (code, alarm) => (await state()).errors.some(e => e.code === code && e.alarm === alarm);

(async () => {
  const browser = await chromium.launch({ executablePath: process.env.HELIX_CHROMIUM || "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--no-first-run"] });
  try {
    const page = await browser.newPage({ viewport: { width: 1400, height: 1080 } });
    const screen = (x, y, w, h) => page.evaluate(([x, y, w, h]) => {
      const c = document.createElement("canvas");
      c.width = 800; c.height = 480;
      c.getContext("2d").drawImage(document.getElementById("screen"), 0, 0);
      return Array.from(c.getContext("2d").getImageData(x, y, w, h).data).join(",");
    }, [x, y, w, h]);
    const pixel = async (x, y) => (await screen(x, y, 1, 1)).split(",").slice(0, 3).join(","); // "R,G,B"
    const changes = async (what, x, y, w, h, act) => {
      const before = await screen(x, y, w, h);
      await act();
      await waitFor(what, async () => (await screen(x, y, w, h)) !== before);
    };
    const key = n => page.locator("#key" + n).click();
    const button = name => page.getByRole("button", { name, exact: true }).first().click();
    const text = id => page.locator("#" + id).textContent();
    const slider = (id, v) => page.evaluate(([id, v]) => { const s = document.getElementById(id); s.value = v;
      for (const e of ["input", "change"]) s.dispatchEvent(new Event(e)); }, [id, String(v)]);
    // A picture of the page, or of the unit and the box at its right (to its height).
    const shot = async (name, sel) => {
      const a = await page.locator("#unit").boundingBox(), b = await page.locator(sel || "#unit").boundingBox();
      const clip = { x: a.x - 6, y: a.y - 6, width: b.x + b.width - a.x + 12, height: a.height + 12 };
      if (shots) await page.screenshot({ path: shots + "/" + name, clip: sel ? clip : undefined });
    };

    // 1. After the splash (the meters' light face): generic mode, no error, 20 m.
    await page.goto(url);
    await waitFor("main screen", async () => (await pixel(60, 200)).split(",").every(v => +v > 150), 60000);
    await waitFor("generic mode, no error, 14.070 MHz", async () => (await text("mode")).startsWith("generic") &&
      (await text("errors")) === "none" && (await board("freq")) === 14070000);
    await sleep(1500); await shot("tour-1-start.png");
    // 2. VIEW: the SWR meter; SET, DOWN x3 (page 4, tune on); BACK.
    step = "2";
    await changes("SWR meter", 420, 60, 360, 90, () => key(6));
    await key(5);
    await waitFor("parameter list", async () => (await pixel(5, 325)) === "80,80,80");
    for (let i = 0; i < 3; i++) await changes("next page", 20, 312, 500, 26, () => key(4));
    if (!/^AutoTuneMode: 1$/m.test(fs.readFileSync(root + "/opt/set/setup.txt", "utf8"))) throw new Error("tune off");
    await shot("tour-2-keys.png", "#unit");
    await key(1);
    await waitFor("main screen", async () => (await pixel(5, 325)) !== "80,80,80");
    // 3. 40 m: the band box, the board's frequency, antenna 2 and the stored word.
    step = "3";
    await changes("band box", 265, 278, 136, 26, () => button("40 m"));
    await waitFor("7.074 MHz", async () => (await board("freq")) === 7074000 && (await text("freq")) === "7.074.000");
    await waitFor("SA2 and MT1 on the wire", async () => (await wire("SA2; -> SA2;")) && (await wire("MT1")));
    await sleep(500); await shot("tour-3-band.png", "#radiobox");
    // 4. TX with 5 W: about 44 W and TX on the screen; TX off.
    step = "4";
    if ((await text("drivev")) !== "5.0 W") throw new Error("drive not 5 W");
    await page.locator("#tx").click();
    await waitFor("44 W out", async () => Math.abs((await board("out")) - 44) < 2);
    await waitFor("TX on the screen", async () => (await pixel(400, 190)) === "250,0,0");
    await sleep(800); await shot("tour-4-transmit.png", "#radiobox");
    await page.locator("#tx").click();
    await waitFor("carrier off", async () => (await board("drive")) === 0);
    // 5. 200 ohm, 0.5 W, TX, TUNE, TUNE: the SWR drops, the tune is stored.
    step = "5";
    const atu = root + "/opt/set/atu_ant2_b1.txt", atuBefore = fs.readFileSync(atu, "utf8");
    await button("200+j0");
    await slider("drive", 5);
    if ((await text("loadswr")) !== "4.00" || (await text("drivev")) !== "0.5 W") throw new Error("load or drive");
    await page.locator("#tx").click();
    await waitFor("5 W out", async () => Math.abs((await board("out")) - 5) < 0.5);
    const swr = await board("seen swr");
    await key(4); await sleep(600); await key(4);
    await waitFor("stored tune", async () => fs.readFileSync(atu, "utf8") !== atuBefore, 60000);
    const tuned = await board("seen swr");
    if (!(tuned < 2 && tuned < swr) || (await state()).errors.length) throw new Error("SWR " + swr + " -> " + tuned);
    await sleep(800); await shot("tour-5-tune.png", "#unit");
    await page.locator("#tx").click(); await key(1);
    // 6. Heat sink 1 at 95 C: the alarm; at 30 C: warning and stand-by; RESET; IN-ATT.
    step = "6";
    await slider("t1", 95);
    await waitFor("red alarm box and protection", async () => (await hasError(2, true)) && (await wire("MP1; -> MP1;")));
    await slider("t1", 30);
    await waitFor("stand-by and the orange warning",
      async () => /bypass 1,/.test((await state()).boardState) && (await hasError(0, false)));
    await sleep(800); await shot("tour-6-fault.png", "#unit");
    await key(1); // RESET
    await waitFor("empty error list", async () => (await text("errors")) === "none");
    await key(2); // IN-ATT
    await waitFor("back in line", async () => /bypass 0,/.test((await state()).boardState));
    console.log("tour ok");
  } finally { await browser.close(); }
})().catch(e => { console.error(String(e && e.stack || e)); process.exit(1); });
