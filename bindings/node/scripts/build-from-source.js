// npm run build-from-source: builds the addon for a platform the package
// carries no prebuild for, into build/Release/, where the package looks
// after its prebuilds. Needs CMake, a C++20 compiler and this package's
// build tools: npm install --no-save cmake-js node-addon-api node-api-headers
// The library is built from the keymux sources when they are beside the
// package (a checkout); otherwise point KEYMUX_LIBRARY at one built apart.
'use strict';
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const root = path.join(__dirname, '..');
let cmakeJs;
try {
  cmakeJs = require.resolve('cmake-js/bin/cmake-js', { paths: [root, process.cwd()] });
} catch {
  console.error('build-from-source: first run: npm install --no-save cmake-js node-addon-api node-api-headers');
  process.exit(1);
}
const args = [cmakeJs, 'compile', '--parallel', String(process.env.KMX_JOBS || 2)];
const run = spawnSync(process.execPath, args, { cwd: root, stdio: 'inherit' });
process.exit(run.status === null ? 1 : run.status);
