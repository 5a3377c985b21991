// npm run prebuild [-- target...]: builds the addon and keymux_native into
// prebuilds/<platform>-<arch>/, the layout of prebuildify and node-gyp-build:
//   keymux.napi.node          the Node-API addon (one build serves every Node
//                             and Electron with Node-API 8)
//   libkeymux_native.so.1 | keymux_native.dll | libkeymux_native.dylib
//
// Targets (default: this machine's, plus win32-x64 where mingw-w64 is found):
//   linux-x64     on Linux x64, with cmake-js
//   win32-x64     on Linux, cross-built with mingw-w64 and plain CMake; Node-API
//                 comes from a delay-load import library of node-api-headers'
//                 def file, resolved to the host executable at run time
//   darwin-x64, darwin-arm64
//                 on a Mac (Xcode command-line tools and CMake), with cmake-js;
//                 either architecture builds on either kind of Mac. Run
//                 `npm run prebuild -- darwin-x64 darwin-arm64` there and pack
//                 with the Linux and Windows folders copied in.
// KMX_JOBS bounds the build's parallelism (default 2).
'use strict';
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const source = path.join(root, '..', '..');
const jobs = String(process.env.KMX_JOBS || 2);
const LIBRARIES = { linux: 'libkeymux_native.so.1', win32: 'keymux_native.dll', darwin: 'libkeymux_native.dylib' };

function run(command, args, options = {}) {
  console.log(`prebuild: ${command} ${args.join(' ')}`);
  const result = spawnSync(command, args, { cwd: root, stdio: 'inherit', ...options });
  if (result.status !== 0) throw new Error(`${command} failed (${result.error ? result.error.message : `status ${result.status}`})`);
}

function has(command) {
  return spawnSync(command, ['--version'], { stdio: 'ignore' }).status === 0;
}

function place(target, builtDir) {
  const [platform] = target.split('-');
  const out = path.join(root, 'prebuilds', target);
  fs.rmSync(out, { recursive: true, force: true });
  fs.mkdirSync(out, { recursive: true });
  fs.copyFileSync(path.join(builtDir, 'keymux.node'), path.join(out, 'keymux.napi.node'));
  fs.copyFileSync(path.join(builtDir, LIBRARIES[platform]), path.join(out, LIBRARIES[platform]));
  console.log(`prebuild: ${target} -> ${path.relative(root, out)}`);
}

function cmakeJs(target) {
  const [, arch] = target.split('-');
  const out = path.join('build', `prebuild-${target}`);
  const cmakeJsBin = require.resolve('cmake-js/bin/cmake-js');
  // binary.napi_versions in package.json makes cmake-js build against
  // node-api-headers; no Node headers are fetched. Release, stripped.
  const args = [cmakeJsBin, 'compile', '--out', out, '--arch', arch, '--parallel', jobs, '--CDCMAKE_BUILD_TYPE=Release'];
  if (target.startsWith('linux-')) args.push('--CDCMAKE_SHARED_LINKER_FLAGS=-s');
  run(process.execPath, args);
  place(target, path.join(root, out, 'Release'));
}

function mingw(target) {
  const headers = path.dirname(require.resolve('node-api-headers/package.json'));
  const addonApi = require('node-addon-api').include_dir.replace(/^"|"$/g, '');
  const build = path.join(root, 'build', `prebuild-${target}`);
  run('cmake', [
    '-S', root, '-B', build, '-G', 'Ninja',
    '--toolchain', path.join(source, 'cmake', 'toolchains', 'mingw-w64.cmake'),
    '-DCMAKE_BUILD_TYPE=Release', '-DKMX_BACKEND=windows',
    `-DCMAKE_JS_INC=${path.join(headers, 'include')};${path.resolve(root, addonApi)}`,
    `-DNODE_API_DEF=${path.join(headers, 'def', 'node_api.def')}`,
    '-DCMAKE_SHARED_LINKER_FLAGS=-s',
  ]);
  run('cmake', ['--build', build, '-j', jobs, '--target', 'keymux_addon']);
  place(target, build);
}

const host = `${process.platform}-${process.arch}`;
let targets = process.argv.slice(2);
if (targets.length === 0) {
  targets = [host];
  if (process.platform === 'linux' && host !== 'win32-x64' && has('x86_64-w64-mingw32-g++-posix')) targets.push('win32-x64');
}
for (const target of targets) {
  if (target === 'win32-x64' && process.platform !== 'win32') mingw(target);
  else if (['linux-x64', 'linux-arm64', 'win32-x64', 'darwin-x64', 'darwin-arm64'].includes(target)) cmakeJs(target);
  else throw new Error(`prebuild: unknown target ${target}`);
}
