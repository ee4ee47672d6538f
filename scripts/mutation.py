#!/usr/bin/env python3
"""Source mutation testing for Quoxel's libraries.

For each chosen library (a folder under src/), the script lists every place in its .cpp files where
one small fault can be put in (an operator swapped, a `!` dropped, a constant flipped, an early
return, a call statement removed), draws a fixed-seed sample of them, and for each one: writes the
mutant into the source, rebuilds that library's test binaries incrementally, runs them with a time-out
and puts the source back. A mutant is killed when a test fails, survives when all pass, times out, or
does not compile. The report lists the counts and score per library and every survivor with its file,
line and change.

    scripts/mutation.py --libs core,box --per-lib 60 --seed 1 --report MUTATION.md

It builds in build/mutation (a RelWithDebInfo tree of its own, with ccache when present) so the
developer's build stays as it is. Tests that need X run when DISPLAY is set (start Xvfb first).
"""

import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "mutation"

# Which ctest label holds a library's tests.
LABELS = {"core": "core", "box": "box", "playback": "playback", "telnet": "telnet", "ui": "ui"}


@dataclass
class Mutant:
    path: Path
    line: int  # 1-based
    col: int  # 0-based, in the line
    old: str
    new: str
    kind: str

    def to_json(self, lines) -> dict:
        text = lines[self.line - 1]
        return {"path": str(self.path.relative_to(ROOT)), "line": self.line, "col": self.col, "old": self.old,
                "new": self.new, "kind": self.kind, "text": text.strip(), "indent": len(text) - len(text.lstrip())}

    def describe(self) -> str:
        return f"{self.path.relative_to(ROOT)}:{self.line}: {self.kind}: `{self.old}` -> `{self.new}`"


@dataclass
class Result:
    mutant: Mutant
    outcome: str  # killed, survived, timeout, nocompile
    seconds: float
    detail: str = ""


@dataclass
class LibReport:
    name: str
    sites: int = 0
    gone: int = 0  # replayed mutants whose line is no longer in the source
    results: list = field(default_factory=list)

    def count(self, outcome: str) -> int:
        return sum(1 for r in self.results if r.outcome == outcome)

    def score(self) -> float:
        # Mutants that do not compile say nothing about the tests; a time-out counts as detected.
        judged = self.count("killed") + self.count("survived") + self.count("timeout")
        return 100.0 * (self.count("killed") + self.count("timeout")) / judged if judged else 0.0


# --- finding mutation sites -------------------------------------------------------------------------

_STRING = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'')


def code_mask(line: str) -> str:
    """The line with string and character literals and a trailing // comment blanked out, so that
    operators inside them are never chosen; same length as the line."""
    masked = _STRING.sub(lambda m: " " * len(m.group(0)), line)
    cut = masked.find("//")
    if cut >= 0:
        masked = masked[:cut] + " " * (len(masked) - cut)
    return masked


BINARY_SWAPS = [
    # (regex on the masked line, replacement, kind)
    (re.compile(r"(?<![<>=!&|+\-*/%^])==(?!=)"), "!=", "equality swapped"),
    (re.compile(r"!=(?!=)"), "==", "equality swapped"),
    (re.compile(r"(?<![<>=\-])<=(?!=)"), "<", "relational swapped"),
    (re.compile(r"(?<![<>=\-])>=(?!=)"), ">", "relational swapped"),
    (re.compile(r"(?<![<>\-:])<(?![<=>:])(?=\s)"), "<=", "relational swapped"),
    (re.compile(r"(?<=\s)(?<![<>\-])>(?![>=])"), ">=", "relational swapped"),
    (re.compile(r"&&"), "||", "logical swapped"),
    (re.compile(r"\|\|"), "&&", "logical swapped"),
    (re.compile(r"(?<=\s)\+(?=\s)"), "-", "arithmetic swapped"),
    (re.compile(r"(?<=\s)-(?=\s)"), "+", "arithmetic swapped"),
]
NOT_REMOVE = re.compile(r"(?<![!=<>])!(?!=)(?=[\w(])")
CONSTANTS = [
    (re.compile(r"\btrue\b"), "false", "constant flipped"),
    (re.compile(r"\bfalse\b"), "true", "constant flipped"),
    (re.compile(r"(?<![\w.])0(?![\w.x])"), "1", "constant flipped"),
    (re.compile(r"(?<![\w.])1(?![\w.])"), "0", "constant flipped"),
]
# A statement that is one call: `name(...);`, `obj.name(...);`, `ptr->name(...);`, `Q_EMIT x(...);`
CALL_STATEMENT = re.compile(r"^(\s*)((?:Q_EMIT\s+)?[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*\s*\(.*\)\s*;)\s*$")
SKIP_CALL = re.compile(r"^\s*(return|delete|throw|case|goto|if|while|for|switch|Q_ASSERT|assert|static_assert)\b")
FUNCTION_OPEN = re.compile(r"^[A-Za-z_][\w:<>,\s*&~]*\([^;]*\)\s*(const\s*)?(override\s*)?(noexcept\s*)?\{\s*$")


