"""Mutation check of the production code; run through scripts/mutate (see --help there)."""
import argparse
import hashlib
import json
import os
import re
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True
from mutants import TOP, select, tracked_files  # noqa: E402

OUT = os.path.join(TOP, "build-mutate")
REPORT = os.path.join(OUT, "report.tsv")
PRODUCTION = ["ast", "platform", "readers", "writers", "tool", "compare", "hostaudio"]
# What builds and runs the tests; a change to anything else keeps the results.
FINGERPRINTED = ("tests/", "cmake/", "CMakeLists.txt")

# The unit test binaries that exercise a folder, and the black-box suites (None: every one).
# The folders below everything else are covered by their users' tests too.
UNITS = ["ast_tests", "readers_tests", "writers_tests", "tool_tests", "hostaudio_tests"]
TESTS = {
    "ast": (UNITS, None),
    "platform": (UNITS, None),
    "readers": (["readers_tests", "hostaudio_tests"], None),
    "writers": (["writers_tests", "tool_tests"], ["CommandLine", "WavDecode"]),
    "tool": (["tool_tests"], None),
    # ostrel-compare runs as a program: its own tests, and the sweep that judges every fixture.
    "compare": (["compare_tests"], ["HostileFile"]),
    "hostaudio": (["hostaudio_tests", "writers_tests", "tool_tests"], None),
}
SLACK_FACTOR, SLACK_SECONDS = 3, 60  # a mutant's tests may take this much longer than unmutated
BUILD_TIMEOUT = 1800
RESULTS = ["killed", "survived", "timed out", "failed to build"]
COLUMNS = ["id", "key", "folder", "file", "line", "kind", "from", "to", "result", "detail",
           "build_s", "test_s", "code"]


# ---------------------------------------------------------------- running


class Stop(Exception):
    pass


def on_signal(number, frame):
    raise Stop("signal %d" % number)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def fingerprint(files, folders):
    h = hashlib.sha1()
    for f in files:
        if f.startswith(FINGERPRINTED + tuple(d + "/" for d in folders)):
            h.update(f.encode() + b"\0" + read(os.path.join(TOP, f)) + b"\0")
    return h.hexdigest()[:12]


def sync_sources(files):
    """The worktree's files into build-mutate/src; the mutants go there, never into the worktree.
    Unchanged files keep their times, so the build trees stay incremental."""
    src = os.path.join(OUT, "src")
    for f in files:
        data, copy = read(os.path.join(TOP, f)), os.path.join(src, f)
        if not os.path.isfile(copy) or read(copy) != data:
            write(copy, data)
            os.chmod(copy, os.stat(os.path.join(TOP, f)).st_mode & 0o777)
    keep = set(files)
    for root, _, names in os.walk(src):
        for name in names:
            if os.path.relpath(os.path.join(root, name), src) not in keep:
                os.remove(os.path.join(root, name))
    return src


def run(cmd, log, timeout, env=None, stop=None):
    """Runs cmd into log, in its own process group; 'ok', 'failed', 'timeout', or 'stopped' once
    stop(new output) is true. Whatever happens, nothing of it is left running."""
    with open(log, "ab") as f:
        offset = f.tell()
        p = subprocess.Popen(cmd, stdout=f, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env,
                             start_new_session=True)
    deadline = time.monotonic() + timeout
    try:
        while True:
            try:
                return "ok" if p.wait(timeout=0.5) == 0 else "failed"
            except subprocess.TimeoutExpired:
                pass
            if stop is not None:
                with open(log, "rb") as f:
                    f.seek(offset)
                    if stop(f.read().decode("utf-8", "replace")):
                        return "stopped"
            if time.monotonic() > deadline:
                return "timeout"
    finally:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()


