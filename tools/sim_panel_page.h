// The page helix-sim-panel serves: plain HTML, CSS and JavaScript, nothing
// fetched from elsewhere.
#pragma once

static const char kSimPanelPage[] = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>HELIX simulated unit</title>
<style>
body{font-family:system-ui,sans-serif;background:#1c1f24;color:#ddd;margin:0;padding:12px}
h1{font-size:18px;margin:0 0 8px 0}h1 small{color:#999;font-weight:normal}
h2{font-size:14px;margin:0 0 6px 0;color:#fa9600}
#wrap{display:flex;flex-wrap:wrap;gap:14px;align-items:flex-start}
#left{width:828px}
#unit{background:#333;padding:14px;border-radius:10px;box-shadow:0 0 0 3px #555 inset;width:fit-content}
#screenbox{position:relative;line-height:0}
#screen{width:800px;height:auto;image-rendering:pixelated;background:#000;display:block;cursor:pointer}
#keys{position:relative;height:46px;margin-top:10px}
.key{position:absolute;top:0;height:44px;border-radius:6px;border:2px solid #111;background:#666;
 color:#fff;font-size:15px;cursor:pointer;user-select:none;touch-action:none}
.key.down{background:#fa9600;color:#000}
#bar{font-size:12px;color:#aaa;margin-top:8px;display:flex;flex-wrap:wrap;gap:6px 16px;align-items:center}
.side{display:flex;flex-direction:column;gap:10px;min-width:360px;max-width:520px}
.box{background:#262a31;border-radius:8px;padding:10px}
.row{display:flex;flex-wrap:wrap;gap:6px;align-items:center;margin:4px 0}
button{background:#3b414b;color:#eee;border:1px solid #555;border-radius:4px;padding:4px 8px;cursor:pointer}
button:hover{background:#4b525e}button.on{background:#c0392b;border-color:#e74c3c}
input[type=number],input[type=text],select{background:#15181c;color:#eee;border:1px solid #555;border-radius:3px;padding:3px}
input[type=number]{width:80px}input[type=range]{width:180px}
#freq{font:bold 30px monospace;color:#7fdb6a;min-width:210px;text-align:right}
#dial{width:90px;height:90px;border-radius:50%;background:radial-gradient(#555,#222);border:3px solid #777;
 position:relative;cursor:grab;touch-action:none;flex:none}
#dialmark{position:absolute;left:41px;top:4px;width:6px;height:18px;background:#fa9600;border-radius:3px;transform-origin:3px 41px}
pre{margin:0;font-size:11px;max-height:200px;overflow:auto;white-space:pre-wrap;background:#15181c;padding:6px;border-radius:4px}
.err{padding:2px 6px;margin:2px 0;border-radius:3px;background:#d68910;color:#000;font-size:13px}
.err.alarm{background:#c0392b;color:#fff}
.unused{opacity:.45}.note{font-size:12px;color:#fa9600;margin:2px 0}
#modebox b{color:#7fdb6a}
.st{font:11px monospace;color:#9ab;margin-top:4px;word-break:break-word}
.ok{color:#7fdb6a}.bad{color:#e74c3c}
#result{font-size:12px;color:#aaa;min-height:1.2em}
label{font-size:13px}
</style></head><body>
<h1>HELIX simulated unit <small id="title"></small> <small id="phrase" class="bad"></small></h1>
<div id="wrap">
<div id="left">
 <div id="unit">
  <div id="screenbox"><img id="screen" alt="the unit's screen" width="800" height="480"></div>
  <div id="keys"></div>
 </div>
 <div id="bar">
  <label>size <select id="zoom"><option value="0.5">50%</option><option value="0.75">75%</option>
   <option value="1" selected>100%</option><option value="1.25">125%</option><option value="1.5">150%</option>
   <option value="2">200%</option></select></label>
  <span id="fps">-</span>
  <span>keys 1-6 on the keyboard; click = short press, hold = long press and repeat</span>
 </div>
 <div class="box" style="margin-top:10px"><h2>Errors on the unit</h2><div id="errors"></div></div>
 <div class="box" style="margin-top:10px"><h2>Power-board wire (all but the status polls)</h2><pre id="wire"></pre></div>
 <div class="box" style="margin-top:10px"><h2>Log <select id="logsel"><option value="log">system log</option>
  <option value="trace">trace</option></select></h2><pre id="log"></pre></div>
</div>
<div class="side">
 <div class="box" id="modebox"><h2>Working mode</h2>
  <div class="row">the unit follows: <b id="mode">-</b></div>
  <div class="row"><button id="nextmode">next mode</button>
   <span style="font-size:12px">works the unit's keys: MEM held (memory table), INTERF, BACK</span></div>
 </div>
 <div class="box" id="loggerbox"><h2>Logger</h2>
  <div class="note" id="loggernote"></div>
  <div class="row">radio 1 <input type="number" id="lf1" value="14074000" style="width:110px"> Hz
   <label><input type="radio" name="lact" value="1" checked> active</label></div>
  <div class="row">radio 2 <input type="number" id="lf2" value="7074000" style="width:110px"> Hz
   <label><input type="radio" name="lact" value="2"> active</label></div>
  <div class="row"><label><input type="checkbox" id="ltx"> active radio transmitting (drives the board)</label></div>
  <div class="row"><button id="lsend">send</button><label><input type="checkbox" id="lrepeat" checked> again every 5 s</label></div>
  <div style="font-size:12px">a station logging program's &lt;RadioInfo&gt; datagrams (N1MM style), one per radio,
   to the unit's LoggerUdpPort on 127.0.0.1</div>
 </div>
 <div class="box" id="radiobox"><h2>Radio <span id="radioup"></span></h2>
  <div class="note" id="radionote"></div>
  <div class="row"><div id="dial" title="drag or scroll"><div id="dialmark"></div></div>
   <div><div id="freq">14.074.000</div>
    <div class="row">step <select id="step"><option>10</option><option selected>100</option><option>1000</option>
     <option>10000</option><option>100000</option></select> Hz
     <button id="fdown">-</button><button id="fup">+</button></div>
    <div class="row"><input type="number" id="fin" value="14074000" style="width:110px"> Hz <button id="fset">set</button></div>
   </div></div>
  <div class="row" id="bands"></div>
  <div class="row" id="mode2row">mode <select id="rmode"><option value="0">LSB (0)</option><option value="1" selected>USB (1)</option>
   <option value="2">CW (2)</option><option value="3">CWR (3)</option><option value="4">AM (4)</option>
   <option value="8">FM (8)</option><option value="10">DIG (10)</option><option value="12">PKT (12)</option></select>
   VFO <button data-radio="vfo a">A</button><button data-radio="vfo b">B</button></div>
  <div class="st" id="radiost"></div>
 </div>
 <div class="box"><h2>Transmit</h2>
  <div class="row"><button id="tx">TX off</button> drive <input type="range" id="drive" min="0" max="130" value="50">
   <span id="drivev">5.0 W</span></div>
  <div style="font-size:12px">0.1 W steps up to 10 W, then whole watts. About 10 dB of gain: 5 W drive gives
   about 44 W; past 9 W the board's input protection trips. A tune wants about 0.5 W.</div>
 </div>
 <div class="box"><h2>Antenna load (tuner model)</h2>
  <div class="row">R <input type="number" id="loadr" value="50" min="1" step="1"> Ω
   X <input type="number" id="loadx" value="0" step="1"> Ω <button id="loadset">set</button></div>
  <div class="row" id="loads"></div>
  <div class="row" style="font-size:12px">SWR at the antenna, 50 Ω: <b id="loadswr">1.00</b></div>
 </div>
 <div class="box"><h2>Power board <span id="boardup"></span></h2>
  <div class="row">heat sink 1 <input type="range" id="t1" min="0" max="110" value="25"><span id="t1v">25 °C</span></div>
  <div class="row">heat sink 2 <input type="range" id="t2" min="0" max="110" value="25"><span id="t2v">25 °C</span></div>
  <div class="row"><label><input type="checkbox" id="hold"> hold temperatures (no thermal model)</label></div>
  <div class="row">supply current <input type="range" id="amps" min="0" max="14" step="0.1" value="0">
   <span id="ampsv">model</span> <button data-board="aux model">model</button></div>
  <div class="st" id="boardst"></div>
 </div>
 <div class="box"><h2>Supply rails (panel micro)</h2>
  <div class="row">PA rail <input type="range" id="vamp" min="0" max="255" value="160"><span id="vampv"></span></div>
  <div class="row">12 V rail <input type="range" id="v12" min="0" max="255" value="141"><span id="v12v"></span></div>
  <div class="row">15 V rail <input type="range" id="v15" min="0" max="255" value="177"><span id="v15v"></span></div>
 </div>
 <div class="box"><h2>Faults: power-board link</h2>
  <div class="row"><button data-board="silent 1000000">go silent</button><button data-board="silent 0">answer again</button>
   <button data-board="silent 4">miss 4 replies</button></div>
  <div class="row"><button data-board="badcrc 4">bad CRC ×4</button><button data-board="cut">cut next reply</button>
   <button data-board="refuse 1">refuse one</button><button data-board="hotstart">micro reset</button></div>
  <div class="row"><input type="text" id="garb" value="#@!?x"> <button id="garbset">garbage</button></div>
  <div class="row"><input type="text" id="bline" placeholder="any board control line, e.g. show" style="width:220px">
   <button id="bsend">send</button></div>
 </div>
 <div class="box" id="radiofaults"><h2>Faults: radio link</h2>
  <div class="row"><button data-radio="silent 1">go silent</button><button data-radio="silent 0">answer again</button>
   <input type="text" id="rgarb" value="XX;" style="width:70px"><button id="rgarbset">garbage</button></div>
  <div class="row"><input type="text" id="rline" placeholder="any radio control line" style="width:220px">
   <button id="rsend">send</button></div>
 </div>
 <div id="result"></div>
</div></div>
<script>
"use strict";
const $ = id => document.getElementById(id);
function show(t, bad) { const r = $("result"); r.textContent = t; r.className = bad ? "bad" : ""; }
async function post(url, body) {
  try {
    const r = await fetch(url, {method: "POST", body: body || ""});
    const t = (await r.text()).trim();
    show(t, !r.ok);
    return r.ok;
  } catch (e) { show("no panel server: " + e, true); return false; }
}
const board = line => post("/api/board", line);
const radio = line => post("/api/radio", line);

// ---- screen: fetched again as soon as it changes, at most every 40 ms ----
let tag = "", frames = 0, lastFps = performance.now();
async function screenLoop() {
  let wait = 80;
  try {
    const r = await fetch("/screen.png" + (tag ? "?have=" + tag : ""), {cache: "no-store"});
    if (r.status === 200) {
      tag = r.headers.get("ETag") || "";
      const url = URL.createObjectURL(await r.blob());
      const img = $("screen"), old = img.src;
      await new Promise(ok => { img.onload = ok; img.onerror = ok; img.src = url; });
      if (old.startsWith("blob:")) URL.revokeObjectURL(old);
      frames++; wait = 40;
    } else if (r.status !== 204) wait = 500;
  } catch (e) { wait = 1000; }
  const now = performance.now();
  if (now - lastFps > 1000) {
    $("fps").textContent = (frames * 1000 / (now - lastFps)).toFixed(1) + " new frames/s";
    frames = 0; lastFps = now;
  }
  setTimeout(screenLoop, wait);
}
screenLoop();
// The frame and the column under it follow the screen's size.
$("zoom").onchange = () => {
  const z = +$("zoom").value;
  $("screen").style.width = (800 * z) + "px";
  $("keys").style.width = (800 * z) + "px";
  $("left").style.width = (800 * z + 28) + "px";
};

// ---- the six soft keys, where they sit on the panel (x of the key bar) ----
const keyX = [[0,130],[133,263],[266,396],[399,529],[532,662],[665,799]];
const keyEl = [];
const held = {};
// Key requests go one after the other, so an "up" never overtakes its "down".
let keyChain = Promise.resolve();
const keyReq = (k, a) => { keyChain = keyChain.then(() => post("/api/key?n=" + k + "&a=" + a)); };
function keyDown(k) { if (held[k]) return; held[k] = true; keyEl[k].classList.add("down"); keyReq(k, "down"); }
function keyUp(k) { if (!held[k]) return; held[k] = false; keyEl[k].classList.remove("down"); keyReq(k, "up"); }
keyX.forEach(([x0, x1], i) => {
  const k = i + 1, b = document.createElement("button");
  b.className = "key"; b.textContent = k; b.id = "key" + k;
  b.style.left = (x0 / 8) + "%"; b.style.width = ((x1 - x0) / 8) + "%";
  b.onpointerdown = e => { b.setPointerCapture(e.pointerId); keyDown(k); };
  b.onpointerup = b.onpointercancel = () => keyUp(k);
  $("keys").appendChild(b); keyEl[k] = b;
});
$("keys").style.width = "800px";
// The key bar drawn on the screen works too.
let screenKey = 0;
$("screen").onpointerdown = e => {
  const r = e.target.getBoundingClientRect(), x = (e.clientX - r.left) * 800 / r.width,
        y = (e.clientY - r.top) * 480 / r.height;
  if (y < 420) return;
  const i = keyX.findIndex(([x0, x1]) => x >= x0 && x <= x1);
  if (i < 0) return;
  e.target.setPointerCapture(e.pointerId); screenKey = i + 1; keyDown(screenKey);
};
$("screen").onpointerup = $("screen").onpointercancel = () => { if (screenKey) keyUp(screenKey); screenKey = 0; };
$("screen").ondragstart = e => e.preventDefault();
const typing = e => e.target && (e.target.tagName === "INPUT" || e.target.tagName === "SELECT");
document.addEventListener("keydown", e => {
  if (typing(e) || e.repeat || e.key < "1" || e.key > "6" || e.key.length !== 1) return;
  keyDown(+e.key); e.preventDefault();
});
document.addEventListener("keyup", e => { if (e.key >= "1" && e.key <= "6" && e.key.length === 1) keyUp(+e.key); });
window.addEventListener("blur", () => { for (let k = 1; k <= 6; k++) keyUp(k); });

// ---- radio: dial, band buttons, mode ----
let freq = 14074000, sentFreq = 0, freqTimer = 0, sentAt = 0;
function fmt(f) { const s = String(f).padStart(7, "0"); return (+s.slice(0, -6)) + "." + s.slice(-6, -3) + "." + s.slice(-3); }
function setFreq(f, now) {
  freq = Math.max(100000, Math.min(56000000, Math.round(f)));
  $("freq").textContent = fmt(freq); $("fin").value = freq;
  // While the dial turns, the radio hears the latest value every 100 ms.
  if (now) { clearTimeout(freqTimer); freqTimer = 0; sendFreq(); }
  else if (!freqTimer) freqTimer = setTimeout(() => { freqTimer = 0; sendFreq(); }, 100);
}
function sendFreq() {
  if (freq === sentFreq) return;
  sentFreq = freq; sentAt = performance.now();
  radio("freq " + freq);
  board("freq " + freq); // the board's measured frequency (generic mode)
}
const step = () => +$("step").value;
$("fup").onclick = () => setFreq(freq + step(), true);
$("fdown").onclick = () => setFreq(freq - step(), true);
$("fset").onclick = () => setFreq(+$("fin").value, true);
let angle = 0, dragA = null;
function turn(steps) { angle += steps * 10; $("dialmark").style.transform = "rotate(" + angle + "deg)"; setFreq(freq + steps * step()); }
const dial = $("dial");
const angOf = e => { const r = dial.getBoundingClientRect(); return Math.atan2(e.clientY - r.top - r.height / 2, e.clientX - r.left - r.width / 2) * 180 / Math.PI; };
dial.onpointerdown = e => { dial.setPointerCapture(e.pointerId); dragA = angOf(e); };
dial.onpointermove = e => {
  if (dragA === null) return;
  let d = angOf(e) - dragA; if (d > 180) d -= 360; if (d < -180) d += 360;
  const s = Math.trunc(d / 10); if (s) { dragA += s * 10; turn(s); }
};
dial.onpointerup = dial.onpointercancel = () => { dragA = null; };
dial.onwheel = e => { e.preventDefault(); turn(e.deltaY < 0 ? 1 : -1); };
const bands = [["160", 1840000], ["80", 3573000], ["60", 5357000], ["40", 7074000], ["30", 10136000], ["20", 14074000],
  ["17", 18100000], ["15", 21074000], ["12", 24915000], ["10", 28074000], ["6", 50313000]];
for (const [n, f] of bands) {
  const b = document.createElement("button"); b.textContent = n + " m"; b.onclick = () => setFreq(f, true);
  $("bands").appendChild(b);
}
$("rmode").onchange = () => radio("mode " + $("rmode").value);

// ---- transmit ----
let tx = false;
// Slider positions: 0.1 W a step up to 10 W, then 1 W a step.
const drive = () => { const i = +$("drive").value; return i <= 100 ? i / 10 : i - 90; };
const driveIndex = w => w <= 10 ? Math.round(w * 10) : Math.round(w) + 90;
$("drive").oninput = () => { $("drivev").textContent = drive().toFixed(1) + " W"; };
$("drive").onchange = () => { if (tx) board("drive " + drive()); };
$("tx").onclick = async () => {
  tx = !tx;
  $("tx").textContent = tx ? "TX ON" : "TX off"; $("tx").classList.toggle("on", tx);
  await radio("tx " + (tx ? 1 : 0));
  board("drive " + (tx ? drive() : 0));
};

// ---- antenna load ----
function swrOf(r, x) {
  const nr = r - 50, d = (r + 50) * (r + 50) + x * x;
  const g = Math.sqrt((nr * nr + x * x) / d);
  return g >= 1 ? Infinity : (1 + g) / (1 - g);
}
function loadSwr() { const s = swrOf(+$("loadr").value, +$("loadx").value); $("loadswr").textContent = isFinite(s) ? s.toFixed(2) : "∞"; }
$("loadr").oninput = $("loadx").oninput = loadSwr;
$("loadset").onclick = () => { loadSwr(); board("load " + (+$("loadr").value) + " " + (+$("loadx").value)); };
for (const [r, x] of [[50, 0], [25, 0], [100, 0], [200, 0], [12.5, 0], [35, -40], [70, 60], [600, 300]]) {
  const b = document.createElement("button"); b.textContent = r + (x < 0 ? "−j" : "+j") + Math.abs(x);
  b.onclick = () => { $("loadr").value = r; $("loadx").value = x; $("loadset").onclick(); };
  $("loads").appendChild(b);
}

// ---- board: temperatures and supply ----
for (const t of ["t1", "t2"]) {
  $(t).oninput = () => { $(t + "v").textContent = $(t).value + " °C"; };
  $(t).onchange = () => board((t === "t1" ? "temp1 " : "temp2 ") + $(t).value);
}
$("hold").onchange = () => board("tau " + ($("hold").checked ? 0 : 60));
$("amps").oninput = () => { $("ampsv").textContent = (+$("amps").value).toFixed(1) + " A"; };
$("amps").onchange = () => board("aux " + Math.round(+$("amps").value / 14.05 * 4095));
// Rails: the ADC byte and what the unit reads from it (PA rail: standard
// and the higher power class).
const railV = {vamp: v => (v * 3.3 * 118 / 255 / 18).toFixed(1) + " V / " + (v * 3.3 * 348 / 255 / 18).toFixed(1) + " V (class 1)",
  v12: v => "ADC " + v, v15: v => "ADC " + v};
for (const k of ["vamp", "v12", "v15"]) {
  const lab = () => { $(k + "v").textContent = (k === "vamp" ? "ADC " + $(k).value + " = " : "") + railV[k](+$(k).value); };
  $(k).oninput = lab; lab();
  $(k).onchange = () => post("/api/micro?key=" + k + "&value=" + $(k).value);
}

// ---- faults and raw lines ----
for (const b of document.querySelectorAll("[data-board]")) b.onclick = () => board(b.dataset.board);
for (const b of document.querySelectorAll("[data-radio]")) b.onclick = () => radio(b.dataset.radio);
$("garbset").onclick = () => board("garbage " + $("garb").value);
$("rgarbset").onclick = () => radio("garbage " + $("rgarb").value);
$("bsend").onclick = () => board($("bline").value);
$("rsend").onclick = () => radio($("rline").value);
$("bline").onkeydown = e => { if (e.key === "Enter") $("bsend").onclick(); };
$("rline").onkeydown = e => { if (e.key === "Enter") $("rsend").onclick(); };

// ---- the controls start from what the simulators hold ----
let synced = false, unitMode = "";
const num = (t, re) => { const m = re.exec(t); return m ? +m[1] : null; };
function sync(b, r) {
  synced = true;
  // Generic mode follows the board's measured frequency, the others the radio.
  const f = num(unitMode === "gen" ? b : r, /freq (\d+)/), mode = num(r, /mode (\d+)/), rtx = num(r, /tx (\d)/);
  const d = num(b, /drive ([\d.]+) W/), t1 = num(b, /temp ([-\d.]+)\//), t2 = num(b, /temp [-\d.]+\/([-\d.]+)/);
  if (f) { freq = sentFreq = f; $("freq").textContent = fmt(f); $("fin").value = f; }
  if (mode !== null) $("rmode").value = String(mode);
  if (d !== null) {
    tx = d > 0 || rtx === 1;
    $("tx").textContent = tx ? "TX ON" : "TX off"; $("tx").classList.toggle("on", tx);
    if (d > 0) { $("drive").value = driveIndex(d); $("drive").oninput(); }
  }
  if (t1 !== null) { $("t1").value = Math.round(t1); $("t1").oninput(); }
  if (t2 !== null) { $("t2").value = Math.round(t2); $("t2").oninput(); }
}

// ---- working mode: shown from the bank's marker; switched on the unit ----
const modeNames = {gen: "generic: the power board's measured frequency", tav: "TAV transceiver (serial stream)",
  ft817: "FT-817 (CAT)", net: "a rig daemon (rigctld)", udp: "the logging program (RadioInfo over UDP)"};
function showMode(m) {
  unitMode = m || "";
  $("mode").textContent = modeNames[m] || "unknown";
  const gen = m === "gen", udp = m === "udp";
  $("loggerbox").classList.toggle("unused", !udp);
  $("loggernote").textContent = udp ? "" : "Not in use: the unit follows the logger in the Logger working mode (bank marker !Udp).";
  $("radiobox").classList.toggle("unused", udp);
  // In generic mode the radio is not in use: the dial, + - and the band
  // buttons set the board's measured frequency; mode, VFO and radio faults do nothing.
  for (const id of ["radiofaults"]) $(id).classList.toggle("unused", gen);
  for (const el of document.querySelectorAll("#mode2row, [data-radio]")) el.classList.toggle("unused", gen);
  $("radionote").textContent = gen ? "Not in use in generic mode: the unit follows the power board's frequency, "
    + "which the dial and band buttons set; mode, VFO and radio faults do nothing." : "";
}
const pause = ms => new Promise(ok => setTimeout(ok, ms));
$("nextmode").onclick = async () => {
  // The unit's own way: MEM held opens the memory table, INTERF steps the
  // bank's interface, BACK returns. Each press waits for the one before.
  $("nextmode").disabled = true;
  try {
    for (const [k, ms] of [[1, 1500], [2, 150], [1, 150]]) {
      await post("/api/key?n=" + k + "&a=press&ms=" + ms);
      await pause(400);
    }
  } finally { $("nextmode").disabled = false; }
};

// ---- logger: RadioInfo for two radios; resent every 5 s as loggers do ----
const lact = () => +document.querySelector("input[name=lact]:checked").value;
async function sendLogger() {
  const f = [+$("lf1").value, +$("lf2").value], a = lact(), t = $("ltx").checked;
  board("freq " + f[a - 1]); // the board measures the active radio's carrier
  return post("/api/logger?f1=" + f[0] + "&f2=" + f[1] + "&active=" + a + "&tx=" + (t ? 1 : 0));
}
$("lsend").onclick = sendLogger;
for (const id of ["lf1", "lf2"]) $(id).onchange = sendLogger;
for (const r of document.querySelectorAll("input[name=lact]")) r.onchange = sendLogger;
$("ltx").onchange = async () => { await sendLogger(); board("drive " + ($("ltx").checked ? drive() : 0)); };
setInterval(() => { if (unitMode === "udp" && $("lrepeat").checked) sendLogger(); }, 5000);

// ---- readouts ----
const up = (el, on) => { el.textContent = on ? "● running" : "● not running"; el.className = on ? "ok" : "bad"; };
async function stateLoop() {
  try {
    const s = await (await fetch("/api/state", {cache: "no-store"})).json();
    $("title").textContent = s.title;
    up($("boardup"), s.board); up($("radioup"), s.radio);
    $("boardst").textContent = s.board ? s.boardState : ""; $("radiost").textContent = s.radio ? s.radioState : "";
    showMode(s.mode);
    $("phrase").textContent = s.defaultPhrase ? "default access phrase" : "";
    if (!synced && s.board && s.radio && s.boardState && s.radioState && s.mode) sync(s.boardState, s.radioState);
    // The frequency box follows the unit's source (the board in generic mode,
    // else the radio), except just after the page set it.
    const src = unitMode === "gen" ? s.boardState : s.radioState;
    const sf = src ? num(src, /freq (\d+)/) : null;
    if (synced && sf && sf !== freq && !freqTimer && performance.now() - sentAt > 1500) {
      freq = sentFreq = sf; $("freq").textContent = fmt(sf); $("fin").value = sf;
    }
    const e = $("errors"); e.textContent = "";
    if (!s.errors.length) e.textContent = "none";
    for (const x of s.errors) {
      const d = document.createElement("div"); d.className = "err" + (x.alarm ? " alarm" : "");
      d.textContent = x.code + "  " + x.title + " " + x.text; e.appendChild(d);
    }
    const fill = (id, lines) => { const p = $(id), end = p.scrollTop + p.clientHeight >= p.scrollHeight - 4;
      p.textContent = lines.join("\n"); if (end) p.scrollTop = p.scrollHeight; };
    fill("wire", s.wire); fill("log", $("logsel").value === "trace" ? s.trace : s.log);
  } catch (e) { }
  setTimeout(stateLoop, 500);
}
stateLoop();
</script></body></html>
)PAGE";
