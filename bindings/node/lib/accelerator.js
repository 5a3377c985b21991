'use strict';
// Accelerator text for sendChord, read the way the Windows and X11 hot-key
// registrars read it, so that one text names the same keys in both calls:
// pieces separated by "+"; a single piece is a key name taken as is; with
// several, each is trimmed, modifier words come first and one key last.
const { KeymuxError } = require('./errors');
const table = require('./keys.json');

const CONTROL = 0xe0;
const SHIFT = 0xe1;
const ALT = 0xe2;
const META = 0xe3;

function modifierWords(platform) {
  // CmdOrCtrl is Command on macOS and Control elsewhere.
  const cmdOrCtrl = platform === 'darwin' ? META : CONTROL;
  return new Map([
    ['ALT', ALT], ['OPTION', ALT],
    ['CTRL', CONTROL], ['CONTROL', CONTROL],
    ['CMDORCTRL', cmdOrCtrl], ['CMDORCONTROL', cmdOrCtrl], ['COMMANDORCTRL', cmdOrCtrl], ['COMMANDORCONTROL', cmdOrCtrl],
    ['SHIFT', SHIFT],
    ['SUPER', META], ['CMD', META], ['COMMAND', META], ['META', META],
  ]);
}

// Short forms and punctuation beyond the key names.
const ALIASES = new Map(Object.entries({
  '-': 'Minus', '=': 'Equal', '[': 'BracketLeft', ']': 'BracketRight', '\\': 'Backslash', ';': 'Semicolon',
  "'": 'Quote', '`': 'Backquote', ',': 'Comma', '.': 'Period', '/': 'Slash', UP: 'ArrowUp', DOWN: 'ArrowDown',
  LEFT: 'ArrowLeft', RIGHT: 'ArrowRight', ESC: 'Escape', RETURN: 'Enter', DEL: 'Delete', INS: 'Insert',
  PGUP: 'PageUp', PGDN: 'PageDown', CAPS: 'CapsLock', NUM0: 'Numpad0', NUM1: 'Numpad1', NUM2: 'Numpad2',
  NUM3: 'Numpad3', NUM4: 'Numpad4', NUM5: 'Numpad5', NUM6: 'Numpad6', NUM7: 'Numpad7', NUM8: 'Numpad8',
  NUM9: 'Numpad9', NUMADD: 'NumpadAdd', NUMSUBTRACT: 'NumpadSubtract', NUMMULTIPLY: 'NumpadMultiply',
  NUMDIVIDE: 'NumpadDivide', NUMDECIMAL: 'NumpadDecimal', NUMENTER: 'NumpadEnter', PRINTSCR: 'PrintScreen',
  BACK: 'Backspace', SPACEBAR: 'Space',
}));

// Key names by upper-case name; modifiers are words here, not keys.
const KEYS = new Map(
  Object.entries(table.keys)
    .filter(([, usage]) => usage < 0xe0)
    .map(([name, usage]) => [upper(name), usage]),
);

function upper(text) {
  return text.replace(/[a-z]/g, (c) => c.toUpperCase());
}

function keyUsage(name) {
  if (name.length === 1) {
    const c = upper(name);
    if (c >= 'A' && c <= 'Z') return 0x04 + c.charCodeAt(0) - 65;
    if (c >= '1' && c <= '9') return 0x1e + c.charCodeAt(0) - 49;
    if (c === '0') return 0x27;
  }
  const u = upper(name);
  const usage = KEYS.get(u) ?? KEYS.get(upper(ALIASES.get(u) ?? ''));
  return usage ?? 0;
}

function invalid(accelerator, reason) {
  return new KeymuxError('INVALID_ARGUMENT', 1, `invalid argument: ${accelerator}: ${reason}`);
}

// { modifiers: usages, key: usage } of an accelerator; throws KeymuxError
// INVALID_ARGUMENT with the registrars' texts.
function parseAccelerator(text, platform = process.platform) {
  if (!text.includes('+')) {
    const key = keyUsage(text);
    if (key === 0) throw invalid(text, `unrecognised key "${text}"`);
    return { modifiers: [], key };
  }
  const words = modifierWords(platform);
  const modifiers = new Set();
  let key = 0;
  for (const raw of text.split('+')) {
    const piece = raw.replace(/^\p{White_Space}+|\p{White_Space}+$/gu, '');
    if (piece === '') throw invalid(text, 'empty token between "+" separators');
    if (key !== 0) throw invalid(text, `invalid format: "${piece}" follows the key; the key comes last`);
    const modifier = words.get(upper(piece));
    if (modifier !== undefined) {
      modifiers.add(modifier);
    } else {
      key = keyUsage(piece);
      if (key === 0) throw invalid(text, `unrecognised key "${piece}"`);
    }
  }
  if (key === 0) throw invalid(text, 'invalid format: no key, only modifiers');
  return { modifiers: [...modifiers].sort(), key };
}

module.exports = { parseAccelerator };
