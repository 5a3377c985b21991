'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');
require('./helpers');
const { Keymux, KeymuxError } = require('..');
const { candidates, systemName } = require('../lib/loader');

const root = path.join(__dirname, '..');

function isKeymuxError(code, status, message) {
  return (e) => {
    assert.ok(e instanceof KeymuxError, `not a KeymuxError: ${e}`);
    assert.equal(e.code, code);
    assert.equal(e.status, status);
    if (message instanceof RegExp) assert.match(e.message, message);
    else if (message !== undefined) assert.equal(e.message, message);
    return true;
  };
}

test('library errors carry their code, status and text', async (t) => {
  const km = Keymux.create();
  t.after(() => km.close());
  assert.throws(
    () => Keymux.create(),
    isKeymuxError('BACKEND', 2, 'backend error: only one keymux runtime may be active in a process'),
  );
  await assert.rejects(
    km.applyHotkeys([
      { id: 1, accelerator: 'Ctrl+K' },
      { id: 1, accelerator: 'Ctrl+L' },
    ]),
    isKeymuxError('INVALID_ARGUMENT', 1, /duplicate/),
  );
  // The main key held by the user: the chord is refused, not typed.
  const { xdotool } = require('./helpers');
  xdotool('keydown', 'x');
  try {
    assert.throws(() => km.sendChord(['ControlLeft'], 'KeyX'), isKeymuxError('BACKEND', 2, /0x1b is physically held/));
  } finally {
    xdotool('keyup', 'x');
  }
});

test('bad arguments throw TypeError or RangeError before any call', async (t) => {
  const km = Keymux.create();
  t.after(() => km.close());
  assert.throws(() => Keymux.create({ raw: 'keys' }), TypeError);
  assert.throws(() => Keymux.create({ raw: ['keyz'] }), RangeError);
  assert.throws(() => km.sendChord([], 'KeyAA'), RangeError);
  assert.throws(() => km.sendChord([], 65), TypeError);
  assert.throws(() => km.sendChord(['KeyA'], 'KeyB'), RangeError);
  assert.throws(() => km.sendChord('ControlLeft', 'KeyB'), TypeError);
  assert.throws(() => km.isKeyDown('Shift'), RangeError);
  assert.throws(() => km.areKeysDown(['KeyA', null]), TypeError);
  assert.throws(() => km.setRawMask(['drag', 'wheel']), RangeError);
  const bad = [
    [{ id: 1, accelerator: 5 }, TypeError],
    [{ id: 1, accelerator: 'Ctrl+K', description: 3 }, TypeError],
    [{ id: 1, accelerator: 'Ctrl+\0K' }, RangeError],
    [{ id: '1', accelerator: 'Ctrl+K' }, TypeError],
    [{ id: 1.5, accelerator: 'Ctrl+K' }, RangeError],
    [{ id: -1, accelerator: 'Ctrl+K' }, RangeError],
    [{ id: 2 ** 53, accelerator: 'Ctrl+K' }, RangeError],
    [{ id: 2n ** 64n, accelerator: 'Ctrl+K' }, RangeError],
    [{ id: -1n, accelerator: 'Ctrl+K' }, RangeError],
  ];
  for (const [hotkey, kind] of bad) assert.throws(() => km.applyHotkeys([hotkey]), kind, JSON.stringify(String(hotkey.id)));
  assert.throws(() => km.applyHotkeys({ id: 1 }), TypeError);
  // Nothing reached the library: the set is still empty and usable.
  await km.applyHotkeys([{ id: 2n ** 64n - 1n, accelerator: 'Ctrl+K' }]);
});

test('after close every call reports CLOSED and close stays idempotent', async () => {
  const km = Keymux.create();
  const first = km.close();
  assert.equal(km.close(), first);
  await first;
  assert.equal(km.closed, true);
  const closed = isKeymuxError('CLOSED', 4, 'runtime is closed');
  assert.throws(() => km.sendChord([], 'KeyA'), closed);
  assert.throws(() => km.isKeyDown('KeyA'), closed);
  await assert.rejects(km.applyHotkeys([]), closed);
  await assert.rejects(km.setRawMask(['keys']), closed);
  await km.close();
  // The slot is free again once the runtime is gone.
  const again = Keymux.create();
  await again.close();
});

test('the library is looked for in KEYMUX_LIBRARY, the package, then the system', () => {
  assert.deepEqual(candidates({ KEYMUX_LIBRARY: '/opt/k/libk.so' }), [{ where: 'KEYMUX_LIBRARY', path: '/opt/k/libk.so' }]);
  const list = candidates({});
  assert.deepEqual(list.map((c) => c.where), ['package copy', 'system search path']);
  assert.equal(list[0].path, path.join(root, 'build', 'Release', systemName()));
  assert.equal(list[1].path, 'libkeymux_native.so.1');
  assert.equal(systemName('darwin'), 'libkeymux_native.dylib');
  assert.equal(systemName('win32'), 'keymux_native.dll');
});

// A fresh process each: the library is loaded once per process.
function createIn(env) {
  const run = spawnSync(
    process.execPath,
    [
      '-e',
      `try { require(${JSON.stringify(root)}).Keymux.create(); } catch (e) {
         console.log(JSON.stringify({ code: e.code, status: e.status, message: e.message })); }`,
    ],
    { env: { ...process.env, ...env }, encoding: 'utf8' },
  );
  assert.equal(run.status, 0, run.stderr);
  return JSON.parse(run.stdout);
}

test('a missing or mismatched library is named in the error', () => {
  const missing = createIn({ KEYMUX_LIBRARY: '/nonexistent/libkeymux_native.so.1' });
  assert.equal(missing.code, 'LIBRARY_NOT_FOUND');
  assert.equal(missing.status, undefined);
  assert.match(missing.message, /\/nonexistent\/libkeymux_native\.so\.1 \(KEYMUX_LIBRARY\): .*No such file/);

  const other = createIn({ KEYMUX_LIBRARY: 'libm.so.6' });
  assert.equal(other.code, 'ABI_MISMATCH');
  assert.equal(other.status, 6);
  assert.match(other.message, /libm\.so\.6 \(KEYMUX_LIBRARY\): it does not export kmx_abi_version/);
});
