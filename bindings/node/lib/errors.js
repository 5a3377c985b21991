'use strict';

// Library status codes by name; the numbers are the C interface's.
const STATUS_CODES = Object.freeze({
  1: 'INVALID_ARGUMENT',
  2: 'BACKEND',
  3: 'TIMEOUT',
  4: 'CLOSED',
  5: 'UNSUPPORTED',
  6: 'ABI_MISMATCH',
  7: 'DELIVERY_UNCERTAIN',
  8: 'NOT_DELIVERED',
});

class KeymuxError extends Error {
  // status: the library's status number (undefined when no library was
  // found); message: the library's last-error text.
  constructor(code, status, message, extra) {
    super(message);
    this.name = 'KeymuxError';
    this.code = code;
    this.status = status;
    if (extra) Object.assign(this, extra);
  }

  static fromStatus(status, message) {
    return new KeymuxError(STATUS_CODES[status] || `STATUS_${status}`, status, message || `keymux status ${status}`);
  }
}

module.exports = { KeymuxError, STATUS_CODES };