def tail(log, pattern):
    with open(log, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    found = re.findall(pattern, text)
    return found[0].strip()[:200] if found else ""


class Tree:
    """One folder's build tree, built from the copy; only the targets its tests need."""

    def __init__(self, folder, src, jobs):
        self.folder = folder
        self.units, suites = TESTS.get(folder, (UNITS, None))
        self.suites, self.jobs = suites, jobs
        self.dir = os.path.join(OUT, folder.replace("/", "-"))
        self.src = src
        self.targets = self.units + ["ostrel", "blackbox_tests"]
        self.env = dict(os.environ, HOSTAUDIO_ALSA_DEVICE="")

    def configure(self, log):
        if os.path.isfile(os.path.join(self.dir, "CMakeCache.txt")):
            return True
        # As the default build, less the debug information: links are quicker without it.
        flags = "-O2 -DNDEBUG"
        cmd = ["cmake", "-S", self.src, "-B", self.dir, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
               "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=" + flags, "-DCMAKE_C_FLAGS_RELWITHDEBINFO=" + flags,
               "-DOSTREL_BUILD_BENCH=OFF"]
        return run(cmd, log, 600) == "ok"

    def build(self, log):
        cmd = ["cmake", "--build", self.dir, "-j%d" % self.jobs, "--target"] + self.targets
        return run(cmd, log, BUILD_TIMEOUT)

    def unit(self, name):
        return os.path.join(self.dir, "tests", name[:-len("_tests")], name)

    def blackbox(self):
        """The black-box tests of this folder, by their full names."""
        out = subprocess.run([os.path.join(self.dir, "tests/blackbox/blackbox_tests"), "--gtest_list_tests"],
                             capture_output=True, text=True, check=True, env=self.env).stdout
        names, suite = [], ""
        for line in out.split("\n"):
            if line and not line.startswith(" "):
                suite = line.split(".")[0]
            elif line.strip() and (self.suites is None or suite in self.suites):
                names.append(suite + "." + line.split()[0])
        return names

    def run_units(self, log, bounds):
        for name in self.units:
            status = run([self.unit(name), "--gtest_brief=1", "--gtest_fail_fast"], log, bounds[name], self.env)
            if status == "timeout":
                return "timed out", name
            if status != "ok":
                return "killed", tail(log, r"\[  FAILED  \] (\S+)") or name
        return None, ""

    def run_blackbox(self, log, names, bound):
        pattern = "^(" + "|".join(re.escape(n) for n in names) + ")$"
        failure = re.compile(r"Test +#\d+: (\S+) \.*\s*\*\*\*(\w+)")
        cmd = ["ctest", "--test-dir", self.dir, "-j%d" % self.jobs, "--no-tests=error", "-R", pattern]
        status = run(cmd, log, bound, self.env, stop=failure.search)
        found = failure.search(tail(log, r"Test +#\d+: \S+ \.*\s*\*\*\*\w+"))
        if status == "timeout" or (found and found.group(2) == "Timeout"):
            return "timed out", found.group(1) if found else "ctest"
        if status == "ok":
            return None, ""
        if found:
            return "killed", found.group(1)
        raise SystemExit("ctest failed without a failing test; see " + log)


def baseline(tree, fp, log):
    """Every test's time without a mutant, cached per fingerprint; the mutants' time bounds."""
    path = os.path.join(OUT, "baseline.json")
    data = json.load(open(path)) if os.path.isfile(path) else {}
    if data.get("fingerprint") != fp:
        data = {"fingerprint": fp, "units": {}, "blackbox": {}}
    for name in tree.units:
        if name not in data["units"]:
            started = time.monotonic()
            if run([tree.unit(name), "--gtest_brief=1"], log, 1800, tree.env) != "ok":
                raise SystemExit("%s fails without a mutant; see %s" % (name, log))
            data["units"][name] = round(time.monotonic() - started, 2)
    missing = [n for n in tree.blackbox() if n not in data["blackbox"]]
    if missing:
        before = os.path.getsize(log)
        pattern = "^(" + "|".join(re.escape(n) for n in missing) + ")$"
        if run(["ctest", "--test-dir", tree.dir, "-j%d" % tree.jobs, "-R", pattern], log, 3600, tree.env) != "ok":
            raise SystemExit("black-box tests fail without a mutant; see " + log)
        with open(log, "rb") as f:
            f.seek(before)
            for name, secs in re.findall(r"Test +#\d+: (\S+) \.* *Passed +([\d.]+) sec", f.read().decode()):
                data["blackbox"][name] = float(secs)
    with open(path, "w") as f:
        json.dump(data, f, indent=1)
    return data


def bounds(tree, data):
    units = {n: SLACK_FACTOR * data["units"][n] + SLACK_SECONDS for n in tree.units}
    times = [data["blackbox"].get(n, 60.0) for n in tree.blackbox()]
    stage = max(sum(times) / tree.jobs, max(times, default=0))
    return units, SLACK_FACTOR * stage + SLACK_SECONDS


# ---------------------------------------------------------------- report


def load_report(path):
    header, rows = {}, {}
    if not os.path.isfile(path):
        return header, rows
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("# ") and "=" in line:
                for word in line[2:].split():
                    k, _, v = word.partition("=")
                    header[k] = v
            elif line and not line.startswith(("#", "id\t")):
                row = dict(zip(COLUMNS, line.split("\t")))
                rows[row["id"]] = row
    return header, rows


def save_report(path, header, rows):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write("# " + " ".join("%s=%s" % kv for kv in header.items()) + "\n")
        f.write("\t".join(COLUMNS) + "\n")
        for key in sorted(rows):
            f.write("\t".join(str(rows[key].get(c, "")).replace("\t", " ") for c in COLUMNS) + "\n")
    os.replace(tmp, path)


def rate(counts):
    tested = counts["killed"] + counts["survived"] + counts["timed out"]
    return "%.1f%%" % (100.0 * (counts["killed"] + counts["timed out"]) / tested) if tested else "-"


def summary(rows, folders):
    table = {f: dict.fromkeys(RESULTS, 0) for f in folders if any(r["folder"] == f for r in rows.values())}
    for r in rows.values():
        table.setdefault(r["folder"], dict.fromkeys(RESULTS, 0))[r["result"]] += 1
    total = {k: sum(t[k] for t in table.values()) for k in RESULTS}
    print("\n%-12s %7s %7s %9s %10s %16s %10s" % ("folder", "mutants", "killed", "survived", "timed out",
                                                  "failed to build", "kill rate"))
    for name, t in list(table.items()) + [("total", total)]:
        print("%-12s %7d %7d %9d %10d %16d %10s" % (name, sum(t.values()), t["killed"], t["survived"],
                                                   t["timed out"], t["failed to build"], rate(t)))
    print("kill rate: (killed + timed out) / (killed + survived + timed out)")
    survivors = [r for r in rows.values() if r["result"] == "survived"]
    if survivors:
        print("\nSurvivors:")
    for r in sorted(survivors, key=lambda r: r["id"]):
        print("  %s %s:%s %s '%s' -> '%s': %s" % (r["id"], r["file"], r["line"], r["kind"], r["from"], r["to"],
                                                 r["code"]))


def compare(old_path, rows):
    _, old = load_report(old_path)
    common = [i for i in sorted(rows) if i in old and old[i]["key"] == rows[i]["key"]]
    def counts(report):
        c = dict.fromkeys(RESULTS, 0)
        for i in common:
            c[report[i]["result"]] += 1
        return c
    print("\nOn the %d mutants of both reports: kill rate %s before, %s now" % (len(common), rate(counts(old)),
                                                                               rate(counts(rows))))
    for i in common:
        if old[i]["result"] != rows[i]["result"]:
            print("  %s %s:%s %s: %s -> %s" % (i, rows[i]["file"], rows[i]["line"], rows[i]["kind"],
                                              old[i]["result"], rows[i]["result"]))


# ---------------------------------------------------------------- main


def main():
    parser = argparse.ArgumentParser(prog="scripts/mutate", description=(
        "Mutation check: a fixed, seeded set of mutants of the production folders, each built in "
        "build-mutate/<folder>/ and tested by the tests that cover its folder. Results go to "
        "build-mutate/report.tsv; a rerun with the same seed and count continues where the last stopped."))
    parser.add_argument("folders", nargs="*", metavar="FOLDER", help="further production folders")
    parser.add_argument("--count", type=int, default=80, help="mutants in the set (default 80)")
    parser.add_argument("--seed", type=int, default=1, help="chooses the set (default 1)")
    parser.add_argument("--folder", action="append", default=[],
                        help="run only this folder's mutants of the set (repeatable)")
    parser.add_argument("--ids", default="", help="run only these mutants of the set, e.g. M03,M41")
    parser.add_argument("--list", action="store_true", help="print the set and stop")
    parser.add_argument("--fresh", action="store_true", help="rerun mutants the report already has")
    parser.add_argument("--compare", metavar="OLD_REPORT", help="compare the results with an earlier report")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2,
                        help="parallel compiles and ctest jobs (default: the processors)")
    args = parser.parse_args()

    folders = sorted(set(PRODUCTION + [f.strip("/") for f in args.folders]))
    for f in folders + args.folder:
        if not os.path.isdir(os.path.join(TOP, f)):
            parser.error("no folder " + f)
    mutants, lines = select(args.count, args.seed, folders)
    if args.list:
        for m in mutants:
            print("%s %s:%d %s '%s' -> '%s': %s" % (m["id"], m["file"], m["line"], m["kind"], m["old"], m["new"],
                                                   m["mutated"]))
        return 0
    wanted = [m for m in mutants if (not args.folder or m["folder"] in [f.strip("/") for f in args.folder])
              and (not args.ids or m["id"] in args.ids.split(","))]

    os.makedirs(os.path.join(OUT, "logs"), exist_ok=True)
    files = tracked_files()
    fp = fingerprint(files, folders)
    header = {"seed": args.seed, "count": args.count, "folders": ",".join(folders), "fingerprint": fp}
    old_header, rows = load_report(REPORT)
    if old_header != {k: str(v) for k, v in header.items()}:
        if rows:
            os.replace(REPORT, os.path.join(OUT, "report.prev.tsv"))
            print("The tests, the code or the set changed: the last report is now build-mutate/report.prev.tsv")
        rows = {}
    rows = {i: r for i, r in rows.items() if any(m["id"] == i and m["key"] == r["key"] for m in mutants)}
    todo = [m for m in wanted if args.fresh or m["id"] not in rows]
    print("%d mutants in the set (seed %d), %d to run here; report: %s" % (len(mutants), args.seed, len(todo),
                                                                           os.path.relpath(REPORT, TOP)))

    for sig in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(sig) != signal.SIG_IGN:  # nohup stays nohup
            signal.signal(sig, on_signal)
    src = sync_sources(files)
    tree = None
    try:
        for m in todo:
            if tree is None or tree.folder != m["folder"]:
                tree = Tree(m["folder"], src, args.jobs)
                log = os.path.join(OUT, "logs", m["folder"].replace("/", "-") + "-baseline.log")
                open(log, "w").close()
                print("%s: building %s ... " % (m["folder"], os.path.relpath(tree.dir, TOP)), end="", flush=True)
                started = time.monotonic()
                if not tree.configure(log) or tree.build(log) != "ok":
                    raise SystemExit("the unmutated build fails; see " + log)
                built = time.monotonic()
                unit_bounds, blackbox_bound = bounds(tree, baseline(tree, fp, log))
                names = tree.blackbox()
                print("%.0fs, unmutated tests %.0fs" % (built - started, time.monotonic() - built), flush=True)
            rows[m["id"]] = run_mutant(m, tree, src, lines, unit_bounds, names, blackbox_bound)
            save_report(REPORT, header, rows)
    except (KeyboardInterrupt, Stop):
        print("\nStopped; the report keeps what ran, a rerun continues.")
        save_report(REPORT, header, rows)
        summary(rows, folders)
        return 130
    save_report(REPORT, header, rows)
    summary(rows, folders)
    if args.compare:
        compare(args.compare, rows)
    return 0


