'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { windows } = require('./helpers');

const root = path.join(__dirname, '..');

// A PATH with node, npm and xdotool and nothing else: no compiler, no CMake.
function barePath(dir) {
  const bin = path.join(dir, 'bin');
  fs.mkdirSync(bin);
  const where = (name) => fs.realpathSync(execFileSync('/bin/sh', ['-c', `command -v ${name}`], { encoding: 'utf8' }).trim());
  fs.symlinkSync(process.execPath, path.join(bin, 'node'));
  fs.symlinkSync(where('npm'), path.join(bin, 'npm'));
  fs.symlinkSync(where('xdotool'), path.join(bin, 'xdotool'));
  const found = spawnSync('/bin/sh', ['-c', 'command -v cc gcc g++ c++ clang cmake make ninja'], {
    env: { PATH: bin },
    encoding: 'utf8',
  });
  assert.equal(found.stdout, '', 'a build tool is on the bare PATH');
  return bin;
}

// The host program of the installed package, CommonJS or ESM: receives one
// hot key, typed by another X client, and prints what it got.
const HOST = {
  'main.cjs': `const { Keymux } = require('keymux');`,
  'main.mjs': `import { Keymux } from 'keymux';`,
};
const HOST_BODY = `
  const { execFileSync } = require('node:child_process');
  const km = Keymux.create();
  const got = [];
  km.on('hotkey', (e) => {
    got.push(e.id + ':' + e.down);
    if (got.length === 2) km.close().then(() => console.log(JSON.stringify({ got, library: Keymux.libraryPath })));
  });
  km.applyHotkeys([{ id: 42, accelerator: 'CmdOrCtrl+Shift+K' }]).then(() => execFileSync('xdotool', ['key', 'ctrl+shift+k']));`;

function writeHosts(dir) {
  fs.writeFileSync(path.join(dir, 'main.cjs'), HOST['main.cjs'] + HOST_BODY);
  fs.writeFileSync(
    path.join(dir, 'main.mjs'),
    `${HOST['main.mjs']}\nimport { createRequire } from 'node:module';\nconst require = createRequire(import.meta.url);${HOST_BODY}`,
  );
}

function runNode(cwd, env, args) {
  const run = spawnSync('node', args, { cwd, env, encoding: 'utf8', timeout: 60000 });
  assert.equal(run.status, 0, `${args.join(' ')}: ${run.stderr}`);
  return JSON.parse(run.stdout);
}

