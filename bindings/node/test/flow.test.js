'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const { once } = require('node:events');
const path = require('node:path');
const { needsX } = require('./helpers');
const { Keymux } = require('..');

const root = path.join(__dirname, '..');
const LETTERS = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ'.split('').map((c) => `Key${c}`);

// Chords typed in slices, so that events are delivered while typing goes on.
function type(km, count, onSlice = () => {}) {
  return new Promise((resolve, reject) => {
    let sent = 0;
    const slice = () => {
      try {
        for (let n = 0; n < 100 && sent < count; ++n, ++sent) km.sendChord([], LETTERS[sent % 26]);
      } catch (e) {
        return reject(e);
      }
      onSlice(sent);
      if (sent < count) setImmediate(slice);
      else resolve(sent);
    };
    slice();
  });
}

test('10,000 events arrive complete and in order', async (t) => {
  const km = Keymux.create({ raw: ['keys'] });
  t.after(() => km.close());
  const seen = [];
  let turns = 0;
  const done = new Promise((resolve) => {
    km.on('key', (e) => {
      seen.push(e);
      if (seen.length === 10000) resolve();
    });
  });
  const ticker = setInterval(() => ++turns, 0);
  await type(km, 5000);
  await done;
  clearInterval(ticker);
  for (let i = 0; i < 10000; ++i) {
    const expected = LETTERS[Math.floor(i / 2) % 26];
    assert.equal(seen[i].code, expected, `event ${i}`);
    assert.equal(seen[i].down, i % 2 === 0, `event ${i}`);
    if (i > 0) assert.ok(seen[i].timestamp >= seen[i - 1].timestamp, `event ${i} timestamp`);
  }
  assert.ok(turns > 0, 'the event loop kept turning');
});

test('close while events flow: what came before is kept, nothing after', async () => {
  const km = Keymux.create({ raw: ['keys'] });
  const seen = [];
  let closeEvents = 0;
  let resolved = false;
  km.on('key', (e) => {
    assert.equal(resolved, false, 'event after close() resolved');
    seen.push(e);
  });
  km.on('close', () => ++closeEvents);
  let closing = null;
  await assert.rejects(
    type(km, 3000, (sent) => {
      if (sent === 1000) closing = km.close().then(() => (resolved = true));
    }),
    (e) => e.code === 'CLOSED',
  );
  await closing;
  assert.equal(closeEvents, 1);
  // 1000 chords went out before close(); the server may not have reported
  // the last of them before the runtime stopped.
  assert.ok(seen.length > 0 && seen.length <= 2000, `got ${seen.length}`);
  seen.forEach((e, i) => assert.equal(e.code, LETTERS[Math.floor(i / 2) % 26], `event ${i}`));
  await new Promise((r) => setImmediate(r));
  assert.equal(closeEvents, 1);
});

test('a listener that throws does not lose the events after it', () => {
  const run = runChild(`const { Keymux } = require(${JSON.stringify(root)});
    const km = Keymux.create({ raw: ['keys'] });
    const errors = [];
    const seen = [];
    process.on('uncaughtException', (e) => errors.push(e.message));
    km.on('key', (e) => {
      seen.push(e.code + (e.down ? ' down' : ' up'));
      if (seen.length === 1) throw new Error('listener failed');
      if (seen.length === 4) km.close().then(() => console.log(JSON.stringify({ seen, errors })));
    });
    km.sendChord([], 'KeyA');
    km.sendChord([], 'KeyB');`);
  assert.equal(run.status, 0, run.stderr);
  assert.deepEqual(JSON.parse(run.stdout), {
    seen: ['KeyA down', 'KeyA up', 'KeyB down', 'KeyB up'],
    errors: ['listener failed'],
  });
});

function runChild(source) {
  // The guard only stops a hang from hanging the suite.
  return spawnSync(process.execPath, ['-e', source], { encoding: 'utf8', timeout: 60000 });
}

test('the process can end while a runtime is open', () => {
  const lib = JSON.stringify(root);
  // unref(): nothing else keeps the loop alive, so the process ends by itself.
  let run = runChild(`const { Keymux } = require(${lib});
    const km = Keymux.create({ raw: ['keys'] }).unref();
    km.applyHotkeys([{ id: 1, accelerator: 'Ctrl+Shift+K' }]).then(() => { km.sendChord([], 'KeyA'); console.log('applied'); });`);
  assert.equal(run.signal, null);
  assert.equal(run.status, 0, run.stderr);
  assert.equal(run.stdout.trim(), 'applied');

  // process.exit with the runtime referenced and events queued.
  run = runChild(`const { Keymux } = require(${lib});
    const km = Keymux.create({ raw: ['keys'] });
    for (let i = 0; i < 200; ++i) km.sendChord([], 'KeyA');
    process.exit(3);`);
  assert.equal(run.signal, null);
  assert.equal(run.status, 3, run.stderr);

  // After close() the poll thread no longer holds the loop.
  run = runChild(`const { Keymux } = require(${lib});
    const km = Keymux.create({ raw: ['keys'] });
    km.on('key', () => {});
    km.sendChord([], 'KeyA');
    km.close().then(() => console.log('closed'));`);
  assert.equal(run.status, 0, run.stderr);
  assert.equal(run.stdout.trim(), 'closed');
});

test('a backend that stops on its own closes the runtime and says why', { skip: needsX && 'ends an X server under the runtime' }, async () => {
  // A display of the test's own, ended under a runtime in a child process.
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-nolisten', 'tcp'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  try {
    const [number] = await once(xvfb.stdio[3], 'data');
    const child = spawn(
      process.execPath,
      [
        '-e',
        `const { Keymux } = require(${JSON.stringify(root)});
         const km = Keymux.create();
         const seen = [];
         km.on('error', (e) => seen.push(['error', e.code, e.status, e.message, km.closed]));
         km.on('close', (e) => {
           seen.push(['close', e && e.message, km.closed]);
           console.log(JSON.stringify(seen));
         });
         console.log('ready');`,
      ],
      { env: { ...process.env, DISPLAY: `:${String(number).trim()}` }, stdio: ['ignore', 'pipe', 'pipe'] },
    );
    let stdout = '';
    let stderr = '';
    child.stderr.on('data', (d) => (stderr += d));
    const exited = once(child, 'exit');
    await new Promise((resolve) =>
      child.stdout.on('data', (d) => {
        stdout += d;
        if (stdout.startsWith('ready\n')) resolve();
      }),
    );
    xvfb.kill();
    const [status] = await exited;
    // The runtime was freed: nothing holds the child's loop any more.
    assert.equal(status, 0, stderr);
    const [error, close] = JSON.parse(stdout.split('\n')[1]);
    const text = 'runtime is closed: the backend stopped on its own';
    assert.deepEqual(error, ['error', 'CLOSED', 4, text, true]);
    assert.deepEqual(close, ['close', text, true]);
    // The reason itself goes to standard error, from the library.
    assert.match(stderr, /\[keymux\] lost the connection to X11 display .*; the X11 backend stopped/);
  } finally {
    xvfb.kill();
  }
});
