'use strict';
const { EventEmitter } = require('node:events');
const { KeymuxError } = require('./errors');
const { loadAddon, loadedAddon, loadLibrary } = require('./loader');
const { usageOf, isModifierUsage, keyNames } = require('./keys');
const { parseAccelerator } = require('./accelerator');
const { decode } = require('./decode');
const { EventPump } = require('./event_pump');

// The addon is loaded by the first create(), so that requiring the package
// never fails and a missing binary is a KeymuxError the host can catch.
function addon() {
  const first = loadedAddon() === null;
  const loaded = loadAddon();
  if (first) loaded.native.setErrorFactory((status, message) => KeymuxError.fromStatus(status, message));
  return loaded;
}

const RAW_BITS = { keys: 0x1, buttons: 0x2, drag: 0x4 };
const MAX_ID = (1n << 64n) - 1n;
// The library's chord limit, checked here with its text.
const MAX_MODIFIERS = 4;
const CREATE_TOKEN = Symbol('create');
// The library's text for a closed runtime, and why it closed.
const STOPPED_ON_ITS_OWN = 'runtime is closed: the backend stopped on its own';

function rawMask(kinds, what) {
  if (!Array.isArray(kinds)) throw new TypeError(`${what} must be an array of 'keys', 'buttons' or 'drag'`);
  let mask = 0;
  for (const kind of kinds) {
    if (typeof kind !== 'string') throw new TypeError(`${what} entries must be strings`);
    const bit = RAW_BITS[kind];
    if (bit === undefined) throw new RangeError(`${what}: unknown raw input kind ${JSON.stringify(kind)}`);
    mask |= bit;
  }
  return mask;
}

function shortcutId(id, at) {
  if (typeof id === 'bigint') {
    if (id < 0n || id > MAX_ID) throw new RangeError(`hotkeys[${at}].id must fit in 64 unsigned bits`);
    return id;
  }
  if (typeof id !== 'number') throw new TypeError(`hotkeys[${at}].id must be a number or a bigint`);
  if (!Number.isSafeInteger(id) || id < 0) throw new RangeError(`hotkeys[${at}].id must be a non-negative safe integer`);
  return BigInt(id);
}

function text(value, what) {
  if (typeof value !== 'string') throw new TypeError(`${what} must be a string`);
  if (value.includes('\0')) throw new RangeError(`${what} must not contain NUL`);
  return value;
}

class Keymux extends EventEmitter {
  // Keymux.create({ raw: ['keys', 'buttons', 'drag'] }) loads the library
  // and starts the process's one runtime; throws KeymuxError.
  static create(options = {}) {
    if (options === null || typeof options !== 'object') throw new TypeError('options must be an object');
    const mask = options.raw === undefined ? 0 : rawMask(options.raw, 'options.raw');
    const { native, dir } = addon();
    loadLibrary(native, process.env, dir);
    return new Keymux(CREATE_TOKEN, native, mask);
  }

  // The path of the loaded keymux_native, or null before the first create.
  static get libraryPath() {
    const loaded = loadedAddon();
    return loaded ? loaded.native.loadedLibrary() : null;
  }

  static get keyNames() {
    return keyNames();
  }

  constructor(token, native, mask) {
    if (token !== CREATE_TOKEN) throw new TypeError('use Keymux.create()');
    super();
    this._queue = [];
    this._draining = false;
    this._ended = false;
    this._closeEmitted = false;
    this._closing = null;
    this._ids = new Map();
    this._lastIds = [];
    this._stoppedOnItsOwn = false;
    this._native = new native.Runtime(mask, (records, ended) => this._receive(records, ended));
    this._backend = this._native.backend();
    this._pump = new EventPump(native);
    this._capabilities = Number(this._native.capabilities());
  }

  get backend() {
    return this._backend;
  }

  get capabilities() {
    return this._capabilities;
  }

  get closed() {
    return this._closing !== null;
  }