test('the packed tarball installs with no compiler and no scripts, and receives a hot key', { skip: windows && 'packed and installed on Linux' }, () => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'keymux-pack-'));
  try {
    const [packed] = JSON.parse(
      execFileSync('npm', ['pack', '--json', '--pack-destination', scratch], { cwd: root, encoding: 'utf8' }),
    );
    const files = packed.files.map((f) => f.path);
    for (const wanted of [
      'prebuilds/linux-x64/keymux.napi.node',
      'prebuilds/linux-x64/libkeymux_native.so.1',
      'prebuilds/win32-x64/keymux.napi.node',
      'prebuilds/win32-x64/keymux_native.dll',
      'index.d.ts',
      'lib/index.js',
      'lib/index.mjs',
      'lib/keys.json',
      'include/keymux/keymux.h',
      'scripts/build-from-source.js',
    ])
      assert.ok(files.includes(wanted), `tarball lacks ${wanted}`);
    for (const unwanted of ['test/', 'node_modules/', 'build/'])
      assert.ok(!files.some((f) => f.startsWith(unwanted)), `tarball carries ${unwanted}`);

    const bin = barePath(scratch);
    const env = { ...process.env, PATH: bin };
    delete env.KEYMUX_LIBRARY;
    const project = path.join(scratch, 'app');
    fs.mkdirSync(project);
    fs.writeFileSync(path.join(project, 'package.json'), JSON.stringify({ name: 'app', version: '1.0.0', private: true }));
    execFileSync(
      'npm',
      ['install', '--ignore-scripts', '--no-audit', '--no-fund', '--prefer-offline', path.join(scratch, packed.filename)],
      { cwd: project, env, stdio: 'inherit' },
    );
    // Nothing but the package itself: its build tools are not installed.
    assert.deepEqual(fs.readdirSync(path.join(project, 'node_modules')).filter((f) => !f.startsWith('.')), ['keymux']);
    const installed = path.join(project, 'node_modules', 'keymux');
    const manifest = JSON.parse(fs.readFileSync(path.join(installed, 'package.json'), 'utf8'));
    assert.equal(manifest.scripts.install, undefined);
    assert.equal(manifest.dependencies, undefined);

    writeHosts(project);
    const library = path.join(installed, 'prebuilds', 'linux-x64', 'libkeymux_native.so.1');
    for (const host of ['main.cjs', 'main.mjs'])
      assert.deepEqual(runNode(project, env, [host]), { got: ['42:true', '42:false'], library }, host);

    // As Electron lays the package out: code inside app.asar, the binaries
    // only in app.asar.unpacked.
    const resources = path.join(scratch, 'resources');
    const asar = path.join(resources, 'app.asar');
    fs.cpSync(project, asar, { recursive: true, filter: (f) => !f.includes(`${path.sep}prebuilds`) });
    fs.cpSync(path.join(installed, 'prebuilds'), path.join(resources, 'app.asar.unpacked', 'node_modules', 'keymux', 'prebuilds'), {
      recursive: true,
    });
    const unpackedLibrary = path.join(resources, 'app.asar.unpacked', 'node_modules', 'keymux', 'prebuilds', 'linux-x64', 'libkeymux_native.so.1');
    assert.deepEqual(runNode(asar, env, ['main.cjs']), { got: ['42:true', '42:false'], library: unpackedLibrary });

    // No binary for the platform, or one for another: a KeymuxError that
    // says what was tried, at create() and not at require().
    const attempt = (prelude) =>
      runNode(project, env, [
        '-e',
        `${prelude}; const { Keymux } = require('keymux');
         try { Keymux.create(); } catch (e) { console.log(JSON.stringify({ name: e.name, code: e.code, message: e.message, tried: e.tried })); }`,
      ]);
    const freebsd = attempt(`Object.defineProperty(process, 'platform', { value: 'freebsd' })`);
    assert.equal(freebsd.name, 'KeymuxError');
    assert.equal(freebsd.code, 'LIBRARY_NOT_FOUND');
    assert.match(freebsd.message, /no addon that loads on freebsd-x64/);
    assert.deepEqual(freebsd.tried, [
      `${path.join(installed, 'prebuilds', 'freebsd-x64', 'keymux.napi.node')} (prebuild for freebsd-x64): not present`,
      `${path.join(installed, 'build', 'Release', 'keymux.node')} (build from source): not present`,
    ]);
    fs.copyFileSync(path.join(installed, 'prebuilds', 'win32-x64', 'keymux.napi.node'), path.join(installed, 'prebuilds', 'linux-x64', 'keymux.napi.node'));
    const foreign = attempt('');
    assert.equal(foreign.code, 'LIBRARY_NOT_FOUND');
    assert.match(foreign.tried[0], /prebuild for linux-x64\): .*invalid ELF header/);

    // Where no prebuild loads, a build from source in the installed package
    // (the addon only, from the header it carries) is taken next.
    execFileSync(
      'npm',
      ['install', '--no-save', '--no-audit', '--no-fund', '--prefer-offline', '--ignore-scripts', 'cmake-js@^8', 'node-addon-api@^8.5', 'node-api-headers@^1.5'],
      { cwd: installed, stdio: 'inherit' },
    );
    execFileSync('npm', ['run', 'build-from-source'], { cwd: installed, stdio: 'inherit' });
    assert.ok(!fs.existsSync(path.join(installed, 'build', 'Release', 'libkeymux_native.so.1')), 'the library was built');
    const built = runNode(project, { ...env, KEYMUX_LIBRARY: library }, [
      '-e',
      `const { Keymux } = require('keymux'); const km = Keymux.create();
       km.close().then(() => console.log(JSON.stringify({ backend: km.backend, library: Keymux.libraryPath })));`,
    ]);
    assert.deepEqual(built, { backend: 'x11', library });
  } finally {
    fs.rmSync(scratch, { recursive: true, force: true });
  }
});
