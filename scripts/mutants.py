#!/usr/bin/env python3
"""Mutation sample: how many small faults in src/ the test suite catches.

Lists every site in src/ where a small change can be made (a flipped
comparison, && for ||, an integer literal off by one, a changed return code, a
negated condition, true for false), picks COUNT of them with SEED, and for
each one in turn changes that one site, rebuilds, and runs the suite. A mutant
is caught when a test fails or the suite runs past its time limit; one that
does not compile is left out of the score.

The sample depends only on the seed, the count and the text of src/, so a run
with another test suite on the same src/ changes exactly the same sites.

The checkout is never written: the tree is copied into BUILD/tree and built in
BUILD/build, and every change is made there. The report goes to standard
output and to BUILD/mutants.txt; each mutant's build and test output to
BUILD/logs/.
"""

import argparse
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_SUFFIXES = (".c", ".cpp", ".h")

# Statements that only write the console trace, or only check the record
# layout at compile time: a change there is not a fault a test should see.
# Macros that expand to compile-time checks or attributes join the list.
SKIPPED_CALLS = ["console_log", "static_assert"]
COMPILE_TIME_MACRO = re.compile(
    r"^\s*#\s*define\s+(\w+)\((?:[^\n]*\\\n)*[^\n]*\b(static_assert|__attribute__)\b",
    re.M)

RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
LOGICAL = {"&&": "||", "||": "&&"}
# Operators written with a space on each side, so that template brackets,
# shifts and -> are not taken for comparisons.
RELATIONAL_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
LOGICAL_RE = re.compile(r"(?<=\s)(&&|\|\|)(?=\s)")
RETURN_RE = re.compile(r"\breturn\s+(-?\d+|true|false)\s*;")
LITERAL_RE = re.compile(r"(?<![\w.'])\d+(?![\w.'])")
BOOL_RE = re.compile(r"\b(true|false)\b")
CONDITION_RE = re.compile(r"\b(if|while)\s*\(")
# A condition that declares a variable cannot be negated as it stands.
DECLARATION_RE = re.compile(r"^\(\s*(const\s+)?[\w:]+(\s*\*\s*|\s+)\w+\s*=[^=]")


