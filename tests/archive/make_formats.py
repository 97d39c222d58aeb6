#!/usr/bin/env python3
"""Makes the archives of the format comparison test in the folder given: a tree with what
real archives carry (long and non-ASCII names, links, a sparse file, names that differ only
in case), archived by GNU tar in each of its formats (and as an incremental archive), plain and
gzip'd, and by Python's tarfile; GNU tar extracts each into a reference, described in <stem>.manifest as
'kind<TAB>size<TAB>crc32<TAB>path' lines (kind: d folder, f file, h file with hard links,
l symbolic link)."""
import gzip
import os
import shutil
import stat
import subprocess
import sys
import tarfile
import zlib

GNU_FORMATS = ["gnu", "oldgnu", "ustar", "posix", "v7"]
SPARSE_FORMATS = ["gnu", "oldgnu", "posix"]     # the others store a sparse file whole
SPARSE_VERSIONS = ["0.0", "0.1"]       # GNU tar writes pax sparse 1.0 unless told


def write(path, data=b""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_tree(root):
    t = os.path.join(root, "t")
    write(os.path.join(t, "plain.txt"), b"plain\n")
    os.link(os.path.join(t, "plain.txt"), os.path.join(t, "hardlink.txt"))
    os.symlink("plain.txt", os.path.join(t, "!symlink"))      # sorts first: its code is the result
    write(os.path.join(t, "CasePair.h"), b"upper\n")
    write(os.path.join(t, "casepair.h"), b"lower\n")
    for length in (99, 100, 101, 155, 156):
        stem = "n%d" % length
        write(os.path.join(t, stem + "x" * (length - len(stem))), stem.encode())
    for total, a, b, name in ((100, 20, 21, 50), (150, 20, 22, 99), (200, 40, 52, 99), (255, 60, 87, 99)):
        path = "t/p%d/%s/%s/%s" % (total, "d" * a, "e" * b, "f" * name)     # ustar can split each
        write(os.path.join(root, path), b"%d\n" % len(path))
    write(os.path.join(t, "caf\u00e9.txt"), "caf\u00e9\n".encode())
    write(os.path.join(t, "\u4e2d\u6587.txt"), "\u4e2d\u6587\n".encode())
    write(os.path.join(t, "\u4e2d" * 30, "\u6587" * 30), b"183 bytes, 63 characters\n")
    write(os.path.join(t, "\u00dcn\u00ef dir", "na\u00efve.txt"), b"naive\n")
    write(os.path.join(t, "name with spaces.txt"), b"spaces\n")
    write(os.path.join(t, ".hidden"), b"hidden\n")
    write(os.path.join(t, ".dotdir", " leading space.txt"), b"leading\n")
    write(os.path.join(t, "empty.dat"))
    os.makedirs(os.path.join(t, "emptydir"))
    with open(os.path.join(t, "sparse.bin"), "wb") as f:        # six data regions, a hole at the end
        for i in range(6):
            f.seek(i * 131072 + 4096 * (i % 2))
            f.write(bytes([65 + i]) * 5000)
        f.truncate(1 << 20)


def manifest(root):
    lines = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(dirs + files):
            path = os.path.join(folder, name)
            info = os.lstat(path)
            kind, data = "d", b""
            if stat.S_ISLNK(info.st_mode):
                kind = "l"
            elif stat.S_ISREG(info.st_mode):
                kind = "h" if info.st_nlink > 1 else "f"
                with open(path, "rb") as f:
                    data = f.read()
            lines.append("%s\t%d\t%08x\t%s\n" % (kind, len(data), zlib.crc32(data), os.path.relpath(path, root)))
    return "".join(lines)


def add_reference(out, stem, archive):
    reference = os.path.join(out, "reference", stem)
    os.makedirs(reference)
    subprocess.run(["tar", "-xf", archive, "-C", reference], check=True)
    with open(os.path.join(out, stem + ".manifest"), "w", encoding="utf-8") as f:
        f.write(manifest(reference))


def main(out):
    shutil.rmtree(out, ignore_errors=True)
    src = os.path.join(out, "src")
    make_tree(src)
    runs = [(f, ["--format=" + f] + (["--sparse"] if f in SPARSE_FORMATS else [])) for f in GNU_FORMATS]
    runs += [("posix-sparse-" + v, ["--format=posix", "--sparse", "--sparse-version=" + v]) for v in SPARSE_VERSIONS]
    # A level-0 GNU incremental archive: its folders are 'D' entries that list their contents.
    runs.append(("incremental", ["--format=gnu", "--listed-incremental=" + os.path.join(out, "snapshot")]))
    for stem, options in runs:
        archive = os.path.join(out, stem + ".tar")
        # A format that cannot hold a name or link makes GNU tar leave it out and fail.
        subprocess.run(["tar", "--sort=name", *options, "-cf", archive, "t"], cwd=src,
                       stderr=subprocess.DEVNULL)
        if stem in GNU_FORMATS:
            with open(archive, "rb") as plain, gzip.open(os.path.join(out, stem + ".tgz"), "wb") as packed:
                shutil.copyfileobj(plain, packed)
        add_reference(out, stem, archive)
    archive = os.path.join(out, "python.tar")
    with tarfile.open(archive, "w") as tar:                      # the default format: pax
        tar.add(os.path.join(src, "t"), arcname="t")
    add_reference(out, "python", archive)
    shutil.rmtree(src)
    shutil.rmtree(os.path.join(out, "reference"))
    os.remove(os.path.join(out, "snapshot"))


if __name__ == "__main__":
    main(sys.argv[1])
