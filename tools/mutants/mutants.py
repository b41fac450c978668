#!/usr/bin/env python3
"""Seeded-fault (mutation) testing of Pellucer's native test suite.

Each fault of tools/mutants/faults.txt is a small source change a developer could plausibly
make. The tool applies them one at a time to a scratch copy of the tree, rebuilds the native
test program (Debug -O1 under ASan/UBSan, as `make test` builds build/linux) and runs it whole.
A fault the suite notices (a failing test, a sanitizer report, a crash, a timeout) is "caught";
one it passes with is "survived" and marks a gap in the tests.

    python3 tools/mutants/mutants.py [--only ID[,ID...]] [--list] [--keep-going]
                                     [--timeout SECONDS] [--jobs N] [--faults FILE]

Layout, all under build/mutants/ (build/ is ignored by git):
    src/        the working tree's files (`git ls-files -co --exclude-standard`); re-synced at
                every start, so an unchanged file keeps its time stamp and is not rebuilt
    build/      the native build of src/ (Ninja)
    logs/       the build and test output of the baseline and of every fault
    report.md   the results table of the latest run (rewritten after every fault, so a run cut
                short leaves one too)
    results.json  the same, for scripts
    report-full.md, results-full.json
                copies of the last completed run of the whole default list (--only runs
                and other lists leave them alone)

Results:
    caught          the test program failed: failing tests named, or the crash / sanitizer
                    report / timeout that ended it
    survived        the test program passed with the fault in place
    not-applicable  the snippet does not occur exactly once in the file (the code has moved
                    on: fix the fault list; nothing is guessed)
    build-failed    the fault does not compile; not a catch, counted apart

Without --keep-going the run refuses to start while any fault is not applicable and stops at the
first fault that does not build; with it those are recorded and the run goes on. The baseline
(no fault) must build and pass, or the run stops: a fault can only be judged against a suite
that passes. Exit status: 0 when the run completed, 1 when it stopped at a bad fault, 2 when the
baseline or the set-up failed.

Python 3 standard library only.
"""

from __future__ import annotations

import argparse
import dataclasses
import fcntl
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
# PELLUCER_MUTANTS_DIR moves the whole layout elsewhere (for two runs side by side).
WORK = Path(os.environ["PELLUCER_MUTANTS_DIR"]).resolve() if os.environ.get("PELLUCER_MUTANTS_DIR") \
    else REPO / "build" / "mutants"
SRC = WORK / "src"
BUILD = WORK / "build"
LOGS = WORK / "logs"
REPORT_MD = WORK / "report.md"
REPORT_JSON = WORK / "results.json"
# The last run of the whole list, which runs with --only leave alone.
FULL_REPORT_MD = WORK / "report-full.md"
FULL_REPORT_JSON = WORK / "results-full.json"
DEFAULT_FAULTS = Path(__file__).resolve().parent / "faults.txt"

TEST_TARGET = "pellucer_tests"
TEST_PROGRAM = Path("tests") / "pellucer_tests"

# Used only when the Makefile cannot be asked (see makefile_settings); kept equal to its values.
FALLBACK_LINUX_FLAGS = [
    "-DCMAKE_BUILD_TYPE=Debug",
    "-DCMAKE_C_FLAGS_DEBUG=-g -O1",
    "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1",
    "-DPELLUCER_SANITIZE=ON",
]
FALLBACK_ASAN = ("detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:"
                 "strict_init_order=1")
FALLBACK_UBSAN = "print_stacktrace=1:halt_on_error=1"

ID_PATTERN = re.compile(r"^[A-Za-z0-9][A-Za-z0-9_-]*$")
FAILED_TEST = re.compile(r"^\[  FAILED  \] ([A-Za-z_][\w/]*\.[\w/]+)", re.M)
RUN_LINE = re.compile(r"^\[ RUN      \] ([A-Za-z_][\w/]*\.[\w/]+)")
END_LINE = re.compile(r"^\[(?:       OK |  FAILED  |  SKIPPED ) \] ([A-Za-z_][\w/]*\.[\w/]+)")
RAN_SUMMARY = re.compile(r"^\[==========\] \d+ tests? from \d+ test suites? ran", re.M)
PASSED_SUMMARY = re.compile(r"^\[  PASSED  \] (\d+) tests?", re.M)
SANITIZER = re.compile(r"(ERROR: (?:Address|Leak|Memory|Thread)Sanitizer: [\w-]+|runtime error: .*)")
COMPILER_ERROR = re.compile(r"^(\S+:\d+:\d+: (?:fatal )?error: .*)$", re.M)

