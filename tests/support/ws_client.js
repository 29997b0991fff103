// A standard WebSocket client (the `ws` package) against the unit's server:
// handshake with subprotocol "chat", the access phrase as the first text
// frame, then it waits for one "ST" and one "SP" frame.
// Usage: node ws_client.js PORT PHRASE   (exit 0 when both arrived)
'use strict';
const WebSocket = require('ws');

const [port, phrase] = process.argv.slice(2);
const seen = new Set();
const ws = new WebSocket(`ws://127.0.0.1:${port}/chat`, 'chat', {
  perMessageDeflate: false,
  // The server counts the request's header lines as it spells them; this one
  // differs from what the library sends by default.
  finishRequest: (req) => {
    req.setHeader('Connection', 'keep-alive, Upgrade');
    req.end();
  },
});
const timer = setTimeout(() => {
  console.log(`timed out, seen: ${[...seen].join(' ')}`);
  process.exit(1);
}, 15000);
ws.on('open', () => {
  console.log(`open, protocol ${ws.protocol}`);
  ws.send(phrase); // a text frame, masked as every client masks
});
ws.on('message', (data, isBinary) => {
  if (!isBinary || data.length < 2) return;
  const tag = data.subarray(0, 2).toString('latin1');
  if (tag === 'SP' && data.length !== 522) {
    console.log(`bad chunk of ${data.length} bytes`);
    process.exit(1);
  }
  if (!seen.has(tag)) console.log(`got ${tag}`);
  seen.add(tag);
  if (seen.has('ST') && seen.has('SP')) {
    clearTimeout(timer);
    ws.close();
    console.log('ST and SP received');
    process.exit(0);
  }
});
ws.on('error', (e) => {
  console.log(`error: ${e.message}`);
  process.exit(1);
});
