'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');
const { windows, needsX } = require('./helpers');
const { Keymux, KeymuxError } = require('..');
const { candidates, systemName, addonCandidates, unpacked } = require('../lib/loader');

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
  // More modifiers than a chord may hold: refused in JavaScript, with the
  // library's text.
  assert.throws(
    () => km.sendChord(['ControlLeft', 'ShiftLeft', 'AltLeft', 'MetaLeft', 'ControlRight'], 'KeyA'),
    isKeymuxError('INVALID_ARGUMENT', 1, 'invalid argument: at most 4 chord modifiers'),
  );
  // An accelerator is read as the hot-key registrars read it.
  assert.throws(() => km.sendChord('Ctrl+Banana'), isKeymuxError('INVALID_ARGUMENT', 1, 'invalid argument: Ctrl+Banana: unrecognised key "Banana"'));
  assert.throws(() => km.sendChord('K+Ctrl'), isKeymuxError('INVALID_ARGUMENT', 1, /"Ctrl" follows the key; the key comes last/));
  assert.throws(() => km.sendChord('Ctrl+Shift'), isKeymuxError('INVALID_ARGUMENT', 1, /no key, only modifiers/));
  assert.throws(() => km.sendChord('Ctrl++K'), isKeymuxError('INVALID_ARGUMENT', 1, /empty token/));
  if (needsX) return;
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

test('the library is looked for in KEYMUX_LIBRARY, beside the addon, then the system', () => {
  assert.deepEqual(candidates({ KEYMUX_LIBRARY: '/opt/k/libk.so' }), [{ where: 'KEYMUX_LIBRARY', path: '/opt/k/libk.so' }]);
  const list = candidates({});
  assert.deepEqual(list.map((c) => c.where), ['package copy', 'system search path']);
  const prebuild = path.join(root, 'prebuilds', `${process.platform}-${process.arch}`);
  assert.equal(list[0].path, path.join(prebuild, systemName()));
  assert.equal(list[1].path, systemName());
  assert.deepEqual(addonCandidates().map((c) => path.join(c.dir, c.file)), [
    path.join(prebuild, 'keymux.napi.node'),
    path.join(root, 'build', 'Release', 'keymux.node'),
  ]);
  assert.equal(Keymux.libraryPath, path.join(prebuild, systemName()));
  // Inside an Electron archive the binaries are read from beside it.
  assert.equal(unpacked('/a/app.asar/node_modules/keymux'), '/a/app.asar.unpacked/node_modules/keymux');
  assert.equal(unpacked('C:\\A\\resources\\app.asar\\node_modules'), 'C:\\A\\resources\\app.asar.unpacked\\node_modules');
  assert.equal(unpacked('/a/app.asar.unpacked/x'), '/a/app.asar.unpacked/x');
  assert.equal(unpacked('/a/my.app.asarx/x'), '/a/my.app.asarx/x');
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
  const absent = windows ? 'C:\\nonexistent\\keymux_native.dll' : '/nonexistent/libkeymux_native.so.1';
  const missing = createIn({ KEYMUX_LIBRARY: absent });
  assert.equal(missing.code, 'LIBRARY_NOT_FOUND');
  assert.equal(missing.status, undefined);
  assert.ok(missing.message.includes(`${absent} (KEYMUX_LIBRARY): `), missing.message);
  assert.match(missing.message, windows ? /LoadLibrary failed with error 126/ : /No such file/);

  const foreign = windows ? 'kernel32.dll' : 'libm.so.6';
  const other = createIn({ KEYMUX_LIBRARY: foreign });
  assert.equal(other.code, 'ABI_MISMATCH');
  assert.equal(other.status, 6);
  assert.ok(other.message.includes(`${foreign} (KEYMUX_LIBRARY): it does not export kmx_abi_version`), other.message);
});