def run_mutant(m, tree, src, lines, unit_bounds, names, blackbox_bound):
    path = os.path.join(src, m["file"])
    original = read(path)
    text = lines[m["file"]][:]
    line = text[m["line"] - 1]
    text[m["line"] - 1] = line[:m["start"]] + m["new"] + line[m["end"]:]
    log = os.path.join(OUT, "logs", m["id"] + ".log")
    open(log, "w").close()
    row = {c: m.get(c, "") for c in COLUMNS}
    row.update({"from": m["old"], "to": m["new"], "detail": ""})
    print("%s %s:%d %s '%s' -> '%s' ... " % (m["id"], m["file"], m["line"], m["kind"], m["old"], m["new"]),
          end="", flush=True)
    started = time.monotonic()
    try:
        write(path, "\n".join(text).encode("utf-8", "surrogateescape"))
        status = tree.build(log)
        built = time.monotonic()
        if status != "ok":
            row["result"] = "failed to build"
            row["detail"] = tail(log, r"error: .*") if status == "failed" else "build timed out"
        else:
            result, detail = tree.run_units(log, unit_bounds)
            if result is None and names:
                result, detail = tree.run_blackbox(log, names, blackbox_bound)
            row["result"], row["detail"] = result or "survived", detail
    finally:
        # Written anew, the original is newer than the mutant's objects and gets rebuilt. A second
        # Ctrl-C waits until it is whole.
        stops = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        signal.pthread_sigmask(signal.SIG_BLOCK, stops)
        write(path, original)
        signal.pthread_sigmask(signal.SIG_UNBLOCK, stops)
    row["build_s"] = "%.0f" % (built - started)
    row["test_s"] = "%.0f" % (time.monotonic() - built)
    print("%s %s (build %ss, tests %ss)" % (row["result"], row["detail"], row["build_s"], row["test_s"]), flush=True)
    return row


if __name__ == "__main__":
    sys.exit(main())
