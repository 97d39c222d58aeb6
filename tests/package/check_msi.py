#!/usr/bin/env python3
"""The MSI as an administrator meets it, under Wine's msiexec in a prefix of its own
(<build>/msi-prefix, made afresh and removed afterwards with the packages in <build>/msi-work):
a package signed with a throwaway certificate installs silently for the user, runs an example
from the program folder, and has its shortcut, .vrs type and Add/Remove Programs entry; a repair
puts back a deleted file; a package of a higher version replaces it; uninstalling leaves nothing
of it but what a script wrote; and the same package installs and uninstalls for all users.

    check_msi.py <source folder> <build folder>
"""
import hashlib, os, re, shutil, subprocess, sys, zipfile

SOURCE, BUILD = (os.path.abspath(arg) for arg in sys.argv[1:3])
PREFIX = os.path.join(BUILD, "msi-prefix")
WORK = os.path.join(BUILD, "msi-work")
WINE = shutil.which("wine64") or shutil.which("wine") or "/usr/lib/wine/wine64"
# No display (nothing here opens a window), and no Linux menu entries for the Start-menu
# shortcut: Wine's menu builder, and wineboot's folders for it, stay out of the home folder.
ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", DISPLAY="",
           WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
           XDG_DATA_HOME=os.path.join(WORK, "xdg-data"), XDG_CONFIG_HOME=os.path.join(WORK, "xdg-config"))
ENV.pop("VARNOLT_TRACE", None)
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, errors="replace", **options)


def wine(*args, **options):
    return run([WINE, *args], env=dict(ENV, **options.pop("env", {})), **options)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def unix_path(path):
    """A path on the prefix's drive C as Linux sees it."""
    assert path[:3].upper() == "C:\\", path
    return os.path.join(PREFIX, "drive_c", *path[3:].rstrip("\\").split("\\"))


def msiexec(*args):
    log = os.path.join(WORK, "msiexec-%d.log" % len(os.listdir(WORK)))
    done = wine("msiexec", *args, "/qn", "/l*v", windows_path(log))
    written = os.path.isfile(log) and b"Varnolt" in open(log, "rb").read().replace(b"\0", b"")
    return done.returncode, written


def registry(key):
    """{subkey path: {value name: data}} below a key ('' for the default value); None when absent."""
    done = wine("reg", "query", key, "/s")
    if done.returncode != 0:
        return None
    keys, current = {}, None
    for line in done.stdout.replace("\r", "").splitlines():
        if line.startswith("HKEY_"):
            current = keys.setdefault(line, {})
        m = re.match(r"^    (.*?)    (REG_\w+)    ?(.*)$", line)
        if m and current is not None:
            current["" if m.group(1) == "(Default)" else m.group(1)] = m.group(3)
    return keys


def default_value(key):
    values = registry(key)
    return None if values is None else next(iter(values.values()), {}).get("")


def arp_entries():
    """The Add/Remove Programs entries named Varnolt, for the machine and for the user."""
    entries = {}
    for root in ("HKLM", "HKCU"):
        for key, values in (registry(root + "\\" + UNINSTALL) or {}).items():
            if values.get("DisplayName") == "Varnolt":
                entries[key.rsplit("\\", 1)[1]] = values
    return entries


def msi_property(msi, name):
    table = run(["msiinfo", "export", msi, "Property"], check=True).stdout
    return dict(line.split("\t", 1) for line in table.splitlines() if "\t" in line)[name]


def make_dist(out, *args, env=None):
    done = run([sys.executable, os.path.join(SOURCE, "scripts", "make-dist.py"), "--build", BUILD, "--out", out, *args],
               env=dict(os.environ, **(env or {})))
    if done.returncode != 0:
        sys.exit("make-dist failed:\n" + done.stdout + done.stderr)
    return done.stdout.split()


def zip_contents(path):
    with zipfile.ZipFile(path) as package:
        return {name.split("/", 1)[1]: package.read(name) for name in package.namelist() if not name.endswith("/")}


def folder_contents(folder):
    contents = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            contents[os.path.relpath(path, folder).replace(os.sep, "/")] = open(path, "rb").read()
    return contents


def signed_by(path, certificate):
    return run(["osslsigncode", "verify", "-CAfile", certificate, "-in", path]).returncode == 0


def throwaway_certificate():
    key, cert, pfx = (os.path.join(WORK, name) for name in ("sign.key", "sign.pem", "sign.pfx"))
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
         "-subj", "/CN=Varnolt test signer", "-addext", "extendedKeyUsage=codeSigning"], check=True)
    run(["openssl", "pkcs12", "-export", "-out", pfx, "-inkey", key, "-in", cert, "-passout", "pass:test secret"],
        check=True)
    return pfx, cert


def raised(version, field):
    fields = version.split(".")
    fields[field] = str(int(fields[field]) + 1)
    return ".".join(fields)


