// The WebSocket benchmark's Node side: `server` runs a ws echo server and
// prints its port; `client <port>` runs the three measurements against it and
// prints one JSON line. Used by ws_bench so that both stacks run in one go.
'use strict';
const { WebSocketServer, WebSocket } = require('ws');

const [mode, portArg, pingN, pipeN, bigN] = process.argv.slice(2);

if (mode === 'server') {
  const wss = new WebSocketServer({ host: '127.0.0.1', port: 0, perMessageDeflate: false, maxPayload: 8 << 20 });
  wss.on('listening', () => console.log('PORT ' + wss.address().port));
  wss.on('connection', (ws) => ws.on('message', (data, isBinary) => ws.send(data, { binary: isBinary })));
} else {
  const ws = new WebSocket('ws://127.0.0.1:' + portArg + '/', { perMessageDeflate: false, maxPayload: 8 << 20 });
  const small = 'x'.repeat(200);
  const big = Buffer.alloc(65536, 'y');
  let handler = null;
  ws.on('message', (d) => handler(d));
  const now = () => Number(process.hrtime.bigint()) / 1e3;  // microseconds

  const pingPong = (n) => new Promise((resolve) => {
    const rtts = [];
    let t0 = now();
    const start = t0;
    handler = () => {
      const t = now();
      rtts.push(t - t0);
      if (rtts.length === n) return resolve({ rtts, secs: (t - start) / 1e6 });
      t0 = now();
      ws.send(small);
    };
    ws.send(small);
  });
  const pipelined = (n, msg) => new Promise((resolve) => {
    let got = 0;
    const start = now();
    handler = () => { if (++got === n) resolve((now() - start) / 1e6); };
    for (let i = 0; i < n; ++i) ws.send(msg);
  });

  ws.on('open', async () => {
    const pp = await pingPong(Number(pingN));
    const pipeSecs = await pipelined(Number(pipeN), small);
    const bigSecs = await pipelined(Number(bigN), big);
    ws.close();
    // Exit only once the line is out: a pipe is written asynchronously.
    process.stdout.write(JSON.stringify({ rtts: pp.rtts, ppSecs: pp.secs, pipeSecs, bigSecs }) + '\n', () => process.exit(0));
  });
}
