#!/usr/bin/env python3
"""make bench: generates every input deterministically on a tmpfs folder, runs the
product and its peers or floors alternately inside the project's Wine prefix, and writes
the medians and paired ratios to bench/RESULTS.md. Standard library only.

Environment: BENCH_REPS (paired repetitions, default 5), BENCH_BIG_MB (size of the one
large file copied, default 1024), BENCH_BUILD (build folder, default build), BENCH_TMP
(tmpfs folder, default /dev/shm/varnolt-bench-<checksum of the checkout's path>)."""
import gzip, zlib, os, platform, random, re, shutil, statistics, struct, subprocess, sys, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BUILD = os.path.join(ROOT, os.environ.get("BENCH_BUILD", "build"))
# One folder per checkout, so that benchmarks of two checkouts never share (or remove) inputs.
TMP = os.environ.get("BENCH_TMP", "/dev/shm/varnolt-bench-%08x" % (zlib.crc32(ROOT.encode()) & 0xFFFFFFFF))
REPS = int(os.environ.get("BENCH_REPS", "5"))
BIG_MB = int(os.environ.get("BENCH_BIG_MB", "1024"))
LARGE_VALUE_MB = 16     # the one value of the large-value .reg rows
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")


def win(path):
    """The Wine path of a Linux path (through the Z: drive)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def exe(name):
    return win(os.path.join(BUILD, name))


def run_wine(command_line, memory=False, env=None):
    """Runs one command line inside Wine through bench_run; returns (seconds, peak KB, exit)."""
    args = [WINE_RUN, os.path.join(BUILD, "bench_run.exe")] + (["-m"] if memory else []) + [command_line]
    out = subprocess.run(args, capture_output=True, text=True, errors="replace",
                         env=dict(os.environ, **env) if env else None).stdout
    m = re.search(r"seconds=([\d.]+) peak_kb=(\d+) exit=(\d+)", out)
    if not m:
        raise RuntimeError("bench_run failed for %s: %r" % (command_line, out))
    return float(m.group(1)), int(m.group(2)), int(m.group(3))


def run_native(args):
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def paired(runners, reps=REPS, before=None):
    """Runs each named runner once per repetition, in turn; returns {name: [seconds...]}."""
    times = {name: [] for name, _ in runners}
    for _ in range(reps):
        for name, runner in runners:
            if before:
                before()
            times[name].append(runner())
    return times


def ratio(times, a, b):
    """Median of the per-repetition ratios a/b."""
    return statistics.median(x / y for x, y in zip(times[a], times[b]))


def med(values):
    return statistics.median(values)


# ---------------------------------------------------------------- inputs

def write_utf16(path, text):
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le"))


SCRIPT_BLOCK = [  # 13 lines of script per block; '{n}' numbers the procedure
    "; block {n}",
    "EVAL 1=item%x",
    "EVAL 2=%1-%#0041",
    "IFEX %1=item0,EVAL 3=yes",
    "EVAL x=5",
    "IFEX %x==5,EVAL 4=five",
    "CALL w{n}",
    "PROC w{n}",
    "EVAL 7=in",
    "ENDP w{n}",
    "EVAL 5=%2%3",
    "IFEX 1<2,EVAL 6=a%,b",
    "EVAL x=0",
]
BATCH_BLOCK = [  # the same work in batch terms, 13 lines too
    "rem block {n}",
    "set v1=item%r%",
    "set v2=%v1%-A",
    'if "%v1%"=="item0" set v3=yes',
    "set /a r=5",
    "if %r%==5 set v4=five",
    "call :w{n}",
    "goto s{n}",
    ":w{n}",
    "set v7=in & goto :eof",
    ":s{n}",
    "set v5=%v2%%v3%& if 1 LSS 2 set v6=a,b",
    "set /a r=0",
]


def make_scripts(folder, lines):
    blocks = lines // len(SCRIPT_BLOCK)
    write_utf16(os.path.join(folder, "s%d.vrs" % lines),  # named by the size asked for
                "\n".join(l.format(n=n) for n in range(blocks) for l in SCRIPT_BLOCK) + "\n")
    with open(os.path.join(folder, "s%d.bat" % lines), "w", newline="\r\n") as f:
        f.write("@echo off\nset r=0\n")
        f.write("\n".join(l.format(n=n) for n in range(blocks) for l in BATCH_BLOCK) + "\n")
    return blocks * len(SCRIPT_BLOCK)


def reg_model(values, seed):
    """Operations of a .reg file: (op, key, name, type, data bytes, text form)."""
    rnd = random.Random(seed)
    ops = []
    base = "Software\\VarnoltBench"
    keys = 0
    count = 0
    while count < values:
        key = "%s\\k%d\\sub%d" % (base, keys // 10, keys)
        keys += 1
        if keys % 25 == 0:
            ops.append(("deltree", key + "\\gone", None, 0, b"", None))
        ops.append(("key", key, None, 0, b"", None))
        for i in range(20):
            name = "v%d" % i
            kind = (count + i) % 6
            if kind == 0:
                s = 'path\\to "q" %d' % rnd.randrange(10**6)
                text = '"%s"' % s.replace("\\", "\\\\").replace('"', '\\"')
                ops.append(("set", key, name, 1, (s + "\0").encode("utf-16-le"), text))
            elif kind == 1:
                v = rnd.randrange(2**32)
                ops.append(("set", key, name, 4, struct.pack("<I", v), "dword:%08x" % v))
            elif kind == 2:
                data = bytes(rnd.randrange(256) for _ in range(60))
                ops.append(("set", key, name, 3, data, "hex:" + hexlist(data)))
            elif kind == 3:
                data = "one\0two\0\0".encode("utf-16-le")
                ops.append(("set", key, name, 7, data, "hex(7):" + hexlist(data)))
            elif kind == 4:
                data = "%SystemRoot%\\x\0".encode("utf-16-le")
                ops.append(("set", key, name, 2, data, "hex(2):" + hexlist(data)))
            else:
                ops.append(("delvalue", key, name, 0, b"", "-"))
            count += 1
    return ops


def hexlist(data):
    parts = ["%02x" % b for b in data]
    lines, line = [], []
    for p in parts:  # continuation lines every 25 bytes
        line.append(p)
        if len(line) == 25:
            lines.append(",".join(line))
            line = []
    if line:
        lines.append(",".join(line))
    return ",\\\n  ".join(lines)


def make_reg(folder, values, version5):
    ops = reg_model(values, values)
    out = ["Windows Registry Editor Version 5.00" if version5 else "REGEDIT4", ""]
    floor = bytearray()
    for op, key, name, typ, data, text in ops:
        if op == "deltree":
            out += ["[-HKEY_CURRENT_USER\\%s]" % key, ""]
        elif op == "key":
            out += ["", "[HKEY_CURRENT_USER\\%s]" % key]
        else:
            out.append('"%s"=%s' % (name, text))
        code = {"key": 1, "set": 2, "delvalue": 3, "deltree": 4}[op]
        k = key.encode("utf-16-le")
        n = (name or "").encode("utf-16-le")
        floor += struct.pack("<BBH", code, 0, len(k) // 2) + k
        floor += struct.pack("<H", len(n) // 2) + n + struct.pack("<II", typ, len(data)) + data
    text = "\r\n".join(out) + "\r\n"
    stem = os.path.join(folder, "r%d_%s" % (values, "v5" if version5 else "v4"))
    with open(stem + ".reg", "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le") if version5 else text.encode("ascii"))
    with open(stem + ".ops", "wb") as f:
        f.write(floor)
    return stem


def make_large_value(folder, mb, continued):
    """A version 5 (UTF-16) .reg file holding one binary value of 'mb' MB, on one line or
    continued every 25 bytes as the platform's exporter writes binary data."""
    data = random.Random(mb).randbytes(mb * 1024 * 1024)
    if continued:
        hexs = ",\\\r\n  ".join(data[i:i + 25].hex(",") for i in range(0, len(data), 25))
    else:
        hexs = data.hex(",")
    text = ("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\VarnoltBench\\large]\r\n"
            '"big"=hex:' + hexs + "\r\n")
    path = os.path.join(folder, "large%d_%s.reg" % (mb, "continued" if continued else "line"))
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
    return path