FAILING_TESTS_SHOWN = 3


# ---- the fault list ---------------------------------------------------------------------------

@dataclasses.dataclass
class Fault:
    id: str
    file: str
    desc: str
    find: str
    replace: str
    line: int  # where its block starts in the list, for messages

    @property
    def area(self) -> str:
        for prefix, name in (("dsp/", "dsp"), ("core/", "core"), ("Shared/GUI/", "editor"),
                             ("GUI/", "editor"), ("dx/", "dx"), ("tools/render/", "render")):
            if self.file.startswith(prefix):
                return name
        return "other"


class FaultListError(Exception):
    pass


def parse_faults(path: Path) -> list[Fault]:
    """Reads the fault list (format described at the top of faults.txt)."""
    lines = path.read_text(encoding="utf-8").split("\n")
    faults: list[Fault] = []
    current: dict | None = None
    i = 0

    def finish():
        if current is None:
            return
        where = f"{path.name}:{current['line']}"
        missing = [k for k in ("file", "desc", "find", "replace") if k not in current]
        if missing:
            raise FaultListError(f"{where}: fault [{current['id']}] lacks {', '.join(missing)}")
        if current["find"] == "":
            raise FaultListError(f"{where}: fault [{current['id']}] has an empty find")
        if current["find"] == current["replace"]:
            raise FaultListError(f"{where}: fault [{current['id']}] replaces its snippet by itself")
        faults.append(Fault(current["id"], current["file"], current["desc"], current["find"],
                            current["replace"], current["line"]))

    while i < len(lines):
        raw = lines[i]
        i += 1
        text = raw.strip()
        if text == "" or text.startswith("#"):
            continue
        if text.startswith("[") and text.endswith("]"):
            finish()
            fault_id = text[1:-1].strip()
            if not ID_PATTERN.match(fault_id):
                raise FaultListError(f"{path.name}:{i}: bad fault id [{fault_id}]")
            if any(f.id == fault_id for f in faults):
                raise FaultListError(f"{path.name}:{i}: fault id [{fault_id}] used twice")
            current = {"id": fault_id, "line": i}
            continue
        if current is None:
            raise FaultListError(f"{path.name}:{i}: text outside a fault block: {raw!r}")
        heredoc = re.match(r"^(\w+)\s*<<\s*(\S+)\s*$", text)
        if heredoc:
            key, marker = heredoc.group(1), heredoc.group(2)
            body = []
            while True:
                if i >= len(lines):
                    raise FaultListError(f"{path.name}: here-document {marker} of [{current['id']}] "
                                         f"never ends")
                if lines[i].strip() == marker:
                    i += 1
                    break
                body.append(lines[i])
                i += 1
            value = "\n".join(body)
        else:
            match = re.match(r"^(\w+)\s*=(.*)$", text)
            if not match:
                raise FaultListError(f"{path.name}:{i}: expected 'key = value': {raw!r}")
            key, value = match.group(1), match.group(2).strip()
        if key not in ("file", "desc", "find", "replace"):
            raise FaultListError(f"{path.name}:{i}: unknown key '{key}' in [{current['id']}]")
        if key in current:
            raise FaultListError(f"{path.name}:{i}: '{key}' given twice in [{current['id']}]")
        current[key] = value
    finish()
    if not faults:
        raise FaultListError(f"{path}: no faults")
    return faults


def read_text(path: Path) -> str:
    # newline="" keeps line endings as they are; surrogateescape keeps any stray byte.
    with open(path, encoding="utf-8", errors="surrogateescape", newline="") as f:
        return f.read()


def write_text(path: Path, text: str) -> None:
    with open(path, "w", encoding="utf-8", errors="surrogateescape", newline="") as f:
        f.write(text)
    # Ninja compares time stamps: whatever is written now must count as newer than the objects
    # built from the text it replaces.
    now = time.time_ns()
    os.utime(path, ns=(now, now))


