'use strict';
// On macOS, Carbon delivers hot keys only while the main thread runs its
// event loop. Electron and AppKit hosts do; in plain Node libuv owns the main
// thread, so while hot keys are registered a libuv timer runs Carbon's loop
// once, without waiting, every PUMP_INTERVAL_MS. Elsewhere the library has no
// Carbon and the first pump turns the timer off for good.
const { isMainThread } = require('node:worker_threads');

const PUMP_INTERVAL_MS = 10;

class EventPump {
  constructor(native, versions = process.versions) {
    this._native = native;
    // Carbon's application events go to the process's main thread only.
    this._usable = isMainThread && !versions.electron;
    this._timer = null;
    this._referenced = true;
  }

  get running() {
    return this._timer !== null;
  }

  // Pumps while wanted (hot keys registered) and the library has Carbon.
  want(wanted) {
    if (!wanted || !this._usable) {
      this.stop();
      return;
    }
    if (this._timer !== null) return;
    if (!this._native.pumpEvents()) {
      this._usable = false;
      return;
    }
    this._timer = setInterval(() => this._native.pumpEvents(), PUMP_INTERVAL_MS);
    if (!this._referenced) this._timer.unref();
  }

  stop() {
    if (this._timer === null) return;
    clearInterval(this._timer);
    this._timer = null;
  }

  ref() {
    this._referenced = true;
    if (this._timer !== null) this._timer.ref();
  }

  unref() {
    this._referenced = false;
    if (this._timer !== null) this._timer.unref();
  }
}

module.exports = { EventPump, PUMP_INTERVAL_MS };
