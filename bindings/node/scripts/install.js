// npm install: builds the addon (and, inside the keymux source tree, the
// library) with cmake-js against node-api-headers, unless the package
// already carries an addon that loads in this Node.
'use strict';
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const addon = path.join(root, 'build', 'Release', 'keymux.node');
const insideSources = fs.existsSync(path.join(root, '..', '..', 'native', 'CMakeLists.txt'));

function prebuiltLoads() {
  if (!fs.existsSync(addon)) return false;
  const probe = spawnSync(process.execPath, ['-e', `require(${JSON.stringify(addon)})`], { stdio: 'ignore' });
  return probe.status === 0;
}

if (!insideSources && prebuiltLoads()) process.exit(0);

const cmakeJs = require.resolve('cmake-js/bin/cmake-js');
// Node-API builds need no Node headers; a dist URL nobody serves makes sure
// cmake-js never fetches any.
const args = [cmakeJs, 'compile', '--dist-url', 'http://127.0.0.1:9', ...(process.env.KEYMUX_CMAKE_JS_ARGS || '').split(' ').filter(Boolean)];
const run = spawnSync(process.execPath, args, { cwd: root, stdio: 'inherit' });
process.exit(run.status === null ? 1 : run.status);
