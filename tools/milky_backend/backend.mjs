// A scripted Milky backend: POST /api/<name> and the WebSocket /event, with
// every request body checked against the protocol's own input schema
// (@saltify/milky-types) and every scripted event against its event schema.
//
//   node backend.mjs [--port P] [--token T] [--script F] [--record R]
//
// Prints "PORT <n>" once it listens. See README.md for the script.
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';

// Packages come from NODE_PATH (.deps/node_modules), which only require() reads.
const require = createRequire(import.meta.url);
const { WebSocketServer } = require('ws');
const milky = await import(pathToFileURL(require.resolve('@saltify/milky-types')).href);

const args = { port: 0, token: '', script: '', record: '' };
for (let i = 2; i < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
const script = args.script ? JSON.parse(fs.readFileSync(args.script, 'utf8')) : {};
const replies = script.replies || {};

function record(entry) {
  if (args.record) fs.appendFileSync(args.record, JSON.stringify(entry) + '\n');
}

// Every API of the protocol by name, with its request schema (none for an
// API without parameters: its body must be an empty object).
const apis = new Map();
for (const category of Object.values(milky.zodApiCategories)) {
  for (const [name, api] of Object.entries(category.apis)) apis.set(name, api.requestSchema);
}
const emptyBody = { safeParse: (b) => ({ success: b && typeof b === 'object' && Object.keys(b).length === 0, error: { message: 'expected {}' } }) };

function send(res, status, body) {
  res.writeHead(status, { 'Content-Type': 'application/json' });
  res.end(body === undefined ? '' : JSON.stringify(body));
}

function authorized(headers, url) {
  if (!args.token) return true;
  if (headers.authorization === 'Bearer ' + args.token) return true;
  return new URL(url, 'http://x').searchParams.get('access_token') === args.token;
}

const server = http.createServer((req, res) => {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('end', () => {
    const text = Buffer.concat(chunks).toString('utf8');
    const match = /^\/api\/([a-z_]+)$/.exec(new URL(req.url, 'http://x').pathname);
    if (!authorized(req.headers, req.url)) return send(res, 401);
    if (req.method !== 'POST' || !match) return send(res, 404);
    const name = match[1];
    if (!apis.has(name)) return send(res, 404);
    const schema = apis.get(name) || emptyBody;
    if (!(req.headers['content-type'] || '').startsWith('application/json')) return send(res, 415);
    let body;
    try {
      body = text ? JSON.parse(text) : {};
    } catch {
      body = undefined;
    }
    const checked = body === undefined ? { success: false, error: { message: 'not JSON' } } : schema.safeParse(body);
    record({ kind: 'api', name, body: body === undefined ? text : body, valid: checked.success });
    if (!checked.success) {
      return send(res, 200, { status: 'failed', retcode: -400, message: String(checked.error.message).slice(0, 500) });
    }
    const rule = replies[name] || replies['*'] || { mode: 'ok' };
    const answer = () => {
      if (rule.mode === 'failed') {
        return send(res, 200, { status: 'failed', retcode: rule.retcode ?? -500, message: rule.message ?? 'refused' });
      }
      send(res, 200, { status: 'ok', retcode: 0, data: rule.data ?? {} });
    };
    if (rule.mode === 'never') return;
    if (rule.mode === 'slow') return setTimeout(answer, rule.delay_ms ?? 2000);
    answer();
  });
});

// Scripted events: each checked against the event schema before it is sent.
const wss = new WebSocketServer({ noServer: true });
server.on('upgrade', (req, socket, head) => {
  if (new URL(req.url, 'http://x').pathname !== '/event' || !authorized(req.headers, req.url)) {
    socket.end('HTTP/1.1 ' + (authorized(req.headers, req.url) ? '404 Not Found' : '401 Unauthorized') + '\r\n\r\n');
    return;
  }
  wss.handleUpgrade(req, socket, head, (ws) => {
    record({ kind: 'connect' });
    for (const item of script.events || []) {
      let n = 0;
      const fire = () => {
        n += 1;
        const event = JSON.parse(JSON.stringify(item.event).replaceAll('"{n}"', String(n)).replaceAll('{n}', String(n)));
        event.time ??= Math.floor(Date.now() / 1000);
        const checked = milky.Event.safeParse(event);
        if (!checked.success) {
          process.stderr.write('INVALID EVENT ' + JSON.stringify(event) + ': ' + checked.error.message + '\n');
          return;
        }
        if (ws.readyState === ws.OPEN) ws.send(JSON.stringify(event));
        if (item.every_ms && (!item.count || n < item.count)) setTimeout(fire, item.every_ms);
      };
      setTimeout(fire, item.at_ms ?? 0);
    }
  });
});

server.listen(Number(args.port) || 0, '127.0.0.1', () => {
  process.stdout.write('PORT ' + server.address().port + '\n');
});
