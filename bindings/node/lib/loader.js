'use strict';
// Finds the addon and keymux_native. The addon: the prebuild for this
// platform and architecture, then a build from source. The library:
// KEYMUX_LIBRARY alone when set, else the copy beside the addon, then the
// system's search path.
const fs = require('node:fs');
const path = require('node:path');
const { KeymuxError } = require('./errors');

const ROOT = path.join(__dirname, '..');
const SYSTEM_NAMES = { darwin: 'libkeymux_native.dylib', win32: 'keymux_native.dll' };

function systemName(platform = process.platform) {
  return SYSTEM_NAMES[platform] || 'libkeymux_native.so.1';
}

// Electron serves files inside app.asar from an archive that dlopen cannot
// read; packagers put native files beside it, in app.asar.unpacked.
function unpacked(file) {
  return file.replace(/([\\/])app\.asar(?=[\\/]|$)/, '$1app.asar.unpacked');
}

// The folders that may hold an addon, most wanted first.
function addonCandidates(platform = process.platform, arch = process.arch, root = ROOT) {
  const base = unpacked(root);
  return [
    { where: `prebuild for ${platform}-${arch}`, dir: path.join(base, 'prebuilds', `${platform}-${arch}`), file: 'keymux.napi.node' },
    { where: 'build from source', dir: path.join(base, 'build', 'Release'), file: 'keymux.node' },
  ];
}

function candidates(env = process.env, addonDir = addonCandidates()[0].dir) {
  if (env.KEYMUX_LIBRARY) return [{ where: 'KEYMUX_LIBRARY', path: env.KEYMUX_LIBRARY }];
  const list = [];
  const bundled = path.join(addonDir, systemName());
  if (fs.existsSync(bundled)) list.push({ where: 'package copy', path: bundled });
  list.push({ where: 'system search path', path: systemName() });
  return list;
}

let addon = null;

// The addon loaded in this process, or null before loadAddon.
function loadedAddon() {
  return addon;
}

// Requires the first addon that loads; throws LIBRARY_NOT_FOUND naming each
// one tried otherwise.
function loadAddon(platform = process.platform, arch = process.arch) {
  if (addon) return addon;
  const tried = [];
  for (const candidate of addonCandidates(platform, arch)) {
    const file = path.join(candidate.dir, candidate.file);
    if (!fs.existsSync(file)) {
      tried.push(`${file} (${candidate.where}): not present`);
      continue;
    }
    try {
      addon = { native: require(file), dir: candidate.dir };
      return addon;
    } catch (e) {
      tried.push(`${file} (${candidate.where}): ${String(e.message).split('\n')[0]}`);
    }
  }
  const lines = tried.map((t) => `  ${t}`).join('\n');
  throw new KeymuxError(
    'LIBRARY_NOT_FOUND',
    undefined,
    `keymux has no addon that loads on ${platform}-${arch} (prebuilds: linux-x64, win32-x64, darwin-x64, ` +
      `darwin-arm64 when built there; others: npm run build-from-source); tried:\n${lines}`,
    { tried, platform, arch },
  );
}

// Loads the first library candidate that opens and matches; throws a
// KeymuxError naming every candidate tried otherwise.
function loadLibrary(native, env = process.env, addonDir = addonCandidates()[0].dir) {
  const loaded = native.loadedLibrary();
  if (loaded !== null) return loaded;
  const tried = [];
  let mismatch = false;
  for (const candidate of candidates(env, addonDir)) {
    const { result, reason } = native.load(candidate.path);
    if (result === 'loaded') return candidate.path;
    if (result === 'mismatch') mismatch = true;
    tried.push(`${candidate.path} (${candidate.where}): ${reason}`);
  }
  const lines = tried.map((t) => `  ${t}`).join('\n');
  if (mismatch) {
    throw new KeymuxError('ABI_MISMATCH', 6, `keymux_native does not match this package; tried:\n${lines}`, {
      tried,
    });
  }
  throw new KeymuxError('LIBRARY_NOT_FOUND', undefined, `keymux_native could not be loaded; tried:\n${lines}`, {
    tried,
  });
}

module.exports = { loadAddon, loadedAddon, loadLibrary, candidates, addonCandidates, systemName, unpacked };