def check_winget(folder, msi, version):
    manifests = {name: open(os.path.join(folder, name), encoding="utf-8").read() for name in os.listdir(folder)}
    check(sorted(manifests) == ["Varnolt.Varnolt.installer.yaml", "Varnolt.Varnolt.locale.en-US.yaml",
                                "Varnolt.Varnolt.yaml"], "winget: the three manifest files")
    check(all(re.search(r"^PackageVersion: %s$" % re.escape(version), text, re.M) for text in manifests.values()),
          "winget: every file names version " + version)
    installer = manifests.get("Varnolt.Varnolt.installer.yaml", "")
    digest = hashlib.sha256(open(msi, "rb").read()).hexdigest().upper()
    check(re.findall(r"InstallerSha256: (\w+)", installer) == [digest, digest], "winget: the MSI's SHA-256")
    codes = set(re.findall(r"ProductCode: '(\{[0-9A-F-]+\})'", installer))
    check(codes == {msi_property(msi, "ProductCode")}, "winget: the MSI's product code")
    check(all(url.endswith("/" + os.path.basename(msi)) for url in re.findall(r"InstallerUrl: (\S+)", installer)),
          "winget: the URL names the MSI")


def only_entry(entries):
    return next(iter(entries.values())) if len(entries) == 1 else None


