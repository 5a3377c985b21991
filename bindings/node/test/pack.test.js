'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
require('./helpers');

const root = path.join(__dirname, '..');
const npm = process.platform === 'win32' ? 'npm.cmd' : 'npm';

// cmake-js fetches Node headers into ~/.cmake-js unless it uses node-api-headers.
function assertBuiltAgainstNodeApiHeaders(packageDir) {
  const cache = fs.readFileSync(path.join(packageDir, 'build', 'CMakeCache.txt'), 'utf8');
  const include = cache.split('\n').find((line) => line.startsWith('CMAKE_JS_INC:'));
  assert.match(include, /node_modules\/node-api-headers\/include/);
  assert.doesNotMatch(include, /\.cmake-js/);
}

test('the addon was built against node-api-headers, with no Node headers fetched', () => {
  assertBuiltAgainstNodeApiHeaders(root);
});

test('the packed tarball installs into an empty project and receives a hot key there', (t) => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'keymux-pack-'));
  t.after(() => fs.rmSync(scratch, { recursive: true, force: true }));

  const [packed] = JSON.parse(
    execFileSync(npm, ['pack', '--json', '--pack-destination', scratch], { cwd: root, encoding: 'utf8' }),
  );
  const files = packed.files.map((f) => f.path);
  for (const wanted of ['index.d.ts', 'lib/index.js', 'lib/keys.json', 'include/keymux/keymux.h', 'build/Release/keymux.node', 'build/Release/libkeymux_native.so.1'])
    assert.ok(files.includes(wanted), `tarball lacks ${wanted}`);
  assert.ok(!files.some((f) => f.startsWith('test/') || f.startsWith('node_modules/')), 'tarball carries tests or modules');

  const project = path.join(scratch, 'app');
  fs.mkdirSync(project);
  fs.writeFileSync(path.join(project, 'package.json'), JSON.stringify({ name: 'app', version: '1.0.0', private: true }));
  execFileSync(npm, ['install', '--no-audit', '--no-fund', '--prefer-offline', path.join(scratch, packed.filename)], {
    cwd: project,
    stdio: 'inherit',
  });
  const installed = path.join(project, 'node_modules', 'keymux');
  assert.ok(!fs.existsSync(path.join(installed, 'build', 'CMakeCache.txt')), 'the install rebuilt the addon');

  fs.writeFileSync(
    path.join(project, 'main.js'),
    `const { Keymux } = require('keymux');
     const { execFileSync } = require('node:child_process');
     const km = Keymux.create();
     const got = [];
     km.on('hotkey', (e) => {
       got.push(e.id + ':' + e.down);
       if (got.length === 2) km.close().then(() => console.log(JSON.stringify({ got, library: Keymux.libraryPath })));
     });
     km.applyHotkeys([{ id: 42, accelerator: 'CmdOrCtrl+Shift+K' }]).then(() => execFileSync('xdotool', ['key', 'ctrl+shift+k']));`,
  );
  const env = { ...process.env };
  delete env.KEYMUX_LIBRARY;
  const main = () => {
    const run = spawnSync(process.execPath, ['main.js'], { cwd: project, env, encoding: 'utf8', timeout: 60000 });
    assert.equal(run.status, 0, run.stderr);
    const result = JSON.parse(run.stdout);
    assert.deepEqual(result.got, ['42:true', '42:false']);
    assert.equal(result.library, path.join(installed, 'build', 'Release', 'libkeymux_native.so.1'));
  };
  main();

  // Without a usable addon the install script rebuilds it there, outside the
  // source tree, from the header the package carries.
  fs.rmSync(path.join(installed, 'build', 'Release', 'keymux.node'));
  execFileSync(process.execPath, ['scripts/install.js'], { cwd: installed, stdio: 'inherit' });
  assertBuiltAgainstNodeApiHeaders(installed);
  main();
});
