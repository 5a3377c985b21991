'use strict';
const { execFileSync } = require('node:child_process');
const assert = require('node:assert/strict');

assert.ok(process.env.DISPLAY, 'these tests need an X display (run them under Xvfb)');

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

module.exports = { collect, xdotool };
