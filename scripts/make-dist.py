#!/usr/bin/env python3
"""make dist: what a user downloads, in dist/:

  varnolt-<version>-win64.zip   one folder varnolt-<version>-win64/ holding Varnolt.exe and its
                                guide Varnolt.htm side by side, the README, the licences of what
                                the program carries inside it, and the examples;
  varnolt-<version>-x64.msi     the same files as a Windows Installer package (packaging/varnolt.wxs,
                                built with wixl): per user by default, ALLUSERS=1 for all users;
  varnolt-<version>.vsix        the Visual Studio Code extension of editors/vscode (packed with vsce);
  winget/manifests/v/Varnolt/Varnolt/<version>/
                                the winget manifest (packaging/winget/), pointing at the MSI with
                                its SHA-256 and product code.

The version is the one of the version resource (VARNOLT_VERSION in resources/varnolt.rc), so
the packages' names and the program's about box always agree; --version gives another one to
the packages (the upgrade test builds a higher one that way).

With a certificate (--sign-pfx or SIGN_PFX, its password in --sign-password or SIGN_PASSWORD)
Varnolt.exe is signed before it is packed and the MSI after it is built, with osslsigncode.
Without one nothing is signed.

    scripts/make-dist.py [--build build] [--out dist] [--parts zip,msi,vsix,winget]
                         [--version a.b.c.d] [--download-url URL] [--sign-pfx F]
"""
import argparse, hashlib, os, re, shutil, subprocess, sys, tempfile, time, zipfile
from xml.sax.saxutils import quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# The licences of the libraries linked into Varnolt.exe, as their Debian packages install them.
ZLIB_HEADER = "/usr/x86_64-w64-mingw32/include/zlib.h"
MINGW_RUNTIME_COPYRIGHT = "/usr/share/doc/mingw-w64-x86-64-dev/copyright"
PARTS = ("zip", "msi", "vsix", "winget")
# Where a release's files are published; the winget manifest points there.
DOWNLOAD_URL = "https://varnolt.example.org/releases/{version}/"
PROJECT_URL = "https://varnolt.example.org/"
EXTENSION = os.path.join(ROOT, "editors", "vscode")
# What of editors/vscode goes into the extension package (vsce reads the rest from package.json).
EXTENSION_FILES = ("package.json", "README.md", "extension.js", "locate.js", "language-configuration.json",
                   "syntaxes", "snippets")


def version():
    text = open(os.path.join(ROOT, "resources", "varnolt.rc"), encoding="utf-8").read()
    m = re.search(r"^#define VARNOLT_VERSION (\d+),(\d+),(\d+),(\d+)\s*$", text, re.M)
    if not m:
        sys.exit("make-dist: no '#define VARNOLT_VERSION a,b,c,d' in resources/varnolt.rc")
    return ".".join(m.groups())


def checked_version(text):
    """A version as Windows Installer takes it: four numbers, the first three below 256, 256, 65536."""
    fields = text.split(".")
    if len(fields) != 4 or not all(f.isdigit() for f in fields):
        sys.exit("make-dist: version %r is not a.b.c.d" % text)
    a, b, c, _ = (int(f) for f in fields)
    if a > 255 or b > 255 or c > 65535:
        sys.exit("make-dist: version %s is beyond what Windows Installer compares (255.255.65535)" % text)
    return text


def zlib_licence():
    """The licence that opens zlib.h: its first comment."""
    header = open(ZLIB_HEADER, encoding="latin-1").read()
    start, end = header.find("/*"), header.find("*/")
    if start < 0 or end < start:
        sys.exit("make-dist: no licence comment at the top of " + ZLIB_HEADER)
    lines = header[start + 2:end].splitlines()
    return "\n".join(line.rstrip() for line in lines).strip("\n") + "\n"


def run(command, what, **options):
    """Runs a tool; its failure ends make dist with the tool's own words."""
    try:
        done = subprocess.run(command, capture_output=True, text=True, **options)
    except FileNotFoundError:
        sys.exit("make-dist: %s needs %s; run scripts/install-deps.sh" % (what, command[0]))
    if done.returncode != 0:
        sys.exit("make-dist: %s failed (%s):\n%s%s" % (what, " ".join(command[:2]), done.stdout, done.stderr))
    return done.stdout


