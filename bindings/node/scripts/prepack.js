// npm pack: the package carries the prebuilds and the header the addon is
// built against (for a build from source outside the keymux tree).
'use strict';
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const header = path.join(root, '..', '..', 'include', 'keymux', 'keymux.h');
const wanted = ['linux-x64/keymux.napi.node', 'linux-x64/libkeymux_native.so.1', 'win32-x64/keymux.napi.node', 'win32-x64/keymux_native.dll'];
const missing = wanted.filter((f) => !fs.existsSync(path.join(root, 'prebuilds', f)));
if (missing.length > 0) {
  console.error(`prepack: prebuilds missing (${missing.join(', ')}); run npm run prebuild first`);
  process.exit(1);
}
fs.mkdirSync(path.join(root, 'include', 'keymux'), { recursive: true });
fs.copyFileSync(header, path.join(root, 'include', 'keymux', 'keymux.h'));