def void_function_opens(lines):
    """Indexes of lines that open the body of a function returning void (top-level definitions):
    an early `return;` after such a line is a valid mutant."""
    out = []
    for i, line in enumerate(lines):
        if line.startswith(("void ", "static void ")) and FUNCTION_OPEN.match(line):
            out.append(i)
    return out


def find_sites(path: Path):
    lines = path.read_text(encoding="utf-8", errors="replace").split("\n")
    sites = []
    in_block_comment = False
    for i, raw in enumerate(lines):
        line = raw
        stripped = line.strip()
        if in_block_comment:
            if "*/" in stripped:
                in_block_comment = False
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("//", "#", "*")):
            continue
        # Declarations of templates and includes carry < > that are not comparisons.
        if re.match(r"^\s*(template|using|typedef)\b", line) or "static_cast<" in line and "<=" not in line:
            masked_template = True
        else:
            masked_template = False
        masked = code_mask(line)
        for rx, repl, kind in BINARY_SWAPS:
            if masked_template and kind == "relational swapped":
                continue
            # A + beside text is a concatenation; its swap would only fail to compile.
            if kind == "arithmetic swapped" and ('"' in line or "QString" in line or "Latin1" in line):
                continue
            for m in rx.finditer(masked):
                sites.append(Mutant(path, i + 1, m.start(), m.group(0), repl, kind))
        for m in NOT_REMOVE.finditer(masked):
            sites.append(Mutant(path, i + 1, m.start(), "!", "", "negation removed"))
        for rx, repl, kind in CONSTANTS:
            for m in rx.finditer(masked):
                # Array sizes, bit shifts and version numbers make poor mutants; keep to expressions.
                before = masked[: m.start()].rstrip()
                if before.endswith(("[", "<<", ">>")):
                    continue
                sites.append(Mutant(path, i + 1, m.start(), m.group(0), repl, kind))
        cm = CALL_STATEMENT.match(masked)
        if cm and not SKIP_CALL.match(masked) and "=" not in masked.split("(")[0]:
            start = len(cm.group(1))
            # An empty block, not a bare `;`: after an unbraced `if` that would only fail -Wempty-body.
            sites.append(Mutant(path, i + 1, start, line[start:].rstrip(), "{}", "call removed"))
    for i in void_function_opens(lines):
        sites.append(Mutant(path, i + 2, 0, "", "return; ", "early return"))
    return sites


def relocate(entry: dict):
    """A mutant saved by an earlier run, found again in today's source by its line's text (the line
    nearest to where it was); None when that line is gone."""
    path = ROOT / entry["path"]
    if not path.exists():
        return None
    lines = path.read_text(encoding="utf-8", errors="replace").split("\n")
    hits = [i for i, line in enumerate(lines) if line.strip() == entry["text"]]
    if not hits:
        return None
    i = min(hits, key=lambda k: abs(k + 1 - entry["line"]))
    if entry["kind"] == "early return":
        return Mutant(path, i + 1, 0, "", entry["new"], entry["kind"])
    col = entry["col"] - entry["indent"] + (len(lines[i]) - len(lines[i].lstrip()))
    if lines[i][col : col + len(entry["old"])] != entry["old"]:
        return None
    return Mutant(path, i + 1, col, entry["old"], entry["new"], entry["kind"])


