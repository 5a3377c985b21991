import { EventEmitter } from 'node:events';

export type KeymuxErrorCode =
  | 'INVALID_ARGUMENT'
  | 'BACKEND'
  | 'TIMEOUT'
  | 'CLOSED'
  | 'UNSUPPORTED'
  | 'ABI_MISMATCH'
  | 'DELIVERY_UNCERTAIN'
  | 'NOT_DELIVERED'
  | 'LIBRARY_NOT_FOUND';

export class KeymuxError extends Error {
  readonly name: 'KeymuxError';
  readonly code: KeymuxErrorCode;
  /** The library's status number; undefined for LIBRARY_NOT_FOUND. */
  readonly status: number | undefined;
  /** Loading errors: every file tried, with the reason it failed. */
  readonly tried?: string[];
  /** LIBRARY_NOT_FOUND for want of an addon: the platform and architecture looked for. */
  readonly platform?: string;
  readonly arch?: string;
}

/** A KeyboardEvent.code name, e.g. 'KeyA', 'F5', 'ControlLeft'. */
export type KeyName = string;
export type RawInput = 'keys' | 'buttons' | 'drag';
export type ModifierRole = 'control' | 'shift' | 'alt' | 'meta' | null;

export interface Hotkey {
  /** Non-negative safe integer or bigint below 2^64; reported back in events. */
  id: number | bigint;
  /** e.g. 'CmdOrCtrl+Shift+K' */
  accelerator: string;
  description?: string;
}

export interface HotkeyEvent {
  /** The id as registered (number or bigint). */
  id: number | bigint;
  down: boolean;
  /** Microseconds since the process's first event, plus 1. */
  timestamp: number;
}

export interface KeyEvent {
  /** null when the native code has no portable name. */
  code: KeyName | null;
  nativeCode: number;
  down: boolean;
  modifier: ModifierRole;
  synthetic: boolean;
  autorepeat: boolean;
  selfInjected: boolean;
  timestamp: number;
}

export interface ButtonEvent {
  button: 'left' | 'right' | 'middle' | 'other';
  down: boolean;
  x: number;
  y: number;
  synthetic: boolean;
  timestamp: number;
}

export interface MotionEvent {
  x: number;
  y: number;
  synthetic: boolean;
  timestamp: number;
}

/** The backend a runtime drives. */
export type BackendName = 'x11' | 'wayland-portal' | 'win32' | 'macos-carbon-coregraphics';

/** The modifier names a chord may hold. */
export type ModifierName =
  | 'ControlLeft' | 'ShiftLeft' | 'AltLeft' | 'MetaLeft'
  | 'ControlRight' | 'ShiftRight' | 'AltRight' | 'MetaRight'
  | 'LeftControl' | 'LeftShift' | 'LeftAlt' | 'LeftMeta'
  | 'RightControl' | 'RightShift' | 'RightAlt' | 'RightMeta';

/** Up to four modifiers: the library's chord limit. */
export type ChordModifiers =
  | []
  | [ModifierName]
  | [ModifierName, ModifierName]
  | [ModifierName, ModifierName, ModifierName]
  | [ModifierName, ModifierName, ModifierName, ModifierName];

export interface CreateOptions {
  raw?: RawInput[];
}

export class Keymux extends EventEmitter {
  /** Loads keymux_native and starts the process's one runtime. Throws KeymuxError. */
  static create(options?: CreateOptions): Keymux;
  /** The loaded library's path, or null before the first create. */
  static readonly libraryPath: string | null;
  static readonly keyNames: KeyName[];

  readonly backend: BackendName;
  readonly capabilities: number;
  /** True once close() was called or the backend stopped on its own. */
  readonly closed: boolean;

  /** Replaces every hot key, all or nothing; may wait up to 45 s. */
  applyHotkeys(hotkeys: Hotkey[]): Promise<void>;
  /** Accelerators the last apply could not release. */
  applyLeftovers(): string[];
  /** May wait up to 5 s. */
  setRawMask(raw: RawInput[]): Promise<void>;
  /**
   * Types key while holding the modifiers (at most 4; more throw KeymuxError
   * INVALID_ARGUMENT "invalid argument: at most 4 chord modifiers").
   */
  sendChord(modifiers: ChordModifiers, key: KeyName): void;
  /**
   * Types the chord an accelerator names, read as applyHotkeys reads it
   * ('CmdOrCtrl+V': Command on macOS, Control elsewhere).
   */
  sendChord(accelerator: string): void;
  isKeyDown(key: KeyName): boolean;
  areKeysDown(keys: KeyName[]): boolean[];
  /** Stops and frees the runtime; idempotent. Events taken before are still emitted. */
  close(): Promise<void>;
  /** Lets the process exit while the runtime is open. */
  unref(): this;
  ref(): this;

  on(event: 'hotkey', listener: (e: HotkeyEvent) => void): this;
  on(event: 'key', listener: (e: KeyEvent) => void): this;
  on(event: 'button', listener: (e: ButtonEvent) => void): this;
  on(event: 'motion', listener: (e: MotionEvent) => void): this;
  /**
   * The event source ended: after close(), or when the backend stopped on its
   * own, and then with the error that 'error' carries.
   */
  on(event: 'close', listener: (error?: KeymuxError) => void): this;
  /** The backend stopped on its own (code 'CLOSED'; the library writes the reason to standard error). */
  on(event: 'error', listener: (error: KeymuxError) => void): this;
  once(event: 'hotkey', listener: (e: HotkeyEvent) => void): this;
  once(event: 'key', listener: (e: KeyEvent) => void): this;
  once(event: 'button', listener: (e: ButtonEvent) => void): this;
  once(event: 'motion', listener: (e: MotionEvent) => void): this;
  once(event: 'close', listener: (error?: KeymuxError) => void): this;
  once(event: 'error', listener: (error: KeymuxError) => void): this;
}