def check_installed(entry, version, files, location, start_menu, root):
    """An installation in the folder location: its one ARP entry, its files, shortcut and file type."""
    check(entry is not None and entry.get("DisplayVersion") == version, "ARP: one entry, version " + version)
    entry = entry or {}
    check(entry.get("URLInfoAbout") == "https://varnolt.example.org/", "ARP: the project's address")
    check(int(entry.get("Size") or 0) >= sum(len(data) for data in files.values()) // 1024, "ARP: the size")
    check(entry.get("InstallLocation") == location, "ARP: installed in " + location)
    check(folder_contents(unix_path(location)) == files, "the program folder holds the package's files")
    shortcuts = start_menu_shortcuts(start_menu)
    program = location + "Varnolt.exe"
    check(len(shortcuts) == 1 and program.encode() in open(shortcuts[0], "rb").read(),
          "Start-menu shortcut to Varnolt.exe")
    classes = root + r"\Software\Classes"
    check(default_value(classes + r"\.vrs") == "Varnolt.Script", ".vrs is a Varnolt script in " + classes)
    check(default_value(classes + r"\Varnolt.Script\shell\open\command") == '"%s" "%%1"' % program,
          ".vrs: open runs the script")
    check(default_value(classes + r"\Varnolt.Script\shell\edit\command") == 'notepad.exe "%1"',
          ".vrs: edit opens Notepad")
    check(default_value(classes + r"\Varnolt.Script\DefaultIcon") == program + ",0", ".vrs: the program's icon")


def run_installed(location, command):
    """Runs the Varnolt.exe installed in location through vrun (copied next to it for the call)
    and returns the full exit code and the trace."""
    runner = os.path.join(unix_path(location), "vrun.exe")
    trace = os.path.join(WORK, "trace.txt")
    shutil.copy(os.path.join(BUILD, "vrun.exe"), runner)
    try:
        done = wine(location + "vrun.exe", command, env={"VARNOLT_TRACE": windows_path(trace)})
    finally:
        os.remove(runner)
    m = re.search(r"exit code: (\d+)", done.stdout)
    text = open(trace, "rb").read().decode("utf-8", "replace") if os.path.exists(trace) else ""
    if os.path.exists(trace):
        os.remove(trace)
    return (int(m.group(1)) if m else None), text


def start_menu_shortcuts(menus):
    """The shortcuts Varnolt.lnk in the given Start menus (folders below drive C)."""
    paths = [os.path.join(PREFIX, "drive_c", *menu.split("\\"), "Varnolt.lnk") for menu in menus]
    return [path for path in paths if os.path.isfile(path)]


def check_removed(location, start_menu, root):
    check(not os.path.exists(unix_path(location)), "nothing left in the program folder " + location)
    check(not start_menu_shortcuts(start_menu), "no Start-menu shortcut")
    for key in (r"\Software\Classes\.vrs", r"\Software\Classes\Varnolt.Script", r"\Software\Varnolt\Installer"):
        check(registry(root + key) is None, "no key " + root + key)
    check(not arp_entries(), "no ARP entry")


def main():
    if not shutil.which("wixl"):
        print("wixl is missing (scripts/install-deps.sh installs it): skipped")
        return 77
    for folder in (PREFIX, WORK):
        shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(WORK)
    try:
        pfx, certificate = throwaway_certificate()
        signing = {"SIGN_PFX": pfx, "SIGN_PASSWORD": "test secret"}
        zip_a, msi_a, winget = make_dist(os.path.join(WORK, "a"), "--parts", "zip,msi,winget", env=signing)
        version_a = msi_property(msi_a, "ProductVersion")
        files_a = zip_contents(zip_a)
        # Higher versions: in the fourth field, which Windows Installer does not compare (the
        # package replaces an equal a.b.c all the same), and in the third. Signed and unsigned
        # in turn, so that each one's Varnolt.exe differs from the one before.
        upgrades = []
        for field, sign in ((3, {"SIGN_PFX": "", "SIGN_PASSWORD": ""}), (2, signing)):
            version = raised(version_a, field)
            zip_path, msi = make_dist(os.path.join(WORK, version), "--parts", "zip,msi", "--version", version, env=sign)
            upgrades.append((version, msi, zip_contents(zip_path)))
        check(signed_by(msi_a, certificate), "the MSI is signed with the certificate given")
        packed = os.path.join(WORK, "Varnolt.exe")
        with open(packed, "wb") as out:
            out.write(files_a["Varnolt.exe"])
        check(signed_by(packed, certificate), "the packed Varnolt.exe is signed")
        check(not signed_by(upgrades[0][1], certificate), "without a certificate nothing is signed")
        check_winget(winget, msi_a, version_a)

        # The first program of a server's life starts the prefix's services, which inherit its
        # output and would hold a pipe open: the prefix's first programs write nowhere.
        quiet = dict(env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINE, "wineboot", "--init"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
        subprocess.Popen(["wineserver", "-p"], **quiet)
        subprocess.run([WINE, "cmd", "/c", "exit"], **quiet)
        users = [name for name in os.listdir(os.path.join(PREFIX, "drive_c", "users")) if name != "Public"]
        user = (users or ["?"])[0]
        user_menu = [r"users\%s\AppData\Roaming\Microsoft\Windows\Start Menu\Programs" % user]
        user_folder = "C:\\users\\%s\\AppData\\Local\\Programs\\Varnolt\\" % user

        print("-- install for the user, signed")
        check(msiexec("/i", windows_path(msi_a)) == (0, True), "msiexec /i exits 0 and writes its log")
        check_installed(only_entry(arp_entries()), version_a, files_a, user_folder, user_menu, "HKCU")
        code, trace = run_installed(user_folder, user_folder + r"examples\demo.vrs")
        check(code == 0, "examples\\demo.vrs from the program folder exits 0 (got %s)" % code)
        check(re.search(r"^TGZX %s\x01[^\n]*\n     00000000 " % re.escape(user_folder + r"examples\sample.tgz"),
                        trace.replace("\r", ""), re.M) is not None,
              "the demo extracts the sample archive installed beside it")
        # The program's own setting, written by a script: uninstalling must keep it.
        code, _ = run_installed(user_folder, r"REGX HKCU\Software\Varnolt\BrowseFile=C:\kept.vrs")
        check(code == 0, "a script writes the program's setting")

        print("-- repair")
        # What msiexec /famus does; Wine's msiexec takes no product for /f, its installer the
        # same request as properties.
        hello = os.path.join(unix_path(user_folder), "examples", "hello.vrs")
        os.remove(hello)
        wine("reg", "delete", r"HKCU\Software\Classes\.vrs", "/f")
        check(msiexec("/i", windows_path(msi_a), "REINSTALL=ALL", "REINSTALLMODE=amus") == (0, True),
              "repair exits 0 and writes its log")
        check(os.path.isfile(hello) and open(hello, "rb").read() == files_a["examples/hello.vrs"],
              "repair puts the deleted example back")
        check(default_value(r"HKCU\Software\Classes\.vrs") == "Varnolt.Script", "repair puts the .vrs type back")

        for version, msi, files in upgrades:
            print("-- %s over it" % version)
            check(msiexec("/i", windows_path(msi)) == (0, True), "msiexec /i exits 0")
            entries = arp_entries()
            check(list(entries) == [msi_property(msi, "ProductCode")], "ARP: only the new package's entry")
            check_installed(only_entry(entries), version, files, user_folder, user_menu, "HKCU")

        print("-- uninstall")
        check(msiexec("/x", windows_path(msi)) == (0, True), "msiexec /x exits 0 and writes its log")
        check_removed(user_folder, user_menu, "HKCU")
        kept = registry(r"HKCU\Software\Varnolt") or {}
        check(kept.get(r"HKEY_CURRENT_USER\Software\Varnolt", {}).get("BrowseFile") == r"C:\kept.vrs",
              "what the script wrote stays")

        print("-- for all users")
        check(msiexec("/i", windows_path(msi_a), "ALLUSERS=1") == (0, True), "msiexec /i ALLUSERS=1 exits 0")
        # Wine's installer puts the shortcut in the user's Start menu even for all users.
        machine_menu = [r"ProgramData\Microsoft\Windows\Start Menu\Programs"] + user_menu
        machine_folder = "C:\\Program Files\\Varnolt\\"
        check_installed(only_entry(arp_entries()), version_a, files_a, machine_folder, machine_menu, "HKLM")
        check(registry(r"HKCU\Software\Classes\.vrs") is None, "for all users: nothing in the user's classes")
        check(msiexec("/x", windows_path(msi_a)) == (0, True), "msiexec /x without ALLUSERS exits 0")
        check_removed(machine_folder, machine_menu, "HKLM")
    finally:
        run(["wineserver", "-k"], env=ENV)     # this prefix's server only
        run(["wineserver", "-w"], env=ENV)
        for folder in (PREFIX, WORK):
            shutil.rmtree(folder, ignore_errors=True)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