def make_small_tree(folder, files):
    rnd = random.Random(7)
    made = 0
    for a in range(20):
        for b in range(10):
            d = os.path.join(folder, "d%02d" % a, "e%02d" % b)
            os.makedirs(d, exist_ok=True)
            for c in range(files // 200):
                with open(os.path.join(d, "f%03d.txt" % c), "wb") as f:
                    f.write(("line %d %d\n" % (a, c)).encode() * rnd.randrange(10, 200))
                made += 1
    return made


def make_large_tree(folder, total_mb):
    os.makedirs(folder, exist_ok=True)
    third = total_mb * 1024 * 1024 // 3
    rnd = random.Random(11)
    with open(os.path.join(folder, "text.txt"), "wb") as f:
        words = [("word%d " % i).encode() for i in range(1000)]
        chunk = b"".join(rnd.choice(words) for _ in range(200000))
        for _ in range(third // len(chunk) + 1):
            f.write(chunk)
    with open(os.path.join(folder, "random.bin"), "wb") as f:
        f.write(rnd.randbytes(third))
    with open(os.path.join(folder, "zeros.bin"), "wb") as f:
        f.truncate(third)


def make_archives(src, stem, with_cab=True):
    """Makes stem.tgz with GNU tar and, when asked, stem.cab with cabarc under Wine;
    returns whether the cabinet exists (Wine's cabarc may fail to read the file list)."""
    subprocess.run(["tar", "-czf", stem + ".tgz", "-C", src, "."], check=True)
    cab = stem + ".cab"
    if with_cab and not os.path.exists(cab):
        subprocess.run([WINE_RUN, "cabarc", "-r", "-p", "N", win(cab), "*"], cwd=src,
                       check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.exists(cab):
        CABARC_MISSING.append(os.path.basename(stem))
    return os.path.exists(cab)


def tar_header(name, size):
    """A ustar header block for a regular file of 'size' bytes, the size in octal."""
    block = bytearray(512)
    block[0:len(name)] = name.encode()
    for offset, text in ((100, b"0000644"), (108, b"0000000"), (116, b"0000000"), (124, b"%011o" % size),
                         (136, b"00000000000"), (156, b"0"), (257, b"ustar\x0000")):
        block[offset:offset + len(text)] = text
    block[148:156] = b" " * 8
    block[148:155] = b"%06o\0" % sum(block)
    return bytes(block)


def make_large_entry_tar(path, size):
    """A plain tar whose first entry holds 'size' zero bytes (a hole in the archive file,
    so it takes no space), then a small entry that must still be found after it."""
    with open(path, "wb") as f:
        f.write(tar_header("big.bin", size))
        f.seek(512 + (size + 511) // 512 * 512)
        f.write(tar_header("after.txt", 6) + b"after\n".ljust(512, b"\0") + bytes(1024))


def product(line):
    return '"%s" "%s"' % (exe("Varnolt.exe"), line)


# ---------------------------------------------------------------- benchmarks

def bench_startup(report):
    t = paired([("varnolt", lambda: run_wine(product("EVAL x=0"))[0]),
                ("blank", lambda: run_wine('"%s"' % exe("bench_blank.exe"))[0])])
    r = ratio(t, "varnolt", "blank")
    report.section("1. Start-up", [
        "| run | median s |", "|---|---|",
        "| `Varnolt.exe \"EVAL x=0\"` | %.4f |" % med(t["varnolt"]),
        "| bench_blank.exe (same system DLLs, exits at once) | %.4f |" % med(t["blank"]),
    ], "median paired ratio %.2f× (target ≤ 1.2×)" % r, r <= 1.2)


def bench_script(report, folder):
    fresh(folder)
    # Each program's marginal rate comes from two script lengths whose difference takes far
    # longer than the start-up noise (about ten milliseconds): Varnolt runs 2,000 and
    # 1,000,000 lines, cmd (hundreds of times slower per line) 2,000 and 20,000.
    sizes = {"v": (2000, 1000000), "c": (2000, 20000)}
    counts = {n: make_scripts(folder, n) for n in sorted(set(sizes["v"] + sizes["c"]))}
    cmd_line = lambda n: '"%s" /c %s' % ("C:\\windows\\system32\\cmd.exe", win(os.path.join(folder, "s%d.bat" % n)))
    runners = []
    for n in sizes["v"]:
        runners.append(("v%d" % n, lambda n=n: run_wine(product(win(os.path.join(folder, "s%d.vrs" % n))))[0]))
    for n in sizes["c"]:
        runners.append(("c%d" % n, lambda n=n: run_wine(cmd_line(n))[0]))
    t = paired(runners, max(REPS, 11))
    row = lambda key: [med(t["%s%d" % (key, n)]) for n in sizes[key]]
    rate = lambda key: (counts[sizes[key][1]] - counts[sizes[key][0]]) / (row(key)[1] - row(key)[0])
    r = rate("v") / rate("c")
    report.section("2. Script execution", [
        "| run | lines | median s | lines | median s | marginal lines/s |", "|---|---|---|---|---|---|",
        "| Varnolt.exe script.vrs | %d | %.3f | %d | %.3f | %.0f |" % (
            counts[sizes["v"][0]], row("v")[0], counts[sizes["v"][1]], row("v")[1], rate("v")),
        "| cmd /c script.bat (same work per line) | %d | %.3f | %d | %.3f | %.0f |" % (
            counts[sizes["c"][0]], row("c")[0], counts[sizes["c"][1]], row("c")[1], rate("c")),
    ], "marginal rate ratio %.0f× cmd (target ≥ 100×)" % r, r >= 100)


def bench_check(report, folder):
    """/check reads the script as a run does, line by line, and runs nothing: it must take no
    longer than the run, and hold no more than the run does besides its table of names."""
    fresh(folder)
    lines = make_scripts(folder, 1000000)
    script = win(os.path.join(folder, "s1000000.vrs"))
    peaks = {"check": [], "headless": []}

    def measured(name, line):
        seconds, peak, _ = run_wine(line, memory=True)
        peaks[name].append(peak)
        return seconds
    check_line = '"%s" /check %s' % (exe("Varnolt.exe"), script)
    t = paired([("check", lambda: measured("check", check_line)),
                ("headless", lambda: measured("headless", product(script)))])
    r = ratio(t, "check", "headless")
    extra = med(peaks["check"]) - med(peaks["headless"])
    report.section("2b. Checking a script", [
        "| run | median s | median peak KB |", "|---|---|---|",
        "| `Varnolt.exe /check s1000000.vrs` (%d lines, nothing run) | %.3f | %d |" % (
            lines, med(t["check"]), med(peaks["check"])),
        "| the same script run headless (`Varnolt.exe s1000000.vrs`) | %.3f | %d |" % (
            med(t["headless"]), med(peaks["headless"])),
    ], "check %.2f× the run (target ≤ 1×); peak %+d KB over the run's (target ≤ 4 MB: the procedure names' table)" % (
        r, extra), r <= 1 and extra <= 4096)


def bench_registry(report, folder):
    fresh(folder)
    rows, ok = [], True
    memory = {}
    for values in (2000, 20000):
        for version5 in (True, False):
            stem = make_reg(folder, values, version5)
            reg = win(stem + ".reg")
            runners = [
                ("varnolt", lambda: run_wine(product(reg))[0]),
                ("regedit", lambda: run_wine('C:\\windows\\regedit.exe /s %s' % reg)[0]),
                ("reg", lambda: run_wine('C:\\windows\\system32\\reg.exe import %s' % reg)[0]),
                ("floor", lambda: run_wine('"%s" %s' % (exe("bench_reg_floor.exe"), win(stem + ".ops")))[0]),
            ]
            t = paired(runners)
            vs_regedit = ratio(t, "varnolt", "regedit")
            vs_floor = ratio(t, "varnolt", "floor")
            ok = ok and vs_regedit < 1 and vs_floor <= 1.15
            rows.append("| %d values, %s | %.3f | %.3f | %.3f | %.3f | %.2f× | %.2f× |" % (
                values, "version 5 (UTF-16)" if version5 else "REGEDIT4 (ANSI)", med(t["varnolt"]),
                med(t["regedit"]), med(t["reg"]), med(t["floor"]), vs_regedit, vs_floor))
            if version5:
                memory[values] = max(run_wine(product(reg), memory=True)[1] for _ in range(2))
    subprocess.run([WINE_RUN, "reg", "delete", "HKCU\\Software\\VarnoltBench", "/f"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    report.section("3. .reg import", [
        "| file | Varnolt s | regedit /s s | reg import s | floor s | Varnolt/regedit | Varnolt/floor |",
        "|---|---|---|---|---|---|---|"] + rows,
        "targets: faster than regedit (ratio < 1), ≤ 1.15× the floor", ok)
    return memory


def bench_large_value(report, folder):
    """One value far longer than the pieces a .reg file is read in: the time must grow with
    the value's length, not with its square."""
    fresh(folder)
    rows, ok = [], True
    for continued in (False, True):
        reg = win(make_large_value(folder, LARGE_VALUE_MB, continued))
        t = paired([("varnolt", lambda: run_wine(product(reg))[0]),
                    ("regedit", lambda: run_wine('C:\\windows\\regedit.exe /s %s' % reg)[0])])
        vs_regedit = ratio(t, "varnolt", "regedit")
        ok = ok and vs_regedit <= 1.2
        rows.append("| %d MB binary value, %s, version 5 (UTF-16) | %.3f | %.3f | %.2f× |" % (
            LARGE_VALUE_MB, "continued every 25 bytes" if continued else "one line", med(t["varnolt"]),
            med(t["regedit"]), vs_regedit))
    subprocess.run([WINE_RUN, "reg", "delete", "HKCU\\Software\\VarnoltBench", "/f"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.rmtree(folder, ignore_errors=True)
    report.section("3b. .reg import of one large value", [
        "| file | Varnolt s | regedit /s s | Varnolt/regedit |", "|---|---|---|---|"] + rows,
        "target: ≤ 1.2× regedit on each file", ok)


def bench_archives(report, folder):
    fresh(folder)
    out = os.path.join(folder, "out")
    sets = []
    src = os.path.join(folder, "small-src")
    n = make_small_tree(src, 2000)
    has_cab = make_archives(src, os.path.join(folder, "small"))
    sets.append(("%d small files in nested folders" % n, os.path.join(folder, "small"), has_cab, False))
    large_mb = int(os.environ.get("BENCH_LARGE_MB", "200"))
    for mb in (large_mb // 10, large_mb):
        src = os.path.join(folder, "large%d-src" % mb)
        make_large_tree(src, mb)
        cab = make_archives(src, os.path.join(folder, "large%d" % mb), with_cab=mb == large_mb)
        shutil.rmtree(src)
        sets.append(("~%d MB in 3 files (text, random, zeros)" % mb, os.path.join(folder, "large%d" % mb), cab, mb == large_mb))
    rows, ok, memory = [], True, {}
    for label, stem, has_cab, is_large in sets:
        tgz = win(stem + ".tgz")
        runners = [("varnolt", lambda: run_wine(product("TGZX %s,%s" % (tgz, win(out))))[0]),
                   ("tar", lambda: run_native(["tar", "-xzf", stem + ".tgz", "-C", out])),
                   ("floor", lambda: run_wine('"%s" %s %s' % (exe("bench_tar_floor.exe"), tgz, win(out)))[0])]
        if has_cab:
            runners.append(("cabarc", lambda: run_wine('C:\\windows\\system32\\cabarc.exe -p X %s %s\\' % (win(stem + ".cab"), win(out)))[0]))
        t = paired(runners, before=lambda: fresh(out))
        vs_tar, vs_floor = ratio(t, "varnolt", "tar"), ratio(t, "varnolt", "floor")
        vs_cab = ratio(t, "varnolt", "cabarc") if has_cab else float("nan")
        ok = ok and vs_floor <= 1.2 and (not has_cab or vs_cab < 1) and (not is_large or vs_tar < 1)
        rows.append("| %s | %.3f | %.3f | %s | %.3f | %.2f× | %s | %.2f× |" % (
            label, med(t["varnolt"]), med(t["tar"]), "%.3f" % med(t["cabarc"]) if has_cab else "n/a",
            med(t["floor"]), vs_tar, "%.2f×" % vs_cab if has_cab else "n/a", vs_floor))
        if "MB" in label:
            fresh(out)
            memory[label] = run_wine(product("TGZX %s,%s" % (tgz, win(out))), memory=True)[1]
    shutil.rmtree(out, ignore_errors=True)
    report.section("4. TGZX extraction", [
        "| archive | Varnolt s | GNU tar (native) s | cabarc X s | floor s | Varnolt/tar | Varnolt/cabarc | Varnolt/floor |",
        "|---|---|---|---|---|---|---|---|"] + rows,
        "targets: faster than GNU tar on the large archive, faster than cabarc on both, ≤ 1.2× the floor", ok)
    return memory


def bench_large_entry(report, folder, tgz_mem):
    """TGZX of an entry past 4 GiB, which a 32-bit size cannot hold, and the entry after it."""
    fresh(folder)
    size = 9 * 2**29      # 4.5 GiB
    tar, out = os.path.join(folder, "large-entry.tar"), os.path.join(folder, "out")
    make_large_entry_tar(tar, size)
    secs, peak, code = run_wine(product("TGZX %s,%s" % (win(tar), win(out))), memory=True)
    big = os.path.join(out, "big.bin")
    got = os.path.getsize(big) if os.path.exists(big) else -1
    after = open(os.path.join(out, "after.txt"), "rb").read() if os.path.exists(os.path.join(out, "after.txt")) else b""
    shutil.rmtree(folder)
    small = min(tgz_mem.values()) if tgz_mem else peak
    ok = code == 0 and got == size and after == b"after\n" and peak - small <= 1024
    report.section("4b. TGZX entry of 4.5 GiB", [
        "| archive | seconds | result | big.bin bytes | entry after it | peak private KB |", "|---|---|---|---|---|---|",
        "| plain tar, octal size field %d | %.1f | %d | %d | %s | %d |" % (
            size, secs, code, got, "extracted" if after == b"after\n" else "MISSING", peak)],
        "result 0, the whole entry and the one after it, peak within 1 MB of the small archives' (%d KB)" % small, ok)


def bench_copy(report, folder):
    fresh(folder)
    src = os.path.join(folder, "src")
    dst = os.path.join(folder, "dst")
    n = make_small_tree(src, 2000)
    t = paired([("varnolt", lambda: run_wine(product("FILE !%s\\*>%s\\" % (win(src), win(dst))))[0]),
                ("xcopy", lambda: run_wine('C:\\windows\\system32\\xcopy.exe /s /e /i /q %s %s' % (win(src), win(dst)))[0]),
                ("floor", lambda: run_wine('"%s" %s %s' % (exe("bench_copy_floor.exe"), win(src), win(dst)))[0])],
               reps=max(REPS, 11), before=lambda: shutil.rmtree(dst, ignore_errors=True))
    r = ratio(t, "xcopy", "varnolt")
    vs_floor = ratio(t, "varnolt", "floor")
    shutil.rmtree(dst, ignore_errors=True)
    run_wine(product("FILE !%s\\*>%s\\" % (win(src), win(dst))))     # what the product copies
    copied = sum(len(f) for _, _, f in os.walk(dst))
    shutil.rmtree(src)
    peaks = {}
    for mb in (BIG_MB // 10, BIG_MB):
        big = os.path.join(folder, "big")
        fresh(big)
        with open(os.path.join(big, "one.bin"), "wb") as f:
            f.truncate(mb * 1024 * 1024)
        shutil.rmtree(dst, ignore_errors=True)
        os.makedirs(dst)
        secs, peak, code = run_wine(product("FILE %s\\*>%s\\" % (win(big), win(dst))), memory=True)
        size = os.path.getsize(os.path.join(dst, "one.bin")) if os.path.exists(os.path.join(dst, "one.bin")) else -1
        peaks[mb] = (secs, peak, code, size == mb * 1024 * 1024)
        shutil.rmtree(big)
        shutil.rmtree(dst)
    flat = peaks[BIG_MB][1] - peaks[BIG_MB // 10][1] <= 1024
    report.section("5. FILE copy", [
        "| run | median s |", "|---|---|",
        "| `FILE !src\\*>dst\\` (%d files, %d copied) | %.3f |" % (n, copied, med(t["varnolt"])),
        "| `xcopy /s /e /i` | %.3f |" % med(t["xcopy"]),
        "| bench_copy_floor.exe (the fewest calls per file) | %.3f |" % med(t["floor"]),
        "", "| one file | seconds | peak private KB | result | copy complete |", "|---|---|---|---|---|"] + [
        "| %d MB | %.2f | %d | %d | %s |" % (mb, s, p, c, "yes" if whole else "NO") for mb, (s, p, c, whole) in sorted(peaks.items())],
        "Varnolt/floor %.2f× (target ≤ 1.1×), xcopy/Varnolt %.2f×; peak memory %s with the file's size (target: flat)" % (
            vs_floor, r, "does not grow" if flat else "GROWS"), vs_floor <= 1.1 and flat)


def bench_delete(report, folder):
    """FILE deleting a tree of 20,000 files in 200 folders, against a floor that makes one
    DeleteFileW per file and one RemoveDirectoryW per folder; each run gets a fresh copy."""
    fresh(folder)
    master, victim = os.path.join(folder, "master"), os.path.join(folder, "victim")
    n = make_small_tree(master, 20000)
    renew = lambda: (shutil.rmtree(victim, ignore_errors=True), shutil.copytree(master, victim))
    t = paired([("varnolt", lambda: run_wine(product("FILE %s" % win(victim)))[0]),
                ("floor", lambda: run_wine('"%s" %s' % (exe("bench_delete_floor.exe"), win(victim)))[0])],
               before=renew)
    renew()
    code = run_wine(product("FILE %s" % win(victim)))[2]
    gone = code == 0 and not os.path.exists(victim)
    shutil.rmtree(folder, ignore_errors=True)
    r = ratio(t, "varnolt", "floor")
    report.section("5b. FILE delete", [
        "| run | median s |", "|---|---|",
        "| `FILE tree` (%d files in 200 folders) | %.3f |" % (n, med(t["varnolt"])),
        "| bench_delete_floor.exe (DeleteFileW per file, RemoveDirectoryW per folder) | %.3f |" % med(t["floor"]),
    ], "Varnolt/floor %.2f× (target ≤ 1.2×); result 0 and the tree gone: %s" % (r, "yes" if gone else "NO"),
        r <= 1.2 and gone)


def journal_env(folder, on):
    """The journal on or off, its runs kept in 'folder' (on the inputs' volume, so that a
    replaced file is moved aside, never copied)."""
    return {"VARNOLT_JOURNAL": "1" if on else "0", "BENCH_LOCALAPPDATA": win(folder)}


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(folder) for f in files)


def bench_journal(report, folder):
    """The journal's cost: each row runs the same command line with the journal on and off,
    in turn (at least 11 times: runs of a second on this shared machine move by tens of per
    cent); the journal's size is that of the last run kept."""
    fresh(folder)
    local = os.path.join(folder, "local")
    runs = os.path.join(local, "Varnolt", "Runs")
    reg = win(make_reg(folder, 20000, True) + ".reg")
    src, dst = os.path.join(folder, "src"), os.path.join(folder, "dst")
    n = make_small_tree(src, 2000)
    make_archives(src, os.path.join(folder, "small"), with_cab=False)
    tgz, out = win(os.path.join(folder, "small.tgz")), os.path.join(folder, "out")
    copy = product("FILE !%s\\*>%s\\" % (win(src), win(dst)))
    delete_key = lambda: subprocess.run([WINE_RUN, "reg", "delete", "HKCU\\Software\\VarnoltBench", "/f"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    sizes = {}

    def measured(line, key):
        def run(on):
            shutil.rmtree(local, ignore_errors=True)
            os.makedirs(local)
            secs = run_wine(line, env=journal_env(local, on))[0]
            if on:
                sizes[key] = folder_bytes(runs)
            return secs
        return [("on", lambda: run(True)), ("off", lambda: run(False))]

    rows_spec = [       # label, key, command line, before each run, target
        ("`.reg` import, 20,000 values into new keys", "reg-new", product(reg), delete_key, 1.25),
        ("`.reg` import over the same 20,000 values", "reg-over", product(reg), None, 2.2),
        ("`FILE` copy of %d files into an empty folder" % n, "copy-new", copy,
         lambda: shutil.rmtree(dst, ignore_errors=True), 1.25),
        ("`FILE` copy over the same %d files" % n, "copy-over", copy, None, 1.3),
        ("`TGZX` of %d files into an empty folder" % n, "tgz", product("TGZX %s,%s" % (tgz, win(out))),
         lambda: fresh(out), 1.25),
    ]
    rows, ok = [], True
    for label, key, line, before, target in rows_spec:
        if before is None:      # what the run goes over is there before every run
            run_wine(line, env=journal_env(local, False))
        t = paired(measured(line, key), reps=max(REPS, 11), before=before)
        peaks = {}
        for on in (True, False):
            if before:
                before()
            peaks[on] = run_wine(line, memory=True, env=journal_env(local, on))[1]
        r = ratio(t, "on", "off")
        ok = ok and r <= target and peaks[True] - peaks[False] <= 1024
        rows.append("| %s | %.3f | %.3f | %.2f× (≤ %.2f×) | %.1f MB | %d / %d |" % (
            label, med(t["on"]), med(t["off"]), r, target, sizes.get(key, 0) / 2**20, peaks[True], peaks[False]))
    delete_key()
    shutil.rmtree(folder, ignore_errors=True)
    report.section("9. Journal", [
        "| run | journal on s | off s | on/off | journal size | peak private KB on / off |",
        "|---|---|---|---|---|---|"] + rows,
        "targets: ≤ 1.25× into new keys and empty folders, ≤ 2.2× over existing values, ≤ 1.3× over existing"
        " files; the journal's peak memory within 1 MB of the run without it", ok)


def run_driver(mode, program, argument=None):
    """Runs bench_console.exe inside Wine; returns the seconds it measured."""
    args = [WINE_RUN, os.path.join(BUILD, "bench_console.exe"), mode, exe(program)] + ([argument] if argument else [])
    out = subprocess.run(args, capture_output=True, text=True, errors="replace").stdout
    m = re.search(r"seconds=([\d.]+)", out)
    if not m:
        raise RuntimeError("bench_console failed for %s %s: %r" % (mode, program, out))
    return float(m.group(1))


class VirtualDisplay:
    """An Xvfb for the window benchmarks, with a wineserver (and its desktop) started on it."""
    def __enter__(self):
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
        self.saved = os.environ.get("DISPLAY")
        self.xvfb = subprocess.Popen(["Xvfb", ":97", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        os.environ["DISPLAY"] = ":97"
        self.server = subprocess.Popen(["wineserver", "-p"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([os.path.join(ROOT, "scripts", "wine-warm.sh")])
        return self

    def __exit__(self, *exc):
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
        self.server.wait()
        self.xvfb.terminate()
        self.xvfb.wait()
        if self.saved is None:
            os.environ.pop("DISPLAY", None)
        else:
            os.environ["DISPLAY"] = self.saved
        # As before: one server without a display, its system processes started with no
        # standard handles, so that no later run's output pipe is held open by them.
        subprocess.Popen(["wineserver", "-p"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([os.path.join(ROOT, "scripts", "wine-warm.sh")])


def bench_console(report, folder):
    fresh(folder)
    lines = make_scripts(folder, 20000)
    script = win(os.path.join(folder, "s20000.vrs"))
    with VirtualDisplay():
        t = paired([("console", lambda: run_driver("execute", "Varnolt.exe", "LOAD " + script)),
                    ("headless", lambda: run_wine(product(script))[0])])
        s = paired([("console", lambda: run_driver("startup", "Varnolt.exe")),
                    ("dialog", lambda: run_driver("startup", "bench_dialog.exe"))])
    r = ratio(t, "console", "headless")
    report.section("7. Console", [
        "| run | median s |", "|---|---|",
        "| %d-line script typed into the console (`LOAD s20000.vrs`, Execute to the end of the run) | %.3f |" % (
            lines, med(t["console"])),
        "| the same script run headless (`Varnolt.exe s20000.vrs`, whole process) | %.3f |" % med(t["headless"]),
        "| start to the console visible (`Varnolt.exe`) | %.3f |" % med(s["console"]),
        "| start to one dialog visible (bench_dialog.exe) | %.3f |" % med(s["dialog"]),
    ], "logged run %.2f× headless (target ≤ 3×); console start-up %.2f× one dialog (target ≤ 1.2×)" % (
        r, ratio(s, "console", "dialog")), r <= 3 and ratio(s, "console", "dialog") <= 1.2)


def bench_help(report):
    guide = os.path.join(BUILD, "Varnolt.htm")
    with VirtualDisplay():
        t = paired([("help", lambda: run_driver("shown", "Varnolt.exe", "HELP")),
                    ("edit", lambda: run_driver("shown", "bench_edit.exe", win(guide)))])
    r = ratio(t, "help", "edit")
    report.section("8. Help viewer", [
        "| run | median s |", "|---|---|",
        "| `Varnolt.exe HELP`: start to the guide (%d KB of HTML) laid out in the help viewer | %.3f |" % (
            os.path.getsize(guide) // 1024, med(t["help"])),
        "| bench_edit.exe: start to the same text in a plain edit control | %.3f |" % med(t["edit"]),
    ], "help viewer %.2f× the edit control (target ≤ 3×); the guide shown in %.2f s (target well under 1 s)" % (
        r, med(t["help"])), r <= 3 and med(t["help"]) < 1)


class Report:
    def __init__(self):
        self.parts = []
        self.missed = []

    def section(self, title, table, verdict, met):
        self.parts.append("## %s\n\n%s\n\n**%s: %s**\n" % (title, "\n".join(table), "met" if met else "MISSED", verdict))
        if not met:
            self.missed.append(title)
        print("%s: %s (%s)" % (title, verdict, "met" if met else "MISSED"), flush=True)


def machine():
    cpu = "unknown"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    mem = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") // 2**20
    return "%s, %d cores, %d MB RAM, %s %s, %s, tmpfs %s" % (
        cpu, os.cpu_count(), mem, platform.system(), platform.release(), wine, TMP)


def main():
    os.makedirs(TMP, exist_ok=True)
    report = Report()
    # The sections before the journal's measure the product against its peers with the
    # journal off; the journal's own section measures it on against off.
    os.environ["VARNOLT_JOURNAL"] = "0"
    only = sys.argv[1:] or ["startup", "script", "check", "reg", "tgz", "copy", "delete", "console", "help", "journal"]
    if "reg" in only:
        only.append("reg-large")
    reg_mem, tgz_mem = {}, {}
    if "startup" in only:
        bench_startup(report)
    if "script" in only:
        bench_script(report, os.path.join(TMP, "script"))
    if "check" in only:
        bench_check(report, os.path.join(TMP, "check"))
    if "reg" in only:
        reg_mem = bench_registry(report, os.path.join(TMP, "reg"))
    if "reg-large" in only:
        bench_large_value(report, os.path.join(TMP, "reg-large"))
    if "tgz" in only:
        tgz_mem = bench_archives(report, os.path.join(TMP, "tgz"))
        bench_large_entry(report, os.path.join(TMP, "tgz-large"), tgz_mem)
    if "copy" in only:
        bench_copy(report, os.path.join(TMP, "copy"))
    if "delete" in only:
        bench_delete(report, os.path.join(TMP, "delete"))
    if "console" in only:
        bench_console(report, os.path.join(TMP, "console"))
    if "help" in only:
        bench_help(report)
    if "journal" in only:
        bench_journal(report, os.path.join(TMP, "journal"))
    if reg_mem or tgz_mem:
        rows, flat = [], True
        for label, mem in (("`.reg` import (values)", reg_mem), ("TGZX", tgz_mem)):
            keys = list(mem)        # smaller input first
            if len(keys) == 2:
                growth = mem[keys[1]] - mem[keys[0]]
                rows.append("| %s | %s: %d KB | %s: %d KB | %+d KB |" % (label, keys[0], mem[keys[0]], keys[1], mem[keys[1]], growth))
                flat = flat and abs(growth) <= 1024
        report.section("6. Peak memory, input ×10", ["| run | smaller input | 10× input | growth |", "|---|---|---|---|"] + rows,
                       "peak private bytes flat within 1 MB", flat)
    shutil.rmtree(TMP, ignore_errors=True)
    text = ["# Benchmark results", "",
            "Written by `make bench` (bench/bench.py); overwritten by each run.", "",
            "- Date: %s" % time.strftime("%Y-%m-%d %H:%M:%S"),
            "- Machine: %s" % machine(),
            "- Method: every input is generated on tmpfs; each repetition runs the product and each peer or floor in turn"
            " (%d repetitions) inside the project's Wine prefix with one wineserver kept up; times are wall-clock"
            " from `CreateProcess` to exit measured inside Wine by bench_run.exe (GNU tar natively); ratios are"
            " medians of the per-repetition ratios." % REPS,
            "- Peaks are the largest private bytes sampled every 2 ms while the program ran.", ""]
    text += report.parts
    if report.missed:
        text += ["## Targets missed", "", "See the notes below each missed table: " + ", ".join(report.missed) + ".", ""]
    if CABARC_MISSING:
        text += ["## Peers missing", "", "cabarc: `cabarc -r -p N <cab> *` in this prefix made no cabinet for %s"
                 " (it answers 'cannot open' for wildcard file lists), so the CAB extraction peer has no figures"
                 " there (n/a)." % ", ".join(dict.fromkeys(CABARC_MISSING)), ""]
    notes = [NOTES[title] for title in report.missed if title in NOTES]
    if notes:
        text += ["## Why targets were missed", ""] + ["- " + note for note in notes] + [""]
    with open(os.path.join(HERE, "RESULTS.md"), "w") as f:
        f.write("\n".join(text) + "\n")
    print("bench: results in bench/RESULTS.md", flush=True)


# What stands behind a miss, by section; printed only for the sections a run misses.
# Each run's own figures above say by how much.
NOTES = {
    "2. Script execution":
        "Script execution: the marginal rate is the difference of two whole-process times divided by"
        " the difference in lines; see which run's medians moved (start-up noise is a few"
        " milliseconds, the long script's extra lines take about a tenth of a second).",
    "3. .reg import":
        ".reg import: at 2,000 values each of the three programs (the floor too) takes either about"
        " 0.02 s or, at random, 0.1-0.18 s in the same prefix (fifteen runs in a row of each showed"
        " both), so a median of a few paired runs can land on either side; at 20,000 values runs"
        " move by about ten per cent from one to the next and ratios near 1 land on either side. The"
        " product makes one registry call per value, as regedit and the floor do; the import itself"
        " is not what separates them.",
    "3b. .reg import of one large value":
        ".reg import of one large value: the product reads each unit of the value a fixed number of"
        " times (the search for a place to cut, which resumes where it stopped; the line's cooked"
        " form; the hex decoding) and stores it with one registry call, as regedit does; runs of"
        " about a second on this shared two-core machine move by tens of per cent from one to the"
        " next, so see whose medians moved.",
    "4. TGZX extraction":
        "TGZX: per entry the product opens and closes one file through the wineserver like the floor;"
        " what remains is process start-up and the per-entry name checks. GNU tar runs natively,"
        " without Wine's per-file cost.",
    "5. FILE copy":
        "FILE copy: per file the product makes the floor's calls and no others (a directory step, an"
        " open of the source, a create of the target, reads up to the first short one, writes, two"
        " closes; under WINEDEBUG=+server the same requests in the same order), and one"
        " CreateDirectoryW per folder; its own extra is process start-up (a GUI program with"
        " advapi32). Runs of a few tenths of a second on this shared two-core machine move by far"
        " more than ten per cent from one run to the next, so a ratio near 1.1 lands on either side.",
    "5b. FILE delete":
        "FILE delete: per file the product makes the floor's search step and DeleteFileW, per folder"
        " one search and one RemoveDirectoryW; besides, it resolves the one name and checks it reaches"
        " no drive's root, and process start-up. See whose medians moved.",
    "7. Console":
        "Console: the window shows before its menu bar is built, so the bar's toolbar no longer holds"
        " it back; what remains is the program's manifest, which asks for common controls 6: the"
        " console's own edit, button and static controls are then those of comctl32 6, and under"
        " WINEDEBUG=+loaddll comctl32 with uxtheme, ole32 and msimg32 load while the dialog is"
        " created, before it shows; the plain dialog has no manifest and uses user32's controls. The"
        " logged run hands the log to its control at most every 50 ms while the run goes on.",
    "8. Help viewer":
        "Help viewer: the page is parsed, every character measured with GDI and laid out when the"
        " window opens; the edit control measures as it breaks lines too. What remains is the"
        " viewer's menu bar and the HTML parsing.",
    "9. Journal":
        "Journal: into new keys and empty folders a change costs one record appended to the journal"
        " file (no read); over existing values each old value is read once, over existing files each"
        " old file is moved into the run's folder (a rename). See which row's medians moved.",
    "6. Peak memory, input ×10":
        "Peak memory: see which run grew; a .reg file is read and imported in pieces of fixed size,"
        " TGZX and FILE copy stream.",
}
CABARC_MISSING = []

if __name__ == "__main__":
    main()
