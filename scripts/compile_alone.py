#!/usr/bin/env python3
"""Checks that every source of a build compiles on its own, as a build without groups or
precompiled headers compiles it (a packager's plain `cmake -S . -B b`).

A unity build compiles sources in groups and a precompiled header puts the standard headers in
front of each: a source that uses a name it never includes compiles there and fails alone. Each
source is checked with the build's own command (compile_commands.json), without the precompiled
header and with -fsyntax-only: the compiler parses and checks it but writes no code, about a
third of a full compile. A source whose text, whose project headers and whose command are as they
were when it last passed is not checked again (BUILD/compile_alone.passed).

    scripts/compile_alone.py BUILD [--jobs N]

Exits 1 naming each source that does not compile alone, with the compiler's message.
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import pathlib
import re
import shlex
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
PROJECT_INCLUDE = re.compile(rb'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
# Folders a quoted include is looked up in after the including file's own (the tests add tests/).
INCLUDE_ROOTS = [ROOT, ROOT / "tests"]


def grouped_sources(entry):
    """The sources one compile command compiles: a unity group's included files, or its own."""
    path = pathlib.Path(entry["file"])
    if "/Unity/unity_" in entry["file"]:
        return [pathlib.Path(p.decode()) for p in PROJECT_INCLUDE.findall(path.read_bytes())]
    return [path]


def alone_command(command, source):
    """The build's command for SOURCE with syntax checking only and no precompiled header."""
    words = shlex.split(command)
    out = []
    i = 0
    while i < len(words):
        word = words[i]
        if word in ("-o", "-include"):  # the object, and the precompiled header's stand-in
            i += 2
            continue
        if word == "-Winvalid-pch":
            i += 1
            continue
        if word == "-c":
            out += ["-fsyntax-only", str(source)]
            i += 2
            continue
        out.append(word)
        i += 1
    return out


def project_header(name, including):
    for folder in [including.parent] + INCLUDE_ROOTS:
        candidate = folder / name.decode()
        if candidate.is_file():
            return candidate.resolve()
    return None  # a system header in quotes


def fingerprint(source, command, texts):
    """A hash of the command, the source and every project header it reaches."""
    digest = hashlib.sha1(" ".join(command).encode())
    seen = set()
    pending = [source]
    while pending:
        path = pending.pop()
        if path in seen:
            continue
        seen.add(path)
        if path not in texts:
            texts[path] = path.read_bytes()
        digest.update(str(path).encode() + b"\0" + texts[path])
        for name in PROJECT_INCLUDE.findall(texts[path]):
            header = project_header(name, path)
            if header:
                pending.append(header)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--jobs", type=int, default=len(os.sched_getaffinity(0)))
    args = parser.parse_args()
    build = args.build.resolve()
    commands = build / "compile_commands.json"
    if not commands.is_file():
        print(f"compile_alone: no {commands} (a Makefile or Ninja generator writes it)", file=sys.stderr)
        return 1
    entries = json.loads(commands.read_text())

    grouped = any("/Unity/unity_" in e["file"] or "cmake_pch" in e["command"] for e in entries)
    if not grouped:
        print("compile_alone: no unity groups or precompiled headers: the build compiled each source alone")
        return 0

    checks = {}
    for entry in entries:
        if entry["file"].endswith("cmake_pch.hxx.cxx") or entry["file"].endswith(".c"):
            continue
        for source in grouped_sources(entry):
            source = source.resolve()
            if source.is_relative_to(build) or source in checks:
                continue
            checks[source] = (entry["directory"], alone_command(entry["command"], source))

    passed_file = build / "compile_alone.passed"
    try:
        passed = json.loads(passed_file.read_text())
    except (OSError, ValueError):
        passed = {}
    texts = {}
    keys = {source: fingerprint(source, command, texts) for source, (_, command) in checks.items()}
    due = [source for source in checks if passed.get(str(source)) != keys[source]]

    def check(source):
        directory, command = checks[source]
        # Niced: the check fills the time the timing-sensitive tests beside it leave idle.
        result = subprocess.run(command, cwd=directory, capture_output=True, text=True,
                                preexec_fn=lambda: os.nice(19))
        return source, result

    failed = []
    with concurrent.futures.ThreadPoolExecutor(max(1, args.jobs)) as pool:
        for source, result in pool.map(check, due):
            if result.returncode == 0:
                passed[str(source)] = keys[source]
            else:
                failed.append(source)
                passed.pop(str(source), None)
                print(f"{source.relative_to(ROOT)} does not compile on its own:\n{result.stderr}",
                      file=sys.stderr)
    passed_file.write_text(json.dumps(passed, indent=0, sort_keys=True))
    print(f"compile_alone: {len(checks)} sources, {len(due)} checked, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