def code_only(text):
    """The text with comments, string and character literals blanked to
    spaces; newlines and columns stay where they were."""
    out = list(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                out[i] = " "
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            for j in range(i, end):
                if text[j] != "\n":
                    out[j] = " "
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            end = min(j + 1, n)
            for k in range(i, end):
                out[k] = " "
            i = end
        else:
            i += 1
    return "".join(out)


def skipped_lines(code_lines, skipped_calls):
    """Line indexes that hold no mutable code: preprocessor lines (with their
    continuations) and the statements that start with a skipped call."""
    pattern = re.compile(r"\b({})\b".format("|".join(skipped_calls)))
    skipped = set()
    in_directive = False
    in_statement = False
    for index, line in enumerate(code_lines):
        if in_directive or line.lstrip().startswith("#"):
            skipped.add(index)
            in_directive = line.rstrip().endswith("\\")
            continue
        match = pattern.search(line)
        if in_statement or match:
            skipped.add(index)
            rest = line[match.start():] if match and not in_statement else line
            in_statement = ";" not in rest
    return skipped


def matching_paren(line, open_index):
    depth = 0
    for i in range(open_index, len(line)):
        if line[i] == "(":
            depth += 1
        elif line[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def sites_in_line(code):
    """(column, original text, replacement, kind) for every change of one
    line of code (comments and literals already blanked)."""
    sites = []
    for m in RELATIONAL_RE.finditer(code):
        sites.append((m.start(), m.group(), RELATIONAL[m.group()], "comparison"))
    for m in LOGICAL_RE.finditer(code):
        sites.append((m.start(), m.group(), LOGICAL[m.group()], "logical"))
    taken = []
    for m in RETURN_RE.finditer(code):
        value = m.group(1)
        if value in ("true", "false"):
            new = "false" if value == "true" else "true"
        elif value == "1":
            new = "0"
        elif value.startswith("-"):
            new = str(int(value) - 1)
        else:
            new = str(int(value) + 1)
        sites.append((m.start(1), value, new, "return code"))
        taken.append((m.start(), m.end()))
    for m in LITERAL_RE.finditer(code):
        if any(a <= m.start() < b for a, b in taken):
            continue
        sites.append((m.start(), m.group(), str(int(m.group()) + 1), "off by one"))
    for m in BOOL_RE.finditer(code):
        if any(a <= m.start() < b for a, b in taken):
            continue
        new = "false" if m.group() == "true" else "true"
        sites.append((m.start(), m.group(), new, "boolean"))
    for m in CONDITION_RE.finditer(code):
        start = m.end() - 1
        end = matching_paren(code, start)
        if end > start and not DECLARATION_RE.match(code[start:end + 1]):
            sites.append((start, code[start:end + 1], None, "negated condition"))
    return sites


def list_sites(tree):
    """Every candidate change in src/, in a fixed order: sorted files, then
    line and column."""
    files = []
    for base, dirs, names in os.walk(os.path.join(tree, "src")):
        dirs.sort()
        files += [os.path.join(base, n) for n in names if n.endswith(SOURCE_SUFFIXES)]
    texts = {}
    skipped_calls = list(SKIPPED_CALLS)
    for path in sorted(files):
        with open(path, encoding="utf-8") as f:
            texts[path] = f.read()
        skipped_calls += [m.group(1) for m in COMPILE_TIME_MACRO.finditer(texts[path])]
    sites = []
    for path in sorted(files):
        rel = os.path.relpath(path, tree)
        text = texts[path]
        lines = text.split("\n")
        code_lines = code_only(text).split("\n")
        skipped = skipped_lines(code_lines, skipped_calls)
        for index, code in enumerate(code_lines):
            if index in skipped:
                continue
            for column, old, new, kind in sorted(sites_in_line(code)):
                # A negated condition may hold a literal: take the real text.
                old = lines[index][column:column + len(old)]
                sites.append({"file": rel, "line": index + 1, "column": column,
                              "old": old, "new": new, "kind": kind})
    return sites


def pick(sites, seed, count):
    """COUNT sites ranked by a hash of the seed and the site: the same seed
    and src/ give the same sample, and a larger count extends a smaller one."""
    def rank(site):
        key = "{}\0{file}\0{line}\0{column}\0{old}\0{kind}".format(seed, **site)
        return hashlib.sha256(key.encode()).hexdigest()
    return sorted(sites, key=rank)[:count]


def mutate(text, site):
    """The file's text with the site's change made."""
    lines = text.split("\n")
    line = lines[site["line"] - 1]
    col, old = site["column"], site["old"]
    if line[col:col + len(old)] != old:
        raise RuntimeError("{file}:{line}: expected {old!r}".format(**site))
    new = site["new"] if site["new"] is not None else "(!" + old + ")"
    lines[site["line"] - 1] = line[:col] + new + line[col + len(old):]
    return "\n".join(lines), lines[site["line"] - 1]


def skip_top_level(name, build_dir_name):
    return name in (".git", ".cache", build_dir_name) or name == "build" \
        or name.startswith("build-")


def sync_tree(source, tree, build_dir_name):
    """Makes TREE a copy of SOURCE's files (no .git, no build trees). Only
    files whose bytes differ are written, so the copy's build stays
    incremental; written files get a new time stamp, never the source's."""
    wanted = set()
    for base, dirs, names in os.walk(source):
        rel_base = os.path.relpath(base, source)
        if rel_base == ".":
            dirs[:] = [d for d in dirs if not skip_top_level(d, build_dir_name)]
            names = [n for n in names if not skip_top_level(n, build_dir_name)]
        for name in names:
            rel = os.path.normpath(os.path.join(rel_base, name))
            src, dst = os.path.join(source, rel), os.path.join(tree, rel)
            if os.path.islink(src) or not os.path.isfile(src):
                continue
            wanted.add(rel)
            with open(src, "rb") as f:
                data = f.read()
            if os.path.isfile(dst):
                with open(dst, "rb") as f:
                    if f.read() == data:
                        continue
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            with open(dst, "wb") as f:
                f.write(data)
            shutil.copymode(src, dst)
    for base, dirs, names in os.walk(tree):
        for name in names:
            rel = os.path.normpath(os.path.relpath(os.path.join(base, name), tree))
            if rel not in wanted:
                os.remove(os.path.join(tree, rel))


def run(cmd, log, timeout=None):
    """Runs CMD with its output appended to LOG. Returns (exit code, seconds,
    timed out). A command past its time limit is killed with its children."""
    start = time.monotonic()
    with open(log, "a") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        proc = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            code = proc.wait(timeout=timeout)
            timed_out = False
        except subprocess.TimeoutExpired:
            timed_out = True
        finally:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
        if timed_out:
            code = -1
    return code, time.monotonic() - start, timed_out


def failed_test(log):
    """The name of the first test the log reports as failed, if any."""
    with open(log, errors="replace") as f:
        for line in f:
            # ctest marks every failure with ***; a parameterised test's
            # name is followed by its parameter, "# GetParam() = ...".
            m = re.search(r"Test\s+#\d+: (\S+) .*\*\*\*", line)
            if m:
                return m.group(1)
    return None


class Report:
    def __init__(self, path):
        self.file = open(path, "w")

    def __call__(self, text=""):
        print(text, flush=True)
        self.file.write(text + "\n")
        self.file.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-mutants"))
    parser.add_argument("--seed", type=int, default=int(os.environ.get("MUTANTS_SEED", 1)))
    parser.add_argument("--count", type=int, default=int(os.environ.get("MUTANTS_COUNT", 60)))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--list", action="store_true",
                        help="print the sample and stop, without building")
    args = parser.parse_args()

    if args.list:
        for site in pick(list_sites(ROOT), args.seed, args.count):
            print("{file}:{line}:{column}: {kind}: {old}".format(**site))
        return 0

    build_root = os.path.abspath(args.build)
    tree = os.path.join(build_root, "tree")
    build = os.path.join(build_root, "build")
    logs = os.path.join(build_root, "logs")
    os.makedirs(tree, exist_ok=True)
    shutil.rmtree(logs, ignore_errors=True)
    os.makedirs(logs)
    report = Report(os.path.join(build_root, "mutants.txt"))
    started = time.monotonic()

    # From here on only the copy is read: edits to the checkout during the
    # run change nothing.
    sync_tree(ROOT, tree, os.path.basename(build_root))
    sites = list_sites(tree)
    sample = pick(sites, args.seed, args.count)
    # Warnings do not stop a mutant: only what does not compile is left out.
    corpus = os.path.normpath(os.path.join(ROOT, "..", "shared", "corpus"))
    configure = ["cmake", "-S", tree, "-B", build, "-G", "Ninja",
                 "-DFLATAV_BUILD_BENCH=OFF", "-DFLATAV_WERROR=OFF",
                 "-DFLATAV_CORPUS_DIR=" + corpus]
    build_cmd = ["cmake", "--build", build, "-j", str(args.jobs)]
    ctest = ["ctest", "--test-dir", build, "-j", str(args.jobs), "--output-on-failure"]

    report("Mutation sample of src/: seed {}, {} of {} sites".format(
        args.seed, len(sample), len(sites)))
    clean_log = os.path.join(logs, "clean.txt")
    for cmd in (configure, build_cmd):
        if run(cmd, clean_log)[0] != 0:
            report("The unchanged tree does not build: see " + clean_log)
            return 1
    code, seconds, _ = run(ctest, clean_log)
    if code != 0:
        report("The suite fails on the unchanged tree ({}): see {}".format(
            failed_test(clean_log) or "exit code %d" % code, clean_log))
        return 1
    limit = max(3 * seconds, 60.0)
    report("Unchanged suite: passes in {:.0f} s; limit per mutant {:.0f} s".format(
        seconds, limit))
    report()

    results = []
    width = len(str(len(sample)))
    for number, site in enumerate(sample, 1):
        path = os.path.join(tree, site["file"])
        with open(path, encoding="utf-8") as f:
            original = f.read()
        mutant, new_line = mutate(original, site)
        old_line = original.split("\n")[site["line"] - 1]
        log = os.path.join(logs, "{:0{}d}.txt".format(number, width))
        with open(log, "w") as f:
            f.write("{file}:{line}\n-{0}\n+{1}\n".format(old_line, new_line, **site))
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(mutant)
            code, build_seconds, _ = run(build_cmd, log)
            test_seconds = 0.0
            if code != 0:
                status = "not compiled"
            else:
                code, test_seconds, timed_out = run(ctest + ["--stop-on-failure"], log, limit)
                if timed_out:
                    status = "caught (time limit)"
                elif code != 0:
                    status = "caught ({})".format(failed_test(log) or "exit code %d" % code)
                else:
                    status = "survived"
        finally:
            # The next build recompiles the restored file with the next mutant.
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        results.append((site, status, old_line.strip(), new_line.strip()))
        report("{:>{w}}/{} {file}:{line} {kind}: {} => {}".format(
            number, len(sample), old_line.strip(), new_line.strip(), w=width, **site))
        report("{:>{w}}  {} [build {:.0f} s, tests {:.0f} s]".format(
            "", status, build_seconds, test_seconds, w=2 * width + 1))

    compiled = [r for r in results if r[1] != "not compiled"]
    caught = [r for r in compiled if r[1].startswith("caught")]
    survived = [r for r in compiled if r[1] == "survived"]
    report()
    report("Survived:")
    for site, _, old, new in survived:
        report("  {file}:{line} {kind}: {} => {}".format(old, new, **site))
    report()
    report("Caught {} of {} compiled ({:.0f}%); {} did not compile; {:.0f} min".format(
        len(caught), len(compiled), 100.0 * len(caught) / max(len(compiled), 1),
        len(results) - len(compiled), (time.monotonic() - started) / 60))
    return 0


if __name__ == "__main__":
    sys.exit(main())
