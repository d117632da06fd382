// WebSocket peer on the Node.js ws package; see README.md.
'use strict';
const { WebSocketServer, WebSocket } = require('ws');

const MAX = 8 * 1024 * 1024;
const SIZES = [0, 125, 126, 65535, 65536, 4194303];
const args = process.argv.slice(2);
const arg = (name) => (args.includes(name) ? args[args.indexOf(name) + 1] : undefined);
// Exits once everything printed is out: a pipe is written asynchronously.
const finish = (code) => process.stdout.write('', () => process.exit(code));

function serve(token) {
  const wss = new WebSocketServer({
    host: '127.0.0.1', port: 0, maxPayload: MAX, perMessageDeflate: false,
    verifyClient: (info, done) => done(!token || info.req.headers.authorization === 'Bearer ' + token, 403),
  });
  wss.on('listening', () => console.log('PORT ' + wss.address().port));
  wss.on('connection', (ws) => {
    ws.on('message', (data, isBinary) => {
      const text = isBinary ? null : data.toString();
      if (text === '!frag') {
        ws.send('ab', { fin: false });
        ws.send('cd', { fin: false });
        ws.send('ef', { fin: true });
      } else if (text !== null && text.startsWith('!ping ')) {
        const payload = text.slice(6);
        ws.once('pong', (got) => ws.send(got.toString() === payload ? 'pong-ok ' + payload : 'pong-bad'));
        ws.ping(payload);
      } else if (text === '!close') {
        ws.close();
      } else {
        ws.send(data, { binary: isBinary });
      }
    });
  });
}

function client(url, token, expectStatus) {
  const headers = token ? { Authorization: 'Bearer ' + token } : {};
  let failed = false;
  const report = (step, ok, why) => {
    failed = failed || !ok;
    console.log(ok ? 'OK ' + step : 'FAIL ' + step + ': ' + why);
  };
  const ws = new WebSocket(url, { headers, maxPayload: MAX, perMessageDeflate: false });
  if (expectStatus) {
    ws.on('unexpected-response', (req, res) => {
      report('refused ' + res.statusCode, res.statusCode === Number(expectStatus), String(res.statusCode));
      finish(failed ? 1 : 0);
    });
    ws.on('open', () => { report('refused', false, 'handshake accepted'); finish(1); });
    ws.on('error', () => {});
    return;
  }
  const inbox = [];
  let wake = null;
  ws.on('message', (data, isBinary) => { inbox.push({ data, isBinary }); if (wake) wake(); });
  const next = () => new Promise((resolve, reject) => {
    const t = setTimeout(() => reject(new Error('timeout')), 20000);
    const take = () => { if (inbox.length) { clearTimeout(t); wake = null; resolve(inbox.shift()); } else wake = take; };
    take();
  });
  ws.on('error', (e) => { report('connect', false, e.message); finish(1); });
  ws.on('open', async () => {
    try {
      for (const size of SIZES) {
        for (const kind of ['text', 'binary']) {
          // Binary payloads stay ASCII: the host answers in text frames only.
          const payload = kind === 'text' ? 'x'.repeat(size) : Buffer.from(Array.from({ length: size }, (_, i) => 97 + i % 26));
          ws.send(payload, { binary: kind === 'binary' });
          if (size === 0) continue;
          const got = await next();
          const same = Buffer.compare(Buffer.from(got.data), Buffer.from(payload)) === 0;
          report(kind + ' ' + size, same, 'got ' + got.data.length + ' bytes');
        }
      }
      ws.send('fr', { fin: false });
      ws.send('ag', { fin: false });
      ws.send('ment', { fin: true });
      const frag = await next();
      report('fragmented', frag.data.toString() === 'fragment', frag.data.toString().slice(0, 20));
      const pong = new Promise((resolve) => {
        const t = setTimeout(() => resolve(false), 10000);
        ws.once('pong', (d) => { clearTimeout(t); resolve(d.toString() === 'ping-payload'); });
      });
      ws.ping('ping-payload');
      report('ping', await pong, 'no matching pong');
      ws.on('close', (code) => { report('close', true); finish(failed ? 1 : 0); });
      ws.close();
    } catch (e) {
      report('scenario', false, e.message);
      finish(1);
    }
  });
}

if (args[0] === 'server') serve(arg('--token'));
else client(args[1], arg('--token'), arg('--expect-status'));
