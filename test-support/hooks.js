'use strict';
// The addon's `__` test hooks are compiled only into developers' builds (VORLIX_TEST_HOOKS=ON,
// as scripts/build.sh builds); a user's build and the prebuilt binaries have none. A test that
// calls one is skipped, with `skipWithoutHooks` as the reason, on a build without them.
const addon = require('../lib/loader.js').loadAddon();

const skipWithoutHooks = Object.keys(addon).some((name) => name.startsWith('__')) ? false
  : 'the loaded addon has no test hooks (built without VORLIX_TEST_HOOKS)';

module.exports = { addon, skipWithoutHooks };
