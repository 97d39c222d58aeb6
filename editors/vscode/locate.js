'use strict';
// Where the check task finds Varnolt.exe. Kept apart from extension.js so that it runs
// without the editor (the tests call it with an environment and a file test of their own).
const path = require('path').win32;

// The setting when given; else the program the MSI installed, for this user first
// (%LOCALAPPDATA%\Programs\Varnolt) and then for all users (Program Files\Varnolt);
// else the bare name, for the PATH to resolve.
function findVarnolt(configured, env, exists) {
  if (configured && configured.trim())
    return configured.trim();
  const candidates = [];
  if (env.LOCALAPPDATA)
    candidates.push(path.join(env.LOCALAPPDATA, 'Programs', 'Varnolt', 'Varnolt.exe'));
  for (const programFiles of [env.ProgramW6432, env.ProgramFiles])
    if (programFiles)
      candidates.push(path.join(programFiles, 'Varnolt', 'Varnolt.exe'));
  return candidates.find(candidate => exists(candidate)) || 'Varnolt.exe';
}

module.exports = { findVarnolt };