def apply(mutant: Mutant, text: str) -> str:
    lines = text.split("\n")
    idx = mutant.line - 1
    line = lines[idx]
    if mutant.kind == "early return":
        lines[idx] = "return; " + line if line.strip() else "return;"
    else:
        assert line[mutant.col : mutant.col + len(mutant.old)] == mutant.old, mutant.describe()
        lines[idx] = line[: mutant.col] + mutant.new + line[mutant.col + len(mutant.old) :]
    return "\n".join(lines)


# --- building and running ---------------------------------------------------------------------------


def run(cmd, timeout, cwd=ROOT, env=None):
    """Runs cmd in its own process group; returns (returncode or None on time-out, output tail)."""
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True, text=True, errors="replace")
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out[-2000:]
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, (out or "")[-2000:]


def configure():
    if (BUILD / "build.ninja").exists():
        return
    # A swapped && in a chain only draws the mixed-operators warning, which -Werror would turn into a
    # mutant that "does not compile": such warnings are off in this tree alone.
    cmd = ["cmake", "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
           "-DQUOXEL_BUILD_BENCH=OFF", "-DCMAKE_CXX_FLAGS=-Wno-parentheses -Wno-empty-body"]
    if shutil.which("ccache"):
        cmd += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)


def test_targets(label: str):
    out = subprocess.run(["ctest", "--test-dir", str(BUILD), "-N", "-L", f"^{label}$"], check=True,
                         capture_output=True, text=True).stdout
    return re.findall(r"Test\s+#\d+:\s+(\S+)", out)


def build(targets, timeout):
    return run(["cmake", "--build", str(BUILD), "--target", *targets, "--", "-k", "0"], timeout)


def run_tests(label: str, timeout):
    return run(["ctest", "--test-dir", str(BUILD), "-L", f"^{label}$", "--stop-on-failure", "--timeout",
                str(int(timeout)), "-j", str(os.cpu_count() or 1)], timeout + 30)


def baseline_seconds(label: str, targets, build_timeout):
    rc, out = build(targets, build_timeout)
    if rc != 0:
        sys.exit(f"the unmutated tree does not build:\n{out}")
    # Unmutated, the tests must pass; a test that fails only sometimes would count mutants as killed
    # that are not, so it is named and the run goes on only if it passes on a second or third try.
    for attempt in range(3):
        start = time.monotonic()
        rc, out = run_tests(label, 1800)
        if rc == 0:
            if attempt:
                print(f"warning: the unmutated {label} tests passed only on try {attempt + 1}", flush=True)
            return time.monotonic() - start
        failed = re.findall(r"\d+ - (\S+) \(", out or "")
        print(f"unmutated {label} tests failed: {failed}", flush=True)
    sys.exit(f"the unmutated {label} tests fail; mutation results would mean nothing:\n{out}")


def draw(lib: str, per_lib: int, seed: int):
    files = sorted((ROOT / "src" / lib).glob("*.cpp"))
    sites = [s for f in files for s in find_sites(f)]
    rng = random.Random(f"{seed}:{lib}")
    sample = rng.sample(sites, min(per_lib, len(sites)))
    sample.sort(key=lambda m: (str(m.path), m.line, m.col))
    return len(sites), sample


def mutate_library(lib: str, sites: int, sample, gone: int, build_timeout: int, log) -> LibReport:
    report = LibReport(lib)
    report.sites = sites
    report.gone = gone
    label = LABELS[lib]
    targets = test_targets(label)
    base = baseline_seconds(label, targets, build_timeout)
    # A mutant that turns a loop endless or a wait into forever is caught by the time-out.
    test_timeout = max(60.0, 3 * base)
    log(f"{lib}: {sites} sites, {len(sample)} drawn, tests {base:.0f} s unmutated, time-out {test_timeout:.0f} s")
    for n, m in enumerate(sample, 1):
        original = m.path.read_text(encoding="utf-8", errors="replace")
        start = time.monotonic()
        try:
            m.path.write_text(apply(m, original), encoding="utf-8")
            rc, out = build(targets, build_timeout)
            if rc is None:  # a loaded machine, not the mutant: once more
                rc, out = build(targets, build_timeout)
            if rc != 0:
                outcome, detail = "nocompile", ""
            else:
                rc, out = run_tests(label, test_timeout)
                if rc is None:
                    outcome, detail = "timeout", ""
                elif rc == 0:
                    outcome, detail = "survived", ""
                else:
                    failed = re.findall(r"\d+ - (\S+) \(", out)
                    outcome, detail = "killed", ",".join(failed[:3])
        finally:
            m.path.write_text(original, encoding="utf-8")
        seconds = time.monotonic() - start
        report.results.append(Result(m, outcome, seconds, detail))
        log(f"  [{n}/{len(sample)}] {outcome:9s} {seconds:5.0f}s  {m.describe()}")
    # Leave the build matching the sources again.
    build(targets, build_timeout)
    return report