class Signer:
    """Signs files with osslsigncode when a certificate was given; otherwise leaves them alone."""

    def __init__(self, pfx, password, folder):
        self.pfx = pfx
        self.password_file = None
        if pfx:
            if not os.path.isfile(pfx):
                sys.exit("make-dist: the certificate %s does not exist" % pfx)
            # The password goes through a file, not the command line other users can read.
            self.password_file = os.path.join(folder, "sign-password")
            with open(os.open(self.password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as out:
                out.write(password or "")

    def sign(self, path, description):
        if not self.pfx:
            return
        signed = path + ".signed"
        run(["osslsigncode", "sign", "-pkcs12", self.pfx, "-readpass", self.password_file, "-h", "sha256",
             "-n", description, "-i", PROJECT_URL, "-in", path, "-out", signed], "signing " + os.path.basename(path))
        os.replace(signed, path)


def stripped_program(path, folder):
    """The program without the debugging sections the build keeps for the tests."""
    stripped = os.path.join(folder, "Varnolt.exe")
    run(["x86_64-w64-mingw32-strip", "--strip-debug", "-o", stripped, path], "stripping Varnolt.exe")
    return stripped


def package_files(build, program):
    """(path in the package, bytes) for every file of the package; program is the Varnolt.exe to pack."""
    files = [("Varnolt.exe", open(program, "rb").read()),
             ("Varnolt.htm", open(os.path.join(build, "Varnolt.htm"), "rb").read()),
             ("README.md", open(os.path.join(ROOT, "README.md"), "rb").read()),
             ("licenses/zlib.txt", zlib_licence().encode("utf-8")),
             ("licenses/mingw-w64-runtime.txt", open(MINGW_RUNTIME_COPYRIGHT, "rb").read())]
    examples = os.path.join(ROOT, "examples")
    for name in sorted(os.listdir(examples)):
        path = os.path.join(examples, name)
        if os.path.isfile(path):
            files.append(("examples/" + name, open(path, "rb").read()))
    return files


def write_zip(target, stem, files, built):
    partial = target + ".part"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as package:
        for name, data in files:
            entry = zipfile.ZipInfo(stem + "/" + name, date_time=built)     # every file dated as the build
            entry.external_attr = 0o644 << 16
            package.writestr(entry, data, compress_type=zipfile.ZIP_DEFLATED)
    os.replace(partial, target)


def folders_fragment(files):
    """A WiX fragment with one component per file below the program folder's subfolders
    (examples\\, licenses\\): the component group PackageFolders of packaging/varnolt.wxs."""
    folders = {}
    for name, _ in files:
        if "/" in name:
            folder, leaf = name.split("/", 1)
            folders.setdefault(folder, []).append(leaf)
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">', "  <Fragment>",
             '    <DirectoryRef Id="INSTALLDIR">']
    refs = []
    for number, folder in enumerate(sorted(folders)):
        lines.append('      <Directory Id="Folder%d" Name=%s>' % (number, quoteattr(folder)))
        for index, leaf in enumerate(folders[folder]):
            component = "Folder%dFile%d" % (number, index)
            refs.append(component)
            lines += ['        <Component Id="%s" Guid="*" Win64="yes">' % component,
                      '          <File Id="%s" Name=%s Source=%s KeyPath="yes"/>'
                      % (component, quoteattr(leaf), quoteattr("$(var.StageDir)/%s/%s" % (folder, leaf))),
                      "        </Component>"]
        lines.append("      </Directory>")
    lines += ["    </DirectoryRef>", '    <ComponentGroup Id="PackageFolders">']
    lines += ['      <ComponentRef Id="%s"/>' % ref for ref in refs]
    lines += ["    </ComponentGroup>", "  </Fragment>", "</Wix>", ""]
    return "\n".join(lines)


def write_msi(target, files, product_version, folder, signer):
    stage = os.path.join(folder, "stage")
    for name, data in files:
        path = os.path.join(stage, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
    fragment = os.path.join(folder, "folders.wxs")
    with open(fragment, "w", encoding="utf-8") as out:
        out.write(folders_fragment(files))
    shutil.copy(os.path.join(ROOT, "resources", "varnolt.ico"), folder)
    partial = os.path.abspath(target + ".part")
    kilobytes = sum((len(data) + 1023) // 1024 for _, data in files)
    # wixl takes the files' sources relative to the folder it runs in, never absolute.
    run(["wixl", "--arch", "x64", "-D", "StageDir=stage", "-D", "ProductVersion=" + product_version,
         "-D", "IconFile=varnolt.ico", "-D", "InstalledKilobytes=%d" % kilobytes,
         "-o", partial, os.path.join(ROOT, "packaging", "varnolt.wxs"), fragment], "building the MSI", cwd=folder)
    mend_wixl_tables(partial, folder)
    signer.sign(partial, "Varnolt")
    os.replace(partial, target)


def mend_wixl_tables(msi, folder):
    """Puts back what wixl 0.101 gets wrong in the tables: it writes HKMU registry entries with
    the root 4, which Windows Installer ignores (HKMU is -1: the machine's keys for ALLUSERS=1,
    the user's otherwise), and leaves out IncludeMaximum (512), which the row that finds older
    releases sets so that a release of the same three-field version replaces the installed one
    rather than landing beside it."""
    def mend(table, change):
        lines = run(["msiinfo", "export", msi, table], "reading the MSI's %s table" % table).splitlines()
        header, rows = lines[:3], [line.split("\t") for line in lines[3:]]
        columns = header[0].split("\t")
        changed = sum(change(dict(zip(columns, row)), row, columns) for row in rows)
        idt = os.path.join(folder, table + ".idt")
        with open(idt, "w", encoding="utf-8", newline="\r\n") as out:
            out.write("\n".join(header + ["\t".join(row) for row in rows]) + "\n")
        run(["msibuild", msi, "-i", idt], "mending the MSI's %s table" % table)
        return changed

    def hkmu_root(fields, row, columns):
        if fields["Root"] != "4":
            return 0
        row[columns.index("Root")] = "-1"
        return 1

    def inclusive_maximum(fields, row, columns):
        if fields["ActionProperty"] != "OLDERVERSIONFOUND":
            return 0
        row[columns.index("Attributes")] = str(int(fields["Attributes"]) | 512)
        return 1

    if mend("Registry", hkmu_root) == 0:
        sys.exit("make-dist: no HKMU entries in the MSI's registry table (has wixl changed?)")
    if mend("Upgrade", inclusive_maximum) != 1:
        sys.exit("make-dist: the MSI has no single upgrade row for OLDERVERSIONFOUND")


def msi_property(msi, name):
    table = run(["msiinfo", "export", msi, "Property"], "reading the MSI's properties")
    for line in table.splitlines():
        key, _, value = line.partition("\t")
        if key == name:
            return value
    sys.exit("make-dist: %s has no property %s" % (msi, name))


def write_vsix(target, product_version, folder):
    """Packs editors/vscode with its own vsce; the extension takes the first three fields of
    the version (extension versions have three)."""
    vsce = os.path.join(EXTENSION, "node_modules", ".bin", "vsce")
    if not os.path.exists(vsce):
        sys.exit("make-dist: %s is missing; run scripts/install-deps.sh (npm ci in editors/vscode)" % vsce)
    stage = os.path.join(folder, "extension")
    os.makedirs(stage)
    for name in EXTENSION_FILES:
        source = os.path.join(EXTENSION, name)
        if os.path.isdir(source):
            shutil.copytree(source, os.path.join(stage, name))
        elif os.path.isfile(source):
            shutil.copy(source, stage)
    manifest = os.path.join(stage, "package.json")
    text = open(manifest, encoding="utf-8").read()
    text, count = re.subn(r'"version": "[^"]*"', '"version": "%s"' % ".".join(product_version.split(".")[:3]),
                          text, count=1)
    if count != 1:
        sys.exit("make-dist: no version in editors/vscode/package.json")
    open(manifest, "w", encoding="utf-8").write(text)
    run([vsce, "package", "--no-dependencies", "--allow-missing-repository", "--skip-license",
         "--out", os.path.abspath(target)], "packing the editor extension", cwd=stage, stdin=subprocess.DEVNULL)


def write_winget(out, msi, product_version, download_url):
    """The three manifest files of packaging/winget/ with the release's values filled in."""
    values = {"version": product_version,
              "url": download_url.format(version=product_version) + os.path.basename(msi),
              "sha256": hashlib.sha256(open(msi, "rb").read()).hexdigest().upper(),
              "product_code": msi_property(msi, "ProductCode"),
              "upgrade_code": msi_property(msi, "UpgradeCode")}
    folder = os.path.join(out, "winget", "manifests", "v", "Varnolt", "Varnolt", product_version)
    os.makedirs(folder, exist_ok=True)
    templates = os.path.join(ROOT, "packaging", "winget")
    for name in sorted(os.listdir(templates)):
        lines = open(os.path.join(templates, name), encoding="utf-8").read().splitlines(keepends=True)
        text = "".join(line for line in lines if not line.startswith("# make dist"))
        for key, value in values.items():
            text = text.replace("{%s}" % key, value)
        if re.search(r"\{[a-z_]+\}", text):
            sys.exit("make-dist: packaging/winget/%s has a placeholder make-dist does not fill" % name)
        with open(os.path.join(folder, name), "w", encoding="utf-8") as target:
            target.write(text)
    return folder


def program_files(build, folder, signer):
    """The files of the zip and the MSI, with Varnolt.exe stripped (and signed when asked), and
    the build's time, which every file of the zip carries."""
    for name in ("Varnolt.exe", "Varnolt.htm"):
        if not os.path.isfile(os.path.join(build, name)):
            sys.exit("make-dist: %s is missing; run make build first" % os.path.join(build, name))
    program = stripped_program(os.path.join(build, "Varnolt.exe"), folder)
    signer.sign(program, "Varnolt")
    built = time.localtime(os.path.getmtime(os.path.join(build, "Varnolt.exe")))[:6]
    return package_files(build, program), built


def main():
    parser = argparse.ArgumentParser(description="Packs the Varnolt release.")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--out", default=os.path.join(ROOT, "dist"))
    parser.add_argument("--parts", default=",".join(PARTS), help="some of " + ",".join(PARTS))
    parser.add_argument("--version", help="the packages' version instead of the resource's (a.b.c.d)")
    parser.add_argument("--download-url", default=DOWNLOAD_URL, help="where the release is published")
    parser.add_argument("--sign-pfx", default=os.environ.get("SIGN_PFX", ""))
    parser.add_argument("--sign-password", default=os.environ.get("SIGN_PASSWORD", ""))
    args = parser.parse_args()
    parts = [part for part in args.parts.split(",") if part]
    unknown = set(parts) - set(PARTS)
    if unknown:
        sys.exit("make-dist: unknown parts %s (known: %s)" % (",".join(sorted(unknown)), ",".join(PARTS)))
    if "winget" in parts and "msi" not in parts:
        sys.exit("make-dist: the winget manifest needs the msi part")
    product_version = checked_version(args.version or version())
    os.makedirs(args.out, exist_ok=True)
    made = []
    with tempfile.TemporaryDirectory() as folder:
        signer = Signer(args.sign_pfx, args.sign_password, folder)
        if "zip" in parts or "msi" in parts:
            files, built = program_files(args.build, folder, signer)
        if "zip" in parts:
            stem = "varnolt-%s-win64" % product_version
            made.append(os.path.join(args.out, stem + ".zip"))
            write_zip(made[-1], stem, files, built)
        if "msi" in parts:
            msi = os.path.join(args.out, "varnolt-%s-x64.msi" % product_version)
            write_msi(msi, files, product_version, folder, signer)
            made.append(msi)
        if "vsix" in parts:
            made.append(os.path.join(args.out, "varnolt-%s.vsix" % product_version))
            write_vsix(made[-1], product_version, folder)
        if "winget" in parts:
            made.append(write_winget(args.out, msi, product_version, args.download_url))
    print("\n".join(made))


if __name__ == "__main__":
    main()
