'use strict';
// Finds the compiled addon: a local build (contributors, or a user's source build) first, then
// the prebuilt binary for this platform, architecture and C library. VORLIX_ADDON=/path/to/file
// loads that file alone (to compare builds side by side).
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');

// musl's dynamic loader is mapped into every process that runs on musl; /proc/self/maps is read
// instead of process.report, which takes milliseconds.
function runningLibc() {
  try {
    return /\/ld-musl-[^/\n]*$/m.test(fs.readFileSync('/proc/self/maps', 'latin1')) ? 'musl' : 'glibc';
  } catch {
    return process.report?.getReport?.().header?.glibcVersionRuntime ? 'glibc' : 'musl';
  }
}

/** The files to try, in order, with the name of the prebuilt binaries' folder. */
function candidates({ dir = root, env = process.env, platform = process.platform,
  arch = process.arch, libc = () => (platform === 'linux' ? runningLibc() : '') } = {}) {
  if (env.VORLIX_ADDON) return { target: 'VORLIX_ADDON', files: [path.resolve(env.VORLIX_ADDON)] };
  const kind = libc();
  const target = `${platform}-${arch}${kind === 'musl' ? '-musl' : ''}`;
  return {
    target,
    files: [
      path.join(dir, 'build-addon', 'Release', 'vorlix.node'),
      path.join(dir, 'prebuilds', target, 'vorlix.node'),
    ],
  };
}

/**
 * Loads the first file that loads; otherwise throws one Error that lists each file tried with
 * the reason it failed and the command that builds the addon from source.
 */
function loadAddon(options = {}) {
  const { target, files } = candidates(options);
  const tried = [];
  for (const file of files) {
    if (!fs.existsSync(file)) {
      tried.push(`  ${file}: not found`);
      continue;
    }
    try {
      return require(file);
    } catch (err) {
      tried.push(`  ${file}: ${String(err.message).split('\n')[0]}`);
    }
  }
  const dir = options.dir ?? root;
  throw new Error(
    `vorlix: no compiled addon loads for ${target}. Tried:\n${tried.join('\n')}\n` +
    'Build it from source (needs CMake, a C++20 compiler and the OpenSSL and libdeflate ' +
    `development files, e.g. Debian's libssl-dev and libdeflate-dev):\n` +
    `  cd ${JSON.stringify(dir)} && node scripts/install.js`);
}

module.exports = { loadAddon, candidates };