  // Makes the registered hot keys equal to the list, all or nothing.
  applyHotkeys(hotkeys) {
    if (!Array.isArray(hotkeys)) throw new TypeError('hotkeys must be an array');
    const ids = [];
    const accelerators = [];
    const descriptions = [];
    const values = [];
    hotkeys.forEach((hotkey, at) => {
      if (hotkey === null || typeof hotkey !== 'object') throw new TypeError(`hotkeys[${at}] must be an object`);
      ids.push(shortcutId(hotkey.id, at));
      values.push(hotkey.id);
      accelerators.push(text(hotkey.accelerator, `hotkeys[${at}].accelerator`));
      descriptions.push(hotkey.description === undefined ? '' : text(hotkey.description, `hotkeys[${at}].description`));
    });
    // Releases of the previous set may still come, so both lists name ids.
    const current = ids.map((id, at) => [id, values[at]]);
    this._ids = new Map([...this._lastIds, ...current]);
    this._lastIds = current;
    const applied = this._native.applyHotkeys(ids, accelerators, descriptions);
    if (!this.closed) this._pump.want(ids.length > 0);
    return applied;
  }

  // Accelerators the last apply could not release.
  applyLeftovers() {
    const all = this._native.applyLeftovers();
    return all === '' ? [] : all.split('\n');
  }

  setRawMask(kinds) {
    return this._native.setRawMask(rawMask(kinds, 'raw'));
  }

  // Types key while holding the modifiers (KeyboardEvent.code names), or
  // the chord an accelerator names: sendChord('CmdOrCtrl+V').
  sendChord(modifiers, key) {
    if (typeof modifiers === 'string' && key === undefined) {
      const chord = parseAccelerator(text(modifiers, 'accelerator'));
      this._native.sendChord(chord.modifiers, chord.key);
      return;
    }
    if (!Array.isArray(modifiers)) throw new TypeError('modifiers must be an array of key names or an accelerator');
    if (modifiers.length > MAX_MODIFIERS)
      throw new KeymuxError('INVALID_ARGUMENT', 1, `invalid argument: at most ${MAX_MODIFIERS} chord modifiers`);
    const usages = modifiers.map((name, at) => {
      const usage = usageOf(name, `modifiers[${at}]`);
      if (!isModifierUsage(usage)) throw new RangeError(`modifiers[${at}]: ${name} is not a modifier key`);
      return usage;
    });
    this._native.sendChord(usages, usageOf(key, 'key'));
  }

  isKeyDown(name) {
    return this._native.keysDown([usageOf(name, 'key')])[0];
  }

  areKeysDown(names) {
    if (!Array.isArray(names)) throw new TypeError('names must be an array of key names');
    return this._native.keysDown(names.map((name, at) => usageOf(name, `names[${at}]`)));
  }

  // Stops and frees the runtime; every event taken before is still emitted,
  // none after. Idempotent.
  close() {
    this._pump.stop();
    if (this._closing === null) this._closing = this._native.close();
    return this._closing;
  }

  // Lets the process exit while the runtime is open (freed on exit).
  unref() {
    this._native.unref();
    this._pump.unref();
    return this;
  }

  ref() {
    this._native.ref();
    this._pump.ref();
    return this;
  }

  _receive(records, ended) {
    for (const event of decode(records, this._backend, this._ids)) this._queue.push(event);
    if (ended) {
      this._ended = true;
      this._pump.stop();
      // Not asked for: the backend stopped (the library writes why to
      // standard error; its interface reports only the closed source). The
      // runtime is freed, and the host hears of it before 'close'.
      if (this._closing === null) {
        this._stoppedOnItsOwn = true;
        this._closing = this._native.close();
      }
    }
    this._drain();
  }

  _drain() {
    if (this._draining) return;
    this._draining = true;
    try {
      while (this._queue.length > 0) {
        const [kind, event] = this._queue.shift();
        this.emit(kind, event);
      }
      if (this._ended && !this._closeEmitted) {
        this._closeEmitted = true;
        // 'error' only when listened for: an unheard one would throw out of
        // the host's event loop.
        const error = this._stoppedOnItsOwn ? new KeymuxError('CLOSED', 4, STOPPED_ON_ITS_OWN) : undefined;
        if (error && this.listenerCount('error') > 0) this.emit('error', error);
        this.emit('close', error);
      }
    } finally {
      this._draining = false;
      // A listener threw: the rest still goes out, after the exception.
      if (this._queue.length > 0 || (this._ended && !this._closeEmitted)) setImmediate(() => this._drain());
    }
  }
}

module.exports = { Keymux, KeymuxError };
