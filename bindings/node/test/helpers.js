'use strict';
const { execFileSync } = require('node:child_process');
const assert = require('node:assert/strict');

// On Linux the tests run on a private X display, where xdotool is a second
// client. Under Wine's Windows Node there is none to start: the tests that
// need one say so and are skipped there.
const windows = process.platform === 'win32';
if (!windows) assert.ok(process.env.DISPLAY, 'these tests need an X display (run them under Xvfb)');

// Resolves with the next n events of one kind that pass the filter.
function collect(km, kind, n, filter = () => true) {
  return new Promise((resolve) => {
    const got = [];
    const listener = (event) => {
      if (!filter(event)) return;
      got.push(event);
      if (got.length === n) {
        km.off(kind, listener);
        resolve(got);
      }
    };
    km.on(kind, listener);
  });
}

// A second X client presses keys.
function xdotool(...args) {
  execFileSync('xdotool', args, { stdio: 'inherit' });
}

const needsX = windows ? 'needs a second X client (xdotool)' : false;
const backend = windows ? 'win32' : 'x11';

module.exports = { collect, xdotool, needsX, backend, windows };
