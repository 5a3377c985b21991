// npm pack: the package carries the header the addon is built against, so
// that it can be rebuilt outside the keymux source tree.
'use strict';
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const header = path.join(root, '..', '..', 'include', 'keymux', 'keymux.h');
const addon = path.join(root, 'build', 'Release', 'keymux.node');
if (!fs.existsSync(addon)) {
  console.error('prepack: build the addon first (npm install)');
  process.exit(1);
}
fs.mkdirSync(path.join(root, 'include', 'keymux'), { recursive: true });
fs.copyFileSync(header, path.join(root, 'include', 'keymux', 'keymux.h'));
