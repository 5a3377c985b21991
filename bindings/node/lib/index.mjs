// ES module entry: the same objects as require('keymux').
import keymux from './index.js';

export const { Keymux, KeymuxError } = keymux;
export default keymux;
