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
// package.json's binary.napi_versions tells cmake-js that this is a
// Node-API addon: it then compiles against node-api-headers and fetches no
// Node headers. KMX_JOBS bounds the build's parallelism.
const args = [cmakeJs, 'compile', '--parallel', String(process.env.KMX_JOBS || 2)];
const run = spawnSync(process.execPath, args, { cwd: root, stdio: 'inherit' });
process.exit(run.status === null ? 1 : run.status);
