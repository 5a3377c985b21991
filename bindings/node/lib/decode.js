'use strict';
// Turns the library's 56-byte event records into event objects.
const { nameForNative } = require('./keys');

const RECORD_SIZE = 56;
const KIND = { 1: 'hotkey', 2: 'key', 3: 'button', 4: 'motion' };
const MODIFIER = [null, 'control', 'shift', 'alt', 'meta'];
const BUTTON = { 1: 'left', 2: 'right', 3: 'middle', 255: 'other' };
const FLAG_SYNTHETIC = 0x1;
const FLAG_AUTOREPEAT = 0x2;
const FLAG_SELF_INJECTED = 0x4;

// ids: Map from bigint id to the value the host registered (number or bigint).
function decode(records, backend, ids) {
  const out = [];
  const view = new DataView(records.buffer, records.byteOffset, records.byteLength);
  for (let at = 0; at + RECORD_SIZE <= records.byteLength; at += RECORD_SIZE) {
    const kind = KIND[view.getUint32(at, true)];
    const flags = view.getUint32(at + 4, true);
    const down = view.getUint8(at + 24) === 1;
    const timestamp = Number(view.getBigUint64(at + 48, true));
    const synthetic = (flags & FLAG_SYNTHETIC) !== 0;
    let event;
    if (kind === 'hotkey') {
      const raw = view.getBigUint64(at + 8, true);
      let id = ids.get(raw);
      if (id === undefined) id = raw <= BigInt(Number.MAX_SAFE_INTEGER) ? Number(raw) : raw;
      event = { id, down, timestamp };
    } else if (kind === 'key') {
      const nativeCode = view.getUint32(at + 20, true);
      event = {
        code: nameForNative(backend, nativeCode),
        nativeCode,
        down,
        modifier: MODIFIER[view.getUint32(at + 16, true)] || null,
        synthetic,
        autorepeat: (flags & FLAG_AUTOREPEAT) !== 0,
        selfInjected: (flags & FLAG_SELF_INJECTED) !== 0,
        timestamp,
      };
    } else if (kind === 'button') {
      event = {
        button: BUTTON[view.getUint8(at + 25)] || 'other',
        down,
        x: view.getFloat64(at + 32, true),
        y: view.getFloat64(at + 40, true),
        synthetic,
        timestamp,
      };
    } else if (kind === 'motion') {
      event = { x: view.getFloat64(at + 32, true), y: view.getFloat64(at + 40, true), synthetic, timestamp };
    } else {
      continue;  // a kind this package does not know yet
    }
    out.push([kind, event]);
  }
  return out;
}

module.exports = { decode, RECORD_SIZE };
