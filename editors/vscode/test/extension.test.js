'use strict';
// What the grammar files cannot say for themselves: that the grammar knows the interpreter's
// keywords, that the problem matcher reads the checker's lines, and that the task looks for
// Varnolt.exe where the MSI puts it.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const { findVarnolt } = require('../locate');

const root = path.join(__dirname, '..', '..', '..');
const manifest = JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'package.json'), 'utf8'));
const grammar = JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'syntaxes', 'varnolt.tmLanguage.json'), 'utf8'));

test('the grammar colours exactly the keywords of the interpreter\'s table, and the samples assert each', () => {
  const wiring = fs.readFileSync(path.join(root, 'app', 'wiring.cpp'), 'utf8');
  const table = wiring.slice(wiring.indexOf('KEYWORD_TABLE[]'), wiring.indexOf('};', wiring.indexOf('KEYWORD_TABLE[]')));
  const interpreter = new Set([...table.matchAll(/\{L"([A-Z]{4})"/g)].map(m => m[1]));
  assert.strictEqual(interpreter.size, 29);
  const rules = ['ifex', 'else', 'batc', 'label', 'keyword-command'].map(name => grammar.repository[name]);
  const coloured = new Set(rules.flatMap(rule => [...(rule.begin || rule.match).matchAll(/[A-Z]{4}/g)].map(m => m[0])));
  assert.deepStrictEqual([...coloured].sort(), [...interpreter].sort());
  const samples = fs.readFileSync(path.join(__dirname, 'keywords.vrs'), 'utf8');
  for (const keyword of interpreter)
    assert.match(samples, new RegExp(`^${keyword} x\\n; <---- keyword`, 'm'), keyword);
});

test('the problem matcher reads the checker\'s findings', () => {
  const pattern = manifest.contributes.problemMatchers[0].pattern;
  const regexp = new RegExp(pattern.regexp);
  const rows = [
    ['C:\\Scripts\\setup.vrs(12,5): error VR0101: unknown keyword FOOO',
     {file: 'C:\\Scripts\\setup.vrs', line: '12', column: '5', severity: 'error', code: 'VR0101',
      message: 'unknown keyword FOOO'}],
    ['C:\\My (old) scripts\\a.vrs(3,1): warning VR2001: label (x) not found: GOTO x',
     {file: 'C:\\My (old) scripts\\a.vrs', line: '3', column: '1', severity: 'warning', code: 'VR2001',
      message: 'label (x) not found: GOTO x'}],
    ['setup.vrs(1,1): error VR0001:', {file: 'setup.vrs', line: '1', column: '1', severity: 'error',
                                       code: 'VR0001', message: ''}],
    ['2 errors, 1 warning', null],
    ['setup.vrs(1,1): note VR0001: not a finding', null],
    ['setup.vrs(1): error VR0001: no column', null],
  ];
  for (const [line, expected] of rows) {
    const m = regexp.exec(line);
    if (!expected) {
      assert.strictEqual(m, null, line);
      continue;
    }
    assert.ok(m, line);
    const got = Object.fromEntries(Object.keys(expected).map(key => [key, m[pattern[key]]]));
    assert.deepStrictEqual(got, expected);
  }
});

test('the task runs the Varnolt.exe of the setting, else of the MSI\'s folders, else of the PATH', () => {
  // The folder the per-user package installs into, as packaging/varnolt.wxs names it.
  const wxs = fs.readFileSync(path.join(root, 'packaging', 'varnolt.wxs'), 'utf8');
  assert.match(wxs, /<Directory Id="LocalAppDataFolder">\s*<Directory Id="UserProgramsFolder" Name="Programs">\s*<Directory Id="INSTALLDIR" Name="Varnolt">/);
  assert.match(wxs, /Property="INSTALLDIR" Value="\[ProgramFiles64Folder\]Varnolt\\"/);
  const env = {LOCALAPPDATA: 'C:\\Users\\ana\\AppData\\Local', ProgramFiles: 'C:\\Program Files'};
  const user = 'C:\\Users\\ana\\AppData\\Local\\Programs\\Varnolt\\Varnolt.exe';
  const machine = 'C:\\Program Files\\Varnolt\\Varnolt.exe';
  const rows = [
    [' D:\\tools\\Varnolt.exe ', [user, machine], 'D:\\tools\\Varnolt.exe'],
    ['', [user, machine], user],
    ['', [machine], machine],
    ['', [], 'Varnolt.exe'],
  ];
  for (const [configured, present, expected] of rows)
    assert.strictEqual(findVarnolt(configured, env, candidate => present.includes(candidate)), expected);
});
