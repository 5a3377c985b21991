'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { collect, xdotool, needsX, windows } = require('./helpers');
const { Keymux } = require('..');

const brief = ({ code, down, modifier, synthetic, autorepeat, selfInjected }) => ({
  code,
  down,
  modifier,
  synthetic,
  autorepeat,
  selfInjected,
});

test('raw keys carry their names, modifier roles and flags', async (t) => {
  const km = Keymux.create({ raw: ['keys'] });
  t.after(() => km.close());

  let events = collect(km, 'key', 4);
  km.sendChord(['ShiftRight'], 'Digit7');
  const own = { synthetic: true, autorepeat: false, selfInjected: true };
  // Windows injects Control, Shift and Alt by their side-neutral virtual
  // keys, which the hook then reports as the left one.
  const shift = windows ? 'ShiftLeft' : 'ShiftRight';
  assert.deepEqual((await events).map(brief), [
    { code: shift, down: true, modifier: 'shift', ...own },
    { code: 'Digit7', down: true, modifier: null, ...own },
    { code: 'Digit7', down: false, modifier: null, ...own },
    { code: shift, down: false, modifier: 'shift', ...own },
  ]);

  // Another client's keys are synthetic (XTest) but not this library's.
  if (needsX) return;
  events = collect(km, 'key', 2);
  xdotool('key', 'F5');
  const theirs = await events;
  assert.deepEqual(theirs.map(brief), [
    { code: 'F5', down: true, modifier: null, synthetic: true, autorepeat: false, selfInjected: false },
    { code: 'F5', down: false, modifier: null, synthetic: true, autorepeat: false, selfInjected: false },
  ]);
  assert.equal(theirs[0].nativeCode, 71);
});

test('the raw mask switches key events off and on', { skip: needsX }, async (t) => {
  const km = Keymux.create({ raw: ['keys', 'buttons'] });
  t.after(() => km.close());
  const buttons = collect(km, 'button', 2);
  xdotool('click', '3');
  assert.deepEqual((await buttons).map(({ button, down }) => ({ button, down })), [
    { button: 'right', down: true },
    { button: 'right', down: false },
  ]);

  // Presses only: the X11 backend keeps raw key releases selected for its
  // hot keys and may still report Q's release once keys are on again.
  const keys = collect(km, 'key', 1, (e) => e.down);
  await km.setRawMask([]);
  km.sendChord([], 'KeyQ'); // not reported
  await km.setRawMask(['keys']);
  km.sendChord([], 'KeyW');
  assert.equal((await keys)[0].code, 'KeyW');
});

test('key state follows a key held by another client', { skip: needsX }, async (t) => {
  const km = Keymux.create();
  t.after(() => {
    xdotool('keyup', 'b');
    return km.close();
  });
  xdotool('keydown', 'b');
  assert.deepEqual(km.areKeysDown(['KeyA', 'KeyB']), [false, true]);
  assert.equal(km.isKeyDown('KeyB'), true);
  xdotool('keyup', 'b');
  assert.equal(km.isKeyDown('KeyB'), false);
});