def applicability(fault: Fault, root: Path) -> str | None:
    """None when the snippet occurs exactly once in the file under `root`, else the reason."""
    path = root / fault.file
    if not path.is_file():
        return f"{fault.file} does not exist"
    count = read_text(path).count(fault.find)
    if count == 1:
        return None
    return "snippet not found" if count == 0 else f"snippet found {count} times"


# ---- the scratch copy -------------------------------------------------------------------------

def git_files() -> list[str]:
    out = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=REPO,
                         check=True, capture_output=True).stdout
    names = sorted({n for n in out.decode("utf-8", "surrogateescape").split("\0") if n})
    # Never copy build products into themselves, whatever the ignore rules say.
    return [n for n in names if not n.startswith(("build/", "dist/"))]


def sync_scratch_copy() -> tuple[int, int]:
    """Makes SRC hold exactly the working tree's files. Unchanged files keep their time stamps
    (no rebuild); changed or new ones get the current time. Answers (files, files written)."""
    names = git_files()
    wanted = set()
    written = 0
    for name in names:
        source = REPO / name
        if not source.exists() and not source.is_symlink():
            continue  # deleted in the working tree but still in the index
        wanted.add(name)
        target = SRC / name
        target.parent.mkdir(parents=True, exist_ok=True)
        if source.is_symlink():
            link = os.readlink(source)
            if target.is_symlink() and os.readlink(target) == link:
                continue
            if target.exists() or target.is_symlink():
                target.unlink()
            os.symlink(link, target)
            written += 1
            continue
        data = source.read_bytes()
        if target.is_file() and not target.is_symlink() and target.read_bytes() == data:
            shutil.copymode(source, target)
            continue
        if target.is_symlink():
            target.unlink()
        target.write_bytes(data)
        shutil.copymode(source, target)
        now = time.time_ns()
        os.utime(target, ns=(now, now))
        written += 1
    # Files gone from the tree must go from the copy too: CMake globs the sources.
    for path in sorted(SRC.rglob("*"), reverse=True):
        rel = path.relative_to(SRC).as_posix()
        if path.is_dir() and not path.is_symlink():
            if not any(path.iterdir()):
                path.rmdir()
        elif rel not in wanted:
            path.unlink()
    return len(wanted), written


# ---- build and test ---------------------------------------------------------------------------

def makefile_settings(root: Path) -> tuple[list[str], str, str, str]:
    """LINUX_FLAGS, ASAN_OPTIONS, UBSAN_OPTIONS and CMAKE as the Makefile of `root` has them
    (the sanitizer options as it exports them, environment overrides included)."""
    rule = ('mutants-print-settings: ; @printf "%s\\n" $(LINUX_FLAGS) "--" "$$ASAN_OPTIONS" '
            '"$$UBSAN_OPTIONS" "$(CMAKE)"')
    try:
        out = subprocess.run(["make", "-s", "--no-print-directory", "-C", str(root), "--eval", rule,
                              "mutants-print-settings"], check=True, capture_output=True, text=True,
                             timeout=60).stdout.splitlines()
        cut = out.index("--")
        flags, (asan, ubsan, cmake) = out[:cut], out[cut + 1:cut + 4]
        if "-DPELLUCER_SANITIZE=ON" not in flags:
            raise ValueError("LINUX_FLAGS without -DPELLUCER_SANITIZE=ON")
        return flags, asan, ubsan, cmake or "cmake"
    except (OSError, subprocess.SubprocessError, ValueError) as error:
        print(f"mutants: could not read LINUX_FLAGS from the Makefile ({error}); using the "
              f"built-in copy", file=sys.stderr)
        return (FALLBACK_LINUX_FLAGS, os.environ.get("ASAN_OPTIONS", FALLBACK_ASAN),
                os.environ.get("UBSAN_OPTIONS", FALLBACK_UBSAN), "cmake")


