#!/usr/bin/env python3
"""make dist: packs what a user downloads into dist/varnolt-<version>-win64.zip, one folder
varnolt-<version>-win64/ holding Varnolt.exe and its guide Varnolt.htm side by side, the
README, the licences of what the program carries inside it, and the examples.

The version is the one of the version resource (VARNOLT_VERSION in resources/varnolt.rc),
so the package's name and the program's about box always agree.

    scripts/make-dist.py [--build build] [--out dist]
"""
import argparse, os, re, subprocess, sys, tempfile, time, zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# The licences of the libraries linked into Varnolt.exe, as their Debian packages install them.
ZLIB_HEADER = "/usr/x86_64-w64-mingw32/include/zlib.h"
MINGW_RUNTIME_COPYRIGHT = "/usr/share/doc/mingw-w64-x86-64-dev/copyright"


def version():
    text = open(os.path.join(ROOT, "resources", "varnolt.rc"), encoding="utf-8").read()
    m = re.search(r"^#define VARNOLT_VERSION (\d+),(\d+),(\d+),(\d+)\s*$", text, re.M)
    if not m:
        sys.exit("make-dist: no '#define VARNOLT_VERSION a,b,c,d' in resources/varnolt.rc")
    return ".".join(m.groups())


def zlib_licence():
    """The licence that opens zlib.h: its first comment."""
    header = open(ZLIB_HEADER, encoding="latin-1").read()
    start, end = header.find("/*"), header.find("*/")
    if start < 0 or end < start:
        sys.exit("make-dist: no licence comment at the top of " + ZLIB_HEADER)
    lines = header[start + 2:end].splitlines()
    return "\n".join(line.rstrip() for line in lines).strip("\n") + "\n"


def without_debug_information(path):
    """The program's bytes without the debugging sections the build keeps for the tests."""
    with tempfile.TemporaryDirectory() as folder:
        stripped = os.path.join(folder, "Varnolt.exe")
        subprocess.run(["x86_64-w64-mingw32-strip", "--strip-debug", "-o", stripped, path], check=True)
        return open(stripped, "rb").read()


def package_files(build):
    """(path in the package, bytes) for every file of the package."""
    files = []
    for name in ("Varnolt.exe", "Varnolt.htm"):
        if not os.path.isfile(os.path.join(build, name)):
            sys.exit("make-dist: %s is missing; run make build first" % os.path.join(build, name))
    files.append(("Varnolt.exe", without_debug_information(os.path.join(build, "Varnolt.exe"))))
    files.append(("Varnolt.htm", open(os.path.join(build, "Varnolt.htm"), "rb").read()))
    files.append(("README.md", open(os.path.join(ROOT, "README.md"), "rb").read()))
    files.append(("licenses/zlib.txt", zlib_licence().encode("utf-8")))
    files.append(("licenses/mingw-w64-runtime.txt", open(MINGW_RUNTIME_COPYRIGHT, "rb").read()))
    examples = os.path.join(ROOT, "examples")
    for name in sorted(os.listdir(examples)):
        path = os.path.join(examples, name)
        if os.path.isfile(path):
            files.append(("examples/" + name, open(path, "rb").read()))
    return files


def main():
    parser = argparse.ArgumentParser(description="Packs the Varnolt release zip.")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--out", default=os.path.join(ROOT, "dist"))
    args = parser.parse_args()
    stem = "varnolt-%s-win64" % version()
    os.makedirs(args.out, exist_ok=True)
    target = os.path.join(args.out, stem + ".zip")
    partial = target + ".part"
    built = time.localtime(os.path.getmtime(os.path.join(args.build, "Varnolt.exe")))[:6]
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as package:
        for name, data in package_files(args.build):
            entry = zipfile.ZipInfo(stem + "/" + name, date_time=built)     # every file dated as the build
            entry.external_attr = 0o644 << 16
            package.writestr(entry, data, compress_type=zipfile.ZIP_DEFLATED)
    os.replace(partial, target)
    print(target)


if __name__ == "__main__":
    main()
