'use strict';
// The compiled addon, re-exported unchanged.
const addon = require('../build-addon/Release/vorlix.node');

module.exports = {
  parse: addon.parse,
  parseBytes: addon.parseBytes,
};
