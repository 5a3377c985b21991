'use strict';
// Finds keymux_native: KEYMUX_LIBRARY, then the copy inside this package,
// then the system's search path.
const fs = require('node:fs');
const path = require('node:path');
const { KeymuxError } = require('./errors');

const SYSTEM_NAMES = { darwin: 'libkeymux_native.dylib', win32: 'keymux_native.dll' };

function systemName(platform = process.platform) {
  return SYSTEM_NAMES[platform] || 'libkeymux_native.so.1';
}

function candidates(env = process.env) {
  if (env.KEYMUX_LIBRARY) return [{ where: 'KEYMUX_LIBRARY', path: env.KEYMUX_LIBRARY }];
  const list = [];
  const bundled = path.join(__dirname, '..', 'build', 'Release', systemName());
  if (fs.existsSync(bundled)) list.push({ where: 'package copy', path: bundled });
  list.push({ where: 'system search path', path: systemName() });
  return list;
}

// Loads the first candidate that opens and matches; throws a KeymuxError
// naming every candidate tried otherwise.
function loadLibrary(native, env = process.env) {
  const loaded = native.loadedLibrary();
  if (loaded !== null) return loaded;
  const tried = [];
  let mismatch = false;
  for (const candidate of candidates(env)) {
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

module.exports = { loadLibrary, candidates, systemName };
