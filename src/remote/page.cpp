#include "remote/page.h"

#include "model/errors.h"
#include "model/works.h"

#include <cstdio>

namespace {

// The error table as a script literal: [[title, text, alarm], ...].
std::string ErrorTable(Works *w) {
    auto quote = [](const char *s) {
        std::string q = "\"";
        for (; *s != '\0'; ++s) {
            unsigned char c = static_cast<unsigned char>(*s);
            if (c < ' ' || c == '"' || c == '\\' || c == '<') {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                q += esc;
            } else {
                q += static_cast<char>(c);
            }
        }
        return q + "\"";
    };
    std::string t = "[";
    for (int i = 0; i < kErrCodes; ++i) {
        t += i ? ",[" : "[";
        t += quote(w->errTab[i].title) + "," + quote(w->errTab[i].text) + ",";
        t += (w->errTab[i].type & kErrTypeAlarm) ? "1]" : "0]";
    }
    return t + "]";
}

const char *const kHead = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>HELIX amplifier</title>
<link rel="icon" href="data:,">
<style>
body{font-family:sans-serif;background:#111;color:#ddd;margin:12px;max-width:900px}
h1{font-size:20px;margin:0 0 8px}
.box{border:1px solid #444;border-radius:6px;padding:8px;margin:8px 0}
.row{display:flex;flex-wrap:wrap;gap:6px}
.cell{background:#222;border-radius:4px;padding:4px 8px;min-width:110px}
.cell b{display:block;font-size:11px;color:#888;font-weight:normal}
.meter{display:grid;grid-template-columns:90px 1fr 90px;gap:6px;align-items:center;margin:4px 0}
.bar{height:18px;background:#222;border-radius:3px;overflow:hidden}
.bar div{height:100%;width:0;background:#2a7}
#refl-bar div{background:#d80} #swr-bar div{background:#c33}
button{background:#234;color:#ddd;border:1px solid #567;border-radius:4px;padding:6px 10px}
button:disabled{opacity:.4}
#errors li.alarm{color:#f54} #errors li.warn{color:#fa0}
canvas{width:100%;height:200px;background:#000;border-radius:4px}
#state.up{color:#4c4} #state.down{color:#f54}
</style></head><body>
<h1>HELIX amplifier <span id="state" class="down">not connected</span></h1>
<form class="box row" id="login">
<input id="phrase" type="password" placeholder="access phrase" autocomplete="current-password">
<button id="connect" type="submit">Connect</button></form>
<div class="box">
<div class="meter"><span>Forward</span><div class="bar" id="fwd-bar"><div></div></div><span id="fwd">-</span></div>
<div class="meter"><span>Reflected</span><div class="bar" id="refl-bar"><div></div></div><span id="refl">-</span></div>
<div class="meter"><span>SWR</span><div class="bar" id="swr-bar"><div></div></div><span id="swr">-</span></div>
<div class="meter"><span>Input</span><div class="bar" id="in-bar"><div></div></div><span id="in">-</span></div>
</div>
<div class="box row">
<div class="cell"><b>Band</b><span id="band">-</span></div>
<div class="cell"><b>Interface</b><span id="iface">-</span></div>
<div class="cell"><b>Antenna</b><span id="ant">-</span></div>
<div class="cell"><b>Bank</b><span id="bank">-</span></div>
<div class="cell"><b>Amplifier</b><span id="amp">-</span></div>
<div class="cell"><b>Tuner</b><span id="tuner">-</span></div>
<div class="cell"><b>Attenuator</b><span id="att">-</span></div>
<div class="cell"><b>Temperature</b><span id="temp">-</span></div>
<div class="cell"><b>Supply</b><span id="supply">-</span></div>
</div>
<div class="box"><b>Errors</b><ul id="errors"><li>none</li></ul></div>
<div class="box"><b>Spectrum</b> <span id="sp-state">off</span><canvas id="spectrum" width="854" height="200"></canvas></div>
<div class="box row">
<button id="bank-next" disabled>Next bank</button>
<button id="sp-off" disabled>Spectrum off</button>
<button id="sp-854" disabled>Spectrum 854</button>
<button id="sp-1706" disabled>Spectrum 1706</button>
</div>
<script>
"use strict";
const ERRORS = )PAGE";

const char *const kTail = R"PAGE(;
const $ = id => document.getElementById(id);
const ifaces = {"0": "Generic", "1": "TAV", "2": "FT-817", "3": "rigctld", "4": "Logger"};
const tuners = {"T": "in line", "B": "through", "N": "not installed"};
let ws = null, lastStatus = 0, lastSpectrum = 0, bins = null, history = [], lastErr = -2;

function field(t, a, n) { return parseFloat(t.substr(a, n)); }
function bar(id, frac) { $(id).firstChild.style.width = Math.max(0, Math.min(1, frac)) * 100 + "%"; }
function status(t) {
  if (t.length !== 44 || t.startsWith("VORN")) return;
  const swr = field(t, 10, 6), fwd = field(t, 16, 6), pin = field(t, 22, 6);
  const g = swr >= 1 ? (swr - 1) / (swr + 1) : 0, refl = fwd * g * g;
  const top = fwd > 60 ? 120 : 60;
  $("fwd").textContent = fwd.toFixed(1) + " W"; bar("fwd-bar", fwd / top);
  $("refl").textContent = refl.toFixed(1) + " W"; bar("refl-bar", refl / (top / 5));
  $("swr").textContent = swr.toFixed(2); bar("swr-bar", (swr - 1) / 4);
  $("in").textContent = pin.toFixed(1) + " W"; bar("in-bar", pin / 10);
  $("band").textContent = t.substr(0, 4).trim();
  $("iface").textContent = ifaces[t[4]] || t[4];
  $("att").textContent = t[5];
  $("ant").textContent = String(+t[6] + 1);
  $("amp").textContent = t[7] === "1" ? "stand-by" : "in line";
  $("tuner").textContent = (tuners[t[8]] || t[8]) + (t[9] === "1" ? ", tuning" : "");
  $("temp").textContent = field(t, 28, 4).toFixed(1) + " \u00b0C";
  $("supply").textContent = field(t, 32, 4).toFixed(1) + " V, " + field(t, 36, 4).toFixed(1) + " A";
  $("bank").textContent = String(parseInt(t.substr(40, 2), 10));
  const code = t[42] === "0" ? -1 : t.charCodeAt(42) - 1;
  if (code !== lastErr) {
    lastErr = code;
    if (code >= 0 && code < ERRORS.length)
      history.unshift([new Date().toLocaleTimeString(), code]);
    history = history.slice(0, 8);
    const list = $("errors");
    list.textContent = "";
    const add = (text, alarm) => {
      const li = document.createElement("li");
      li.textContent = text;
      li.className = alarm === undefined ? "" : alarm ? "alarm" : "warn";
      list.appendChild(li);
    };
    if (code < 0) add("none now", undefined);
    history.forEach(([when, c], i) => add((i === 0 && c === code ? "now: " : when + ": ") +
      ERRORS[c][0] + " \u2013 " + ERRORS[c][1], ERRORS[c][2]));
  }
  lastStatus = Date.now();
}
function spectrum(d) {
  const total = d.getUint32(2), off = d.getUint32(6);
  if (off === 0 || !bins || bins.length !== total) bins = new Uint8Array(total);
  if (off >= total) return;
  bins.set(new Uint8Array(d.buffer, d.byteOffset + 10, Math.min(512, total - off, d.byteLength - 10)), off);
  if (off + 512 < total) return;
  const c = $("spectrum"), g = c.getContext("2d");
  g.fillStyle = "#000"; g.fillRect(0, 0, c.width, c.height);
  g.strokeStyle = "#f0a"; g.beginPath();
  for (let i = 0; i < total; i++) {
    const x = i * c.width / total, y = c.height - (bins[i] / 242) * c.height;
    i ? g.lineTo(x, y) : g.moveTo(x, y);
  }
  g.stroke();
  lastSpectrum = Date.now();
  $("sp-state").textContent = total + " points";
}
function send(cmd) {
  if (!ws || ws.readyState !== 1) return;
  ws.send(new TextEncoder().encode("ST" + cmd));
}
function connect() {
  if (ws) ws.close();
  ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/chat");
  ws.binaryType = "arraybuffer";
  ws.onopen = () => ws.send($("phrase").value);
  ws.onmessage = e => {
    if (typeof e.data === "string") return;
    const d = new DataView(e.data);
    if (d.byteLength < 2) return;
    const tag = String.fromCharCode(d.getUint8(0), d.getUint8(1));
    if (tag === "ST") status(new TextDecoder("latin1").decode(new Uint8Array(e.data, 2)));
    else if (tag === "SP" && d.byteLength >= 10) spectrum(d);
  };
  ws.onclose = e => { $("state").textContent = "closed (" + e.code + ")"; $("state").className = "down"; };
}
setInterval(() => {
  const up = ws && ws.readyState === 1 && Date.now() - lastStatus < 2000;
  if (ws && ws.readyState === 1) {
    $("state").textContent = up ? "connected" : "no status";
    $("state").className = up ? "up" : "down";
  }
  for (const b of ["bank-next", "sp-off", "sp-854", "sp-1706"]) $(b).disabled = !up;
  if (Date.now() - lastSpectrum > 3000) $("sp-state").textContent = "off";
}, 250);
$("login").onsubmit = e => { e.preventDefault(); connect(); };
$("bank-next").onclick = () => send("VORNBANK");
$("sp-off").onclick = () => send("VORNFT00");
$("sp-854").onclick = () => send("VORNFT01");
$("sp-1706").onclick = () => send("VORNFT02");
</script></body></html>
)PAGE";

} // namespace

std::string WsPage(Works *w) {
    return std::string(kHead) + ErrorTable(w) + kTail;
}
