// Checks the scripted Milky backend itself: status codes, schema checks of
// request bodies and events, replies from the script. Exits 0 when all hold.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

const { WebSocket } = createRequire(import.meta.url)('ws');  // from NODE_PATH

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'milky-selftest-'));
const scriptFile = path.join(dir, 'script.json');
fs.writeFileSync(scriptFile, JSON.stringify({
  replies: { get_login_info: { mode: 'ok', data: { uin: 10001, nickname: 'bot' } }, delete_friend: { mode: 'failed' } },
  events: [
    { at_ms: 50, event: { event_type: 'bot_offline', self_id: 10001, data: { reason: 42 } } },
    { at_ms: 100, event: { event_type: 'bot_offline', self_id: 10001, data: { reason: 'x' } } },
  ],
}));
const backend = spawn(process.execPath, [path.join(import.meta.dirname, 'backend.mjs'), '--token', 'k', '--script', scriptFile]);
const port = await new Promise((resolve) => backend.stdout.on('data', (d) => resolve(/PORT (\d+)/.exec(String(d))[1])));
const base = `http://127.0.0.1:${port}`;
const post = (name, body, headers = {}) =>
  fetch(`${base}/api/${name}`, { method: 'POST', body, headers: { 'Content-Type': 'application/json', Authorization: 'Bearer k', ...headers } });

const failures = [];
const expect = (what, got, want) => { if (JSON.stringify(got) !== JSON.stringify(want)) failures.push(`${what}: ${JSON.stringify(got)} != ${JSON.stringify(want)}`); };
expect('no token', (await post('get_login_info', '{}', { Authorization: '' })).status, 401);
expect('unknown API', (await post('no_such_api', '{}')).status, 404);
expect('wrong type', (await post('get_login_info', '{}', { 'Content-Type': 'text/plain' })).status, 415);
expect('scripted reply', await (await post('get_login_info', '{}')).json(), { status: 'ok', retcode: 0, data: { uin: 10001, nickname: 'bot' } });
expect('bad body', (await (await post('send_group_message', '{"group_id":"x"}')).json()).retcode, -400);
expect('good body', (await (await post('send_group_message', JSON.stringify({ group_id: 20001, message: [{ type: 'text', data: { text: 'hi' } }] }))).json()).status, 'ok');
expect('refusal', (await (await post('delete_friend', '{"user_id":30001}')).json()).status, 'failed');
const events = await new Promise((resolve) => {
  const got = [];
  const ws = new WebSocket(`ws://127.0.0.1:${port}/event`, { headers: { Authorization: 'Bearer k' } });
  ws.on('message', (m) => got.push(JSON.parse(String(m))));
  setTimeout(() => { ws.close(); resolve(got); }, 600);
});
expect('events that fit the schema', events.map((e) => e.data.reason), ['x']);
backend.kill();
fs.rmSync(dir, { recursive: true, force: true });
if (failures.length) {
  console.error(failures.join('\n'));
  process.exit(1);
}
console.log('milky backend: all checks passed');
