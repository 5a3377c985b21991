'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { collect, xdotool, backend, windows } = require('./helpers');
const { Keymux } = require('..');

test('hot keys arrive as down then up, with the id as registered', async (t) => {
  const km = Keymux.create();
  t.after(() => km.close());
  assert.equal(km.backend, backend);
  assert.equal(typeof km.capabilities, 'number');

  const big = 2n ** 63n + 5n;
  await km.applyHotkeys([
    { id: 7, accelerator: 'CmdOrCtrl+Shift+K', description: 'push to talk' },
    { id: big, accelerator: 'Alt+F5' },
  ]);
  assert.deepEqual(km.applyLeftovers(), []);

  let events = collect(km, 'hotkey', 2);
  km.sendChord(['ControlLeft', 'ShiftLeft'], 'KeyK');
  assert.deepEqual((await events).map(({ id, down }) => ({ id, down })), [
    { id: 7, down: true },
    { id: 7, down: false },
  ]);

  // Pressed by another X client (typed here under Wine); the bigint id
  // comes back as the same bigint.
  events = collect(km, 'hotkey', 2);
  if (windows) km.sendChord('Alt+F5');
  else xdotool('key', 'alt+F5');
  const [down, up] = await events;
  assert.equal(down.id, big);
  assert.equal(down.down, true);
  assert.equal(up.down, false);
  assert.ok(down.timestamp >= 1 && up.timestamp >= down.timestamp);

  // The new set replaces the old one: K is no longer a hot key.
  await km.applyHotkeys([{ id: 9, accelerator: 'Ctrl+Alt+J' }]);
  events = collect(km, 'hotkey', 2);
  km.sendChord(['ControlLeft', 'ShiftLeft'], 'KeyK');
  km.sendChord(['ControlLeft', 'AltLeft'], 'KeyJ');
  assert.deepEqual((await events).map((e) => e.id), [9, 9]);
});

test('a refused set leaves the previous one in place', async (t) => {
  const km = Keymux.create();
  t.after(() => km.close());
  await km.applyHotkeys([{ id: 1, accelerator: 'Ctrl+Shift+U' }]);
  await assert.rejects(
    km.applyHotkeys([
      { id: 2, accelerator: 'Ctrl+Shift+I' },
      { id: 3, accelerator: 'Ctrl+Banana' },
    ]),
    // The backend's refusal: the X11 backend's is wrapped by its
    // transactional apply, the Windows one's is the parse error itself.
    (e) =>
      e.name === 'KeymuxError' &&
      e.code === (windows ? 'INVALID_ARGUMENT' : 'BACKEND') &&
      e.status === (windows ? 1 : 2) &&
      e.message === `${windows ? '' : 'backend error: '}invalid argument: Ctrl+Banana: unrecognised key "Banana"`,
  );
  const events = collect(km, 'hotkey', 2);
  km.sendChord(['ControlLeft', 'ShiftLeft'], 'KeyI'); // not registered: no event
  km.sendChord(['ControlLeft', 'ShiftLeft'], 'KeyU');
  assert.deepEqual((await events).map((e) => e.id), [1, 1]);
});

test('sendChord types the keys applyHotkeys registers for the same accelerator', async (t) => {
  const km = Keymux.create();
  t.after(() => km.close());
  const accelerators = ['CmdOrCtrl+Shift+K', ' alt + num5 ', 'Ctrl+/', 'control+shift+PgUp', 'Shift+F12', 'Ctrl+Alt+KeyQ'];
  await km.applyHotkeys(accelerators.map((accelerator, id) => ({ id, accelerator })));
  for (const [id, accelerator] of accelerators.entries()) {
    const events = collect(km, 'hotkey', 2);
    km.sendChord(accelerator);
    assert.deepEqual((await events).map((e) => [e.id, e.down]), [[id, true], [id, false]], accelerator);
  }
});
