'use strict';
// The task "Varnolt: check": runs `Varnolt.exe /check <script>` and hands its output to the
// problem matcher $varnolt-check, so that the checker's findings show in the Problems view.
const fs = require('fs');
const vscode = require('vscode');
const { findVarnolt } = require('./locate');

const TASK_TYPE = 'varnolt';

function checkTask(definition, scope) {
  const configured = vscode.workspace.getConfiguration('varnolt').get('executablePath');
  const program = findVarnolt(configured, process.env, candidate => fs.existsSync(candidate));
  const execution = new vscode.ProcessExecution(program, ['/check', definition.file]);
  return new vscode.Task(definition, scope || vscode.TaskScope.Workspace, 'check', 'varnolt', execution,
                         '$varnolt-check');
}

function activate(context) {
  context.subscriptions.push(vscode.tasks.registerTaskProvider(TASK_TYPE, {
    provideTasks: () => [checkTask({ type: TASK_TYPE, file: '${file}' })],
    resolveTask: task => task.definition.file ? checkTask(task.definition, task.scope) : undefined,
  }));
}

function deactivate() {}

module.exports = { activate, deactivate };