def run_logged(command: list[str], log: Path, cwd: Path, timeout: float | None = None,
               env: dict | None = None) -> tuple[int | None, float]:
    """Runs `command` in its own process group with its output in `log`. Answers the exit
    status (None after a timeout, negative for a signal) and the seconds it took."""
    start = time.monotonic()
    with open(log, "wb") as out:
        out.write(("$ " + shlex.join(command) + "\n").encode())
        out.flush()
        process = subprocess.Popen(command, cwd=cwd, env=env, stdout=out, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            status = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            status = None
        except BaseException:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise
        if status is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        else:
            # Whatever the program left running (a tool a test started) goes with it.
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    return status, time.monotonic() - start


def log_text(log: Path) -> str:
    return log.read_bytes().decode("utf-8", "replace")


def configure(cmake: str, flags: list[str]) -> bool:
    BUILD.mkdir(parents=True, exist_ok=True)
    log = LOGS / "configure.log"
    status, _ = run_logged([cmake, "-S", str(SRC), "-B", str(BUILD), "-G", "Ninja", *flags], log, SRC)
    if status != 0:
        print(f"mutants: configuring {BUILD} failed; see {log}", file=sys.stderr)
        print(tail(log_text(log), 25), file=sys.stderr)
        return False
    return True


def build(cmake: str, jobs: int, log: Path) -> tuple[bool, float]:
    status, seconds = run_logged([cmake, "--build", str(BUILD), "--target", TEST_TARGET, "-j", str(jobs)],
                                 log, SRC)
    return status == 0, seconds


@dataclasses.dataclass
class TestRun:
    passed: bool
    summary: str          # what ended it, in a few words
    failing: list[str]    # failing (or crashing) tests, first first
    seconds: float
    completed: bool       # GoogleTest got to its closing summary


def run_tests(env: dict, timeout: float, log: Path, brief: bool) -> TestRun:
    program = BUILD / TEST_PROGRAM
    command = [str(program), "--gtest_color=no"] + (["--gtest_brief=1"] if brief else [])
    status, seconds = run_logged(command, log, program.parent, timeout, env)
    output = log_text(log)
    failing = list(dict.fromkeys(FAILED_TEST.findall(output)))
    completed = RAN_SUMMARY.search(output) is not None
    sanitizer = SANITIZER.search(output)
    if status is None:
        return TestRun(False, f"timeout after {timeout:.0f} s", failing, seconds, completed)
    if status == 0 and completed and not failing and PASSED_SUMMARY.search(output):
        return TestRun(True, "passed", [], seconds, completed)
    if failing:
        summary = f"{len(failing)} failing test{'s' if len(failing) != 1 else ''}"
        if sanitizer:
            summary += f"; {sanitizer.group(1).strip()}"
        return TestRun(False, summary, failing, seconds, completed)
    if sanitizer:
        summary = sanitizer.group(1).strip()
    elif status < 0:
        summary = f"killed by {signal.Signals(-status).name}"
    else:
        summary = f"exit status {status}" + ("" if completed else " before the tests finished")
    return TestRun(False, summary, failing, seconds, completed)


def running_test(output: str) -> str | None:
    """The test that had started but not ended when the output stops (full, not brief, output)."""
    current = None
    for line in output.splitlines():
        run = RUN_LINE.match(line)
        if run:
            current = run.group(1)
            continue
        end = END_LINE.match(line)
        if end and end.group(1) == current:
            current = None
    return current


def name_the_crash(result: TestRun, test_log: Path, brief: bool, env: dict, timeout: float,
                   rerun_log: Path) -> None:
    """Brief output names no test that crashed or hung: run once more in full to find the one
    still running when the program died or was stopped (a hang with a shorter time limit)."""
    if result.passed:
        return
    hung = result.summary.startswith("timeout")
    if result.completed and not hung:
        return  # every test ran: the failures are named already
    if brief:
        again = run_tests(env, timeout, rerun_log, brief=False)
        culprit = running_test(log_text(rerun_log))
    else:
        again, culprit = result, running_test(log_text(test_log))
    if culprit:
        result.summary += f" in {culprit}" if hung else f" (in {culprit})"
        result.failing = [culprit] + [t for t in result.failing if t != culprit]
    elif not result.failing:
        result.failing = again.failing


def tail(text: str, lines: int) -> str:
    return "\n".join(text.rstrip("\n").split("\n")[-lines:])


def supports_brief(env: dict) -> bool:
    program = BUILD / TEST_PROGRAM
    try:
        out = subprocess.run([str(program), "--help"], capture_output=True, text=True, env=env,
                             cwd=program.parent, timeout=60)
    except (OSError, subprocess.SubprocessError):
        return False
    return "gtest_brief" in out.stdout + out.stderr


# ---- results ----------------------------------------------------------------------------------

@dataclasses.dataclass
class Outcome:
    fault: Fault
    result: str = "pending"   # caught, survived, not-applicable, build-failed
    detail: str = ""
    failing: list[str] = dataclasses.field(default_factory=list)
    build_seconds: float = 0.0
    test_seconds: float = 0.0


def failing_text(outcome: Outcome) -> str:
    if outcome.result != "caught":
        return outcome.detail
    # A test the detail names already (the one that crashed or hung) is not listed again.
    rest = [t for t in outcome.failing if not re.search(rf"\bin {re.escape(t)}\b", outcome.detail)]
    names = ", ".join(rest[:FAILING_TESTS_SHOWN])
    if len(rest) > FAILING_TESTS_SHOWN:
        names += f" (+{len(rest) - FAILING_TESTS_SHOWN} more)"
    if re.fullmatch(r"\d+ failing tests?", outcome.detail):
        return names
    return f"{outcome.detail}; also failing: {names}" if names and len(rest) < len(outcome.failing) \
        else f"{outcome.detail}: {names}" if names else outcome.detail


def summary_line(outcomes: list[Outcome]) -> str:
    count = {r: sum(1 for o in outcomes if o.result == r)
             for r in ("caught", "survived", "build-failed", "not-applicable", "pending")}
    applicable = count["caught"] + count["survived"]
    text = (f"{count['caught']} caught of {applicable} applicable "
            f"({count['survived']} survived, {count['build-failed']} build-failed, "
            f"{count['not-applicable']} not applicable")
    if count["pending"]:
        text += f", {count['pending']} not run"
    return text + ")"


def area_lines(outcomes: list[Outcome]) -> list[str]:
    lines = []
    for area in ("dsp", "core", "editor", "dx", "render", "other"):
        mine = [o for o in outcomes if o.fault.area == area]
        if not mine:
            continue
        caught = sum(1 for o in mine if o.result == "caught")
        applicable = sum(1 for o in mine if o.result in ("caught", "survived"))
        lines.append(f"{area}: {caught} caught of {applicable} applicable ({len(mine)} faults)")
    return lines


def escape_cell(text: str) -> str:
    return text.replace("|", "\\|").replace("\n", " ")


def write_reports(outcomes: list[Outcome], header: dict) -> None:
    md = ["# Seeded faults against the native test suite", ""]
    for key, value in header.items():
        md.append(f"- {key}: {value}")
    md += ["", "| id | file | description | result | failing tests / detail |",
           "| --- | --- | --- | --- | --- |"]
    for o in outcomes:
        md.append("| " + " | ".join(escape_cell(x) for x in (
            o.fault.id, o.fault.file, o.fault.desc, o.result, failing_text(o))) + " |")
    md += ["", "**" + summary_line(outcomes) + "**", ""]
    md += [f"- {line}" for line in area_lines(outcomes)]
    md.append("")
    REPORT_MD.write_text("\n".join(md), encoding="utf-8")
    REPORT_JSON.write_text(json.dumps({
        "header": header,
        "summary": summary_line(outcomes),
        "faults": [{"id": o.fault.id, "file": o.fault.file, "area": o.fault.area, "desc": o.fault.desc,
                    "result": o.result, "detail": o.detail, "failing": o.failing,
                    "build_seconds": round(o.build_seconds, 1), "test_seconds": round(o.test_seconds, 1)}
                   for o in outcomes],
    }, indent=2) + "\n", encoding="utf-8")


def print_table(outcomes: list[Outcome]) -> None:
    rows = [("id", "file", "result", "failing tests / detail")]
    rows += [(o.fault.id, o.fault.file, o.result, failing_text(o)) for o in outcomes]
    widths = [max(len(r[c]) for r in rows) for c in range(3)]
    for n, row in enumerate(rows):
        print("  ".join(row[c].ljust(widths[c]) for c in range(3)) + "  " + row[3])
        if n == 0:
            print("  ".join("-" * w for w in widths) + "  " + "-" * 22)
    print()
    print(summary_line(outcomes))
    for line in area_lines(outcomes):
        print("  " + line)


def minutes(seconds: float) -> str:
    return f"{int(seconds // 60)} min {int(seconds % 60):02d} s"


# ---- main -------------------------------------------------------------------------------------

def list_faults(faults: list[Fault]) -> int:
    problems = 0
    width = max(len(f.id) for f in faults)
    for f in faults:
        reason = applicability(f, REPO)
        problems += reason is not None
        state = "ok" if reason is None else f"NOT APPLICABLE: {reason}"
        print(f"{f.id.ljust(width)}  {f.area:<7} {f.file}  [{state}]\n{'':{width}}  {f.desc}")
    areas = {}
    for f in faults:
        areas[f.area] = areas.get(f.area, 0) + 1
    print(f"\n{len(faults)} faults: " + ", ".join(f"{a} {n}" for a, n in areas.items()) +
          (f"; {problems} not applicable to the working tree" if problems else "; all applicable"))
    return 0


def shown(path):
    """A path as the messages print it: relative to the repository when inside it."""
    try:
        return path.relative_to(REPO)
    except ValueError:
        return path


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="run only these faults (comma-separated ids)")
    parser.add_argument("--list", action="store_true",
                        help="list the faults and check their snippets against the working tree; build nothing")
    parser.add_argument("--keep-going", action="store_true",
                        help="record faults that are not applicable or do not build and go on")
    parser.add_argument("--timeout", type=float, default=600.0,
                        help="seconds one run of the test program may take (default 600)")
    parser.add_argument("--jobs", type=int, default=2, help="parallel build jobs (default 2)")
    parser.add_argument("--faults", type=Path, default=DEFAULT_FAULTS, help="the fault list")
    args = parser.parse_args()

    try:
        faults = parse_faults(args.faults)
    except (OSError, FaultListError) as error:
        print(f"mutants: {error}", file=sys.stderr)
        return 2
    if args.only:
        wanted = [x.strip() for x in args.only.split(",") if x.strip()]
        unknown = [x for x in wanted if not any(f.id == x for f in faults)]
        if unknown:
            print(f"mutants: unknown fault id(s): {', '.join(unknown)}", file=sys.stderr)
            return 2
        faults = [f for f in faults if f.id in wanted]
    if args.list:
        return list_faults(faults)
    if args.jobs < 1 or args.timeout <= 0:
        print("mutants: --jobs and --timeout must be positive", file=sys.stderr)
        return 2

    WORK.mkdir(parents=True, exist_ok=True)
    LOGS.mkdir(parents=True, exist_ok=True)
    lock = open(WORK / ".lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print(f"mutants: another run is using {WORK}", file=sys.stderr)
        return 2

    started = time.monotonic()
    started_at = time.strftime("%Y-%m-%d %H:%M:%S")
    files, written = sync_scratch_copy()
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=REPO, capture_output=True,
                            text=True).stdout.strip()
    dirty = subprocess.run(["git", "status", "--porcelain"], cwd=REPO, capture_output=True,
                           text=True).stdout.strip() != ""
    print(f"mutants: scratch copy {shown(SRC)}: {files} files, {written} written "
          f"(HEAD {commit}{' with local changes' if dirty else ''})")

    outcomes = [Outcome(f) for f in faults]
    pristine: dict[str, str] = {}
    for o in outcomes:
        reason = applicability(o.fault, SRC)
        if reason is not None:
            o.result, o.detail = "not-applicable", reason
        elif o.fault.file not in pristine:
            pristine[o.fault.file] = read_text(SRC / o.fault.file)
    not_applicable = [o for o in outcomes if o.result == "not-applicable"]
    for o in not_applicable:
        print(f"mutants: [{o.fault.id}] is not applicable to {o.fault.file}: {o.detail}", file=sys.stderr)
    if not_applicable and not args.keep_going:
        print("mutants: fix the fault list first, or run with --keep-going", file=sys.stderr)
        return 1

    flags, asan, ubsan, cmake = makefile_settings(SRC)
    env = dict(os.environ, ASAN_OPTIONS=asan, UBSAN_OPTIONS=ubsan)
    header = {
        "started": started_at,
        "faults": f"only {', '.join(f.id for f in faults)}" if args.only else f"all {len(faults)} of {args.faults.name}",
        "tree": f"HEAD {commit}" + (" with the working tree's uncommitted changes" if dirty else ""),
        "configure": "-G Ninja " + shlex.join(flags),
        "ASAN_OPTIONS": asan,
        "UBSAN_OPTIONS": ubsan,
        "test program": f"{BUILD / TEST_PROGRAM} (the whole suite, one process)",
        "timeout": f"{args.timeout:.0f} s per test run",
    }
    print(f"mutants: configure {shown(BUILD)}: -G Ninja {shlex.join(flags)}")
    if not configure(cmake, flags):
        return 2

    print(f"mutants: baseline build (-j{args.jobs}) ...", flush=True)
    ok, seconds = build(cmake, args.jobs, LOGS / "baseline.build.log")
    if not ok:
        text = log_text(LOGS / "baseline.build.log")
        print(f"mutants: the baseline does not build ({minutes(seconds)}); see "
              f"{LOGS / 'baseline.build.log'}", file=sys.stderr)
        print(tail(text, 30), file=sys.stderr)
        return 2
    brief = supports_brief(env)
    header["test output"] = "--gtest_brief=1" if brief else "full (GoogleTest without --gtest_brief)"
    print(f"mutants: baseline built in {minutes(seconds)}; running the tests ...", flush=True)
    baseline = run_tests(env, args.timeout, LOGS / "baseline.test.log", brief)
    if not baseline.passed:
        name_the_crash(baseline, LOGS / "baseline.test.log", brief, env, args.timeout,
                       LOGS / "baseline.rerun.log")
        print(f"mutants: the baseline fails ({baseline.summary}): "
              f"{', '.join(baseline.failing) or 'no test named'}", file=sys.stderr)
        print(f"mutants: no fault can be judged against a failing suite; see "
              f"{LOGS / 'baseline.test.log'}", file=sys.stderr)
        return 2
    tests = PASSED_SUMMARY.search(log_text(LOGS / "baseline.test.log")).group(1)
    header["baseline"] = f"{tests} tests passed in {baseline.seconds:.0f} s"
    print(f"mutants: baseline passes: {tests} tests in {baseline.seconds:.0f} s", flush=True)
    # Naming the test that hung takes a second run; it needs far less than the full limit.
    rerun_timeout = min(args.timeout, max(120.0, 3.0 * baseline.seconds))
    write_reports(outcomes, header)

    runnable = [o for o in outcomes if o.result == "pending"]
    stopped = False
    for n, o in enumerate(runnable, 1):
        f = o.fault
        target = SRC / f.file
        original = pristine[f.file]
        print(f"[{n}/{len(runnable)}] {f.id} ({f.file}): ", end="", flush=True)
        try:
            write_text(target, original.replace(f.find, f.replace, 1))
            ok, o.build_seconds = build(cmake, args.jobs, LOGS / f"{f.id}.build.log")
            if not ok:
                errors = COMPILER_ERROR.findall(log_text(LOGS / f"{f.id}.build.log"))
                o.result = "build-failed"
                o.detail = errors[0].replace(str(SRC) + "/", "") if errors else "the build failed"
            else:
                run = run_tests(env, args.timeout, LOGS / f"{f.id}.test.log", brief)
                name_the_crash(run, LOGS / f"{f.id}.test.log", brief, env, rerun_timeout,
                               LOGS / f"{f.id}.rerun.log")
                o.test_seconds = run.seconds
                o.result = "survived" if run.passed else "caught"
                o.detail = "" if run.passed else run.summary
                o.failing = run.failing
        finally:
            # Back to the snapshot's text (not the working tree's, which others may be editing),
            # with a new time stamp so that the next build compiles it again.
            write_text(target, original)
        print(f"{o.result}" + (f" - {failing_text(o)}" if o.result != "survived" else "") +
              f" (build {o.build_seconds:.0f} s, tests {o.test_seconds:.0f} s)", flush=True)
        header["run time"] = minutes(time.monotonic() - started)
        write_reports(outcomes, header)
        if o.result == "build-failed" and not args.keep_going:
            print(f"mutants: [{f.id}] does not build; stopping (--keep-going records it and goes on)",
                  file=sys.stderr)
            stopped = True
            break

    total = time.monotonic() - started
    header["run time"] = minutes(total)
    write_reports(outcomes, header)
    if not args.only and not stopped and args.faults.resolve() == DEFAULT_FAULTS:
        shutil.copyfile(REPORT_MD, FULL_REPORT_MD)
        shutil.copyfile(REPORT_JSON, FULL_REPORT_JSON)
    print()
    print_table(outcomes)
    print(f"\nrun time {minutes(total)}; report: {shown(REPORT_MD)}")
    return 1 if stopped else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("\nmutants: interrupted (no fault is left in the scratch copy)", file=sys.stderr)
        sys.exit(130)