def write_report(reports, args, path: Path, elapsed: float):
    lines = ["# Mutation testing", "",
             f"Seed {args.seed}, {args.per_lib} mutants drawn per library; run took {elapsed / 60:.0f} min "
             f"on {os.cpu_count()} cores (`scripts/mutation.py --libs {args.libs} --per-lib {args.per_lib} "
             f"--seed {args.seed}`).", "",
             "| library | sites | run | killed | survived | timed out | not compiling | line gone | score |",
             "|---|---|---|---|---|---|---|---|---|"]
    for r in reports:
        lines.append(f"| {r.name} | {r.sites} | {len(r.results)} | {r.count('killed')} | {r.count('survived')} | "
                     f"{r.count('timeout')} | {r.count('nocompile')} | {r.gone} | {r.score():.0f} % |")
    lines += ["", "Score: killed and timed out over all that compiled.", "", "## Survivors", ""]
    for r in reports:
        surv = [x for x in r.results if x.outcome == "survived"]
        if not surv:
            continue
        lines.append(f"### {r.name}")
        lines += [f"- {x.mutant.describe()}" for x in surv]
        lines.append("")
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--libs", default="core,box,playback,telnet")
    ap.add_argument("--per-lib", type=int, default=60)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--build-timeout", type=int, default=900)
    ap.add_argument("--report", default=str(ROOT / "build" / "mutation-report.md"))
    ap.add_argument("--list", action="store_true", help="only count the sites per library")
    ap.add_argument("--replay", help="the .json sample of an earlier run: the same mutants in today's code")
    args = ap.parse_args()
    libs = [x for x in args.libs.split(",") if x]
    for lib in libs:
        if lib not in LABELS:
            sys.exit(f"unknown library {lib}; known: {', '.join(LABELS)}")
    if args.list:
        for lib in libs:
            sites = [s for f in sorted((ROOT / "src" / lib).glob("*.cpp")) for s in find_sites(f)]
            kinds = {}
            for s in sites:
                kinds[s.kind] = kinds.get(s.kind, 0) + 1
            print(lib, len(sites), kinds)
        return
    # A stopped run must still put the source back (the `finally` around each mutant does it).
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    configure()
    started = time.monotonic()
    logfile = open(BUILD / "mutation.log", "a", encoding="utf-8")

    def log(text):
        print(text, flush=True)
        logfile.write(text + "\n")
        logfile.flush()

    samples = {}
    if args.replay:
        saved = json.loads(Path(args.replay).read_text(encoding="utf-8"))
        for lib in libs:
            entries = saved.get(lib, [])
            found = [m for m in (relocate(e) for e in entries) if m]
            samples[lib] = (len(entries), found, len(entries) - len(found))
    else:
        for lib in libs:
            count, sample = draw(lib, args.per_lib, args.seed)
            samples[lib] = (count, sample, 0)
        # The sample itself, so a later run can put the same faults into the code as it is then.
        drawn = {}
        for lib in libs:
            drawn[lib] = [m.to_json(m.path.read_text(encoding="utf-8", errors="replace").split("\n"))
                          for m in samples[lib][1]]
        Path(args.report).with_suffix(".json").write_text(json.dumps(drawn, indent=1) + "\n", encoding="utf-8")
    reports = [mutate_library(lib, *samples[lib], args.build_timeout, log) for lib in libs]
    write_report(reports, args, Path(args.report), time.monotonic() - started)
    log(f"report: {args.report}")


if __name__ == "__main__":
    main()
