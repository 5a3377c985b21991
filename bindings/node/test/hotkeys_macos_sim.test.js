'use strict';
// The package over the simulated-macOS build of keymux_native, whose Carbon
// delivers hot keys only while the main thread runs its event loop, as on a
// Mac. Runs when KMXSIM_CONTROL names the simulation's control socket (and
// KEYMUX_LIBRARY that build); presses come in through that socket.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const net = require('node:net');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const CONTROL = process.env.KMXSIM_CONTROL;
const skip = CONTROL ? false : 'needs the simulated-macOS keymux_native (KMXSIM_CONTROL)';
const KEY_K = 40; // kVK_ANSI_K
const CMD_SHIFT = 0x100 | 0x200; // cmdKey | shiftKey

// Sends commands over the control socket; resolves with one reply each.
function control(...commands) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(CONTROL);
    let replies = '';
    socket.on('error', reject);
    socket.on('data', (chunk) => {
      replies += chunk;
      if (replies.split('\n').length > commands.length) {
        socket.end();
        resolve(replies.trim().split('\n'));
      }
    });
    socket.write(commands.map((c) => `${c}\n`).join(''));
  });
}

function nextHotkeys(km, n, ms) {
  return new Promise((resolve, reject) => {
    const got = [];
    const timer = setTimeout(() => reject(new Error(`only ${got.length} of ${n} hot-key events in ${ms} ms`)), ms);
    const listener = (e) => {
      got.push({ id: e.id, down: e.down });
      if (got.length === n) {
        clearTimeout(timer);
        km.off('hotkey', listener);
        resolve(got);
      }
    };
    km.on('hotkey', listener);
  });
}

test('plain Node receives Carbon hot keys: the package runs the main thread event loop', { skip }, async (t) => {
  const { Keymux } = require('..');
  const km = Keymux.create();
  t.after(() => km.close());
  assert.equal(km.backend, 'macos-carbon-coregraphics');
  await km.applyHotkeys([{ id: 7, accelerator: 'Cmd+Shift+K' }]);
  assert.deepEqual(await control(`hotkey_registered ${KEY_K} ${CMD_SHIFT}`), ['1']);

  const events = nextHotkeys(km, 2, 5000);
  // 1: the edge reached this process's handlers, queued for the main loop.
  assert.deepEqual(await control(`hotkey_press ${KEY_K} ${CMD_SHIFT}`, `hotkey_release ${KEY_K} ${CMD_SHIFT}`), [
    '1',
    '1',
  ]);
  assert.deepEqual(await events, [
    { id: 7, down: true },
    { id: 7, down: false },
  ]);
});

// The pump is a timer: it must not keep a process alive that let go of the
// runtime, nor outlive a closed one.
test('the event loop pump lets the process end after unref() or close()', { skip }, () => {
  const main = path.join(__dirname, '..');
  for (const ending of ['km.unref()', 'km.close()']) {
    const script = `
      const { Keymux } = require(${JSON.stringify(main)});
      const km = Keymux.create();
      km.applyHotkeys([{ id: 1, accelerator: 'Cmd+Shift+J' }]).then(() => { ${ending}; });`;
    // Without KMXSIM_CONTROL: the child must not take over this process's socket.
    const env = { ...process.env, KMXSIM_CONTROL: '' };
    const run = spawnSync(process.execPath, ['-e', script], { env, timeout: 10000, encoding: 'utf8' });
    assert.equal(run.error, undefined, `${ending}: the process did not end (${run.error})`);
    assert.equal(run.status, 0, `${ending}: ${run.stderr}`);
  }
});

// Electron runs the main thread's loop itself (AppKit's): a second runner
// would take its events, so there the package leaves it alone.
test('no pump in Electron, and none once the library turns out to lack Carbon', () => {
  const { EventPump } = require('../lib/event_pump');
  let calls = 0;
  const native = {
    pumpEvents: () => {
      calls += 1;
      return false;
    },
  };
  const electron = new EventPump(native, { node: '20.0.0', electron: '30.0.0' });
  electron.want(true);
  assert.equal(calls, 0);
  assert.equal(electron.running, false);
  const linux = new EventPump(native, { node: '20.0.0' });
  linux.want(true);
  linux.want(true);
  assert.equal(calls, 1, 'asks the library once');
  assert.equal(linux.running, false);
});
