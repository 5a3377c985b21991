'use strict';
// Key names (KeyboardEvent.code) and the native codes of key events, from
// the library's key table (keys.json is generated from it).
const table = require('./keys.json');

const USAGES = new Map(Object.entries(table.keys));
for (const [alias, usage] of Object.entries(table.aliases)) USAGES.set(alias, usage);
const NAMES = new Map(Object.entries(table.keys).map(([name, usage]) => [usage, name]));

function usageOf(name, what) {
  if (typeof name !== 'string') throw new TypeError(`${what} must be a key name string, got ${typeof name}`);
  const usage = USAGES.get(name);
  if (usage === undefined) throw new RangeError(`${what}: unknown key name ${JSON.stringify(name)}`);
  return usage;
}

function isModifierUsage(usage) {
  return usage >= 0xe0 && usage <= 0xe7;
}

// The key name of a key event's native code on the given backend, or null.
function nameForNative(backend, nativeCode) {
  const codes = table.native[backend];
  return (codes && codes[nativeCode]) || null;
}

module.exports = { usageOf, isModifierUsage, nameForNative, keyNames: () => [...NAMES.values()] };
