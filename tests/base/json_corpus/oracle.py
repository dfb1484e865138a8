#!/usr/bin/env python3
"""Runs `veldmix-tool json` over every *.json file beside this script and checks it against
Python's json module: same accept or reject, and for accepted documents the same value. Python is
made to reject non-finite numbers, as Veldmix does. differences.txt lists the documents on which
Veldmix knowingly differs, with the tool's expected output; Python must really disagree there.

usage: oracle.py VELDMIX_TOOL      (exit 0 when everything agrees; one line per problem otherwise)
"""
import json
import math
import re
import subprocess
import sys
from pathlib import Path

CORPUS = Path(__file__).resolve().parent
MIN_DOCUMENTS = 40
BOM = b'\xef\xbb\xbf'
SURROGATE = re.compile('[\ud800-\udfff]')


class Rejected(ValueError):
    pass


def finite_number(text):
    value = float(text)
    if not math.isfinite(value):
        raise Rejected(text)
    return value


def reject_constant(name):
    raise Rejected(name)


def load(text):
    """Python's reading, with every number a float and objects as ordered pairs (duplicates kept)."""
    return json.loads(text, parse_float=finite_number, parse_int=finite_number,
                      parse_constant=reject_constant, object_pairs_hook=lambda pairs: ('object', pairs))


def normal(value):
    """A comparable form: kinds tagged (True is not 1.0), numbers bit-exact, lone surrogates
    replaced as Veldmix replaces them."""
    if value is None or isinstance(value, bool):
        return ('literal', value)
    if isinstance(value, float):
        return ('number', value.hex())
    if isinstance(value, str):
        return ('string', SURROGATE.sub('\ufffd', value))
    if isinstance(value, list):
        return ('array', [normal(item) for item in value])
    return ('object', [(normal(key), normal(item)) for key, item in value[1]])


def python_reading(data):
    if data.startswith(BOM):
        data = data[len(BOM):]
    try:
        return normal(load(data.decode('utf-8', 'replace')))
    except (ValueError, RecursionError):
        return None


def run_tool(tool, path):
    """(exit code, stdout text, stderr text)."""
    done = subprocess.run([tool, 'json', str(path)], capture_output=True, timeout=30)
    return done.returncode, done.stdout.decode('utf-8', 'replace'), done.stderr.decode('utf-8', 'replace')


def tool_reading(tool, path, problems):
    """The tool's canonical text, or None when it rejects the document."""
    code, out, err = run_tool(tool, path)
    if code == 1 and not out and err.strip():
        return None
    if code == 0 and out.endswith('\n') and out.count('\n') == 1 and not err:
        return out[:-1]
    problems.append(f'{path.name}: tool exit {code}, stdout {out[:200]!r}, stderr {err[:200]!r}')
    return None


def read_differences():
    expected = {}
    for line in (CORPUS / 'differences.txt').read_text(encoding='utf-8').splitlines():
        if line and not line.startswith('#'):
            name, _, output = line.partition(' ')
            expected[name] = output
    return expected


def main():
    tool = sys.argv[1]
    problems = []
    differences = read_differences()
    documents = sorted(CORPUS.glob('*.json'))
    if len(documents) < MIN_DOCUMENTS:
        problems.append(f'only {len(documents)} documents in {CORPUS}')
    for name in differences:
        if not (CORPUS / name).is_file():
            problems.append(f'differences.txt names a missing file: {name}')

    for path in documents:
        python = python_reading(path.read_bytes())
        ours = tool_reading(tool, path, problems)
        if path.name in differences:
            want = differences[path.name]
            got = 'reject' if ours is None else ours
            if got != want:
                problems.append(f'{path.name}: expected {want!r}, tool gave {got!r}')
            if (python is None) == (want == 'reject'):
                problems.append(f'{path.name}: listed as a difference, but Python agrees')
            continue
        if (python is None) != (ours is None):
            problems.append(f'{path.name}: Python {"rejects" if python is None else "accepts"}, '
                            f'tool {"rejects" if ours is None else "accepts"}')
        elif ours is not None:
            try:
                reread = normal(load(ours))
            except (ValueError, RecursionError) as error:
                problems.append(f'{path.name}: tool output is not JSON ({error}): {ours[:200]!r}')
                continue
            if reread != python:
                problems.append(f'{path.name}: values differ; tool printed {ours[:200]!r}')

    # Files that are not documents: a clear message and exit code 1.
    for path, words in ((CORPUS / 'no-such-file.json', 'no such file'), (CORPUS, 'cannot be read')):
        code, out, err = run_tool(tool, path)
        if code != 1 or out or words not in err:
            problems.append(f'{path}: expected exit 1 with "{words}", got exit {code}, stderr {err!r}')

    for problem in problems:
        print(problem)
    print(f'{len(documents)} documents, {len(differences)} documented differences, {len(problems)} problems')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
