#!/usr/bin/env python3
"""The editor extension: its own tests (the grammar on the annotated scripts of
editors/vscode/test/ with vscode-tmgrammar-test, and node's checks), then the .vsix that make
dist packs, which must hold every file its manifest names, at the release's version.

    check_editor.py <source folder>
"""
import json, os, subprocess, sys, tempfile, zipfile

SOURCE = os.path.abspath(sys.argv[1])
EXTENSION = os.path.join(SOURCE, "editors", "vscode")


def referenced_files(manifest):
    contributes = manifest["contributes"]
    paths = [manifest["main"]]
    paths += [language["configuration"] for language in contributes["languages"]]
    paths += [entry["path"] for entry in contributes["grammars"] + contributes["snippets"]]
    return {os.path.normpath(path).replace(os.sep, "/") for path in paths}


def main():
    if not os.path.isdir(os.path.join(EXTENSION, "node_modules")):
        sys.exit("editors/vscode/node_modules is missing: run scripts/install-deps.sh")
    if subprocess.run(["npm", "test"], cwd=EXTENSION).returncode != 0:
        return 1
    failures = []
    with tempfile.TemporaryDirectory() as out:
        done = subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "make-dist.py"), "--out", out,
                               "--parts", "vsix"], capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit("make-dist failed:\n" + done.stdout + done.stderr)
        vsix = done.stdout.split()[0]
        with zipfile.ZipFile(vsix) as package:
            names = {name[len("extension/"):] for name in package.namelist() if name.startswith("extension/")}
            packed = json.loads(package.read("extension/package.json"))
        missing = referenced_files(packed) - names
        if missing:
            failures.append("the .vsix lacks what its manifest names: %s" % ", ".join(sorted(missing)))
        version = os.path.basename(vsix)[len("varnolt-"):-len(".vsix")]
        if packed["version"] != ".".join(version.split(".")[:3]):
            failures.append("the .vsix says version %s, the release is %s" % (packed["version"], version))
        stray = sorted(name for name in names if name.startswith(("node_modules/", "test/")))
        if stray:
            failures.append("the .vsix carries %s" % ", ".join(stray[:5]))
    for failure in failures:
        print("FAIL  " + failure)
    print("%d failed" % len(failures) if failures else "the .vsix holds what its manifest names")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
