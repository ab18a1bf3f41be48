#!/usr/bin/env python3
"""Keep the example outputs in README.md and man/cmplxview.1 real.

    scripts/doc-examples.py --cmplxview BIN --provider BIN [--update] [FILE...]

Serves examples/default.json with kest-provider on a private socket, runs every example
command of the documents against it, and compares what the command printed on standard output
with the text written under it (blanks at the ends of lines and empty lines at the end do not
count). --update writes the real output into the documents instead. Exit status 1 when an
example differs (without --update).

An example is, in Markdown, a ```console block whose first line is "$ cmplxview ARGS"; in a
manual page, an .EX/.EE block whose first line is "$ cmplxview ARGS" (roff escapes allowed).
Python 3 standard library only.
"""

import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_DOCUMENTS = [ROOT / "README.md", ROOT / "man" / "cmplxview.1"]


def roff_to_text(line):
    return line.replace("\\-", "-").replace("\\e", "\\").replace("\\&", "")


def text_to_roff(line):
    line = line.replace("\\", "\\e")
    if line.startswith((".", "'")):
        line = "\\&" + line
    return line


def normalise(lines):
    lines = [line.rstrip() for line in lines]
    while lines and not lines[-1]:
        lines.pop()
    return lines


def find_examples(path, lines):
    """(command words, first output line index, end index) of each example."""
    roff = path.suffix[1:].isdigit()
    examples = []
    i = 0
    while i < len(lines):
        opening = lines[i].strip()
        if (roff and opening == ".EX") or (not roff and opening == "```console"):
            start = i + 1
            end = start
            closing = ".EE" if roff else "```"
            while end < len(lines) and lines[end].strip() != closing:
                end += 1
            if end == len(lines):
                raise SystemExit(f"{path}:{i + 1}: example block is not closed")
            first = roff_to_text(lines[start]) if (roff and start < end) else (lines[start] if start < end else "")
            if first.startswith("$ cmplxview"):
                examples.append((shlex.split(first[2:]), start + 1, end, roff))
            i = end
        i += 1
    return examples


class Provider:
    def __init__(self, binary, complex_file):
        self.dir = tempfile.TemporaryDirectory(prefix="doc-examples-")
        self.socket = os.path.join(self.dir.name, "cimxml.socket")
        ready = os.path.join(self.dir.name, "ready")
        self.process = subprocess.Popen(
            [binary, "--socket", self.socket, "--ready-file", ready, str(complex_file)],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not os.path.exists(ready):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise SystemExit("kest-provider did not start: " + self.process.stderr.read().decode(errors="replace"))
            time.sleep(0.02)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.dir.cleanup()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cmplxview", required=True)
    parser.add_argument("--provider", required=True)
    parser.add_argument("--complex", default=str(ROOT / "examples" / "default.json"))
    parser.add_argument("--update", action="store_true")
    parser.add_argument("documents", nargs="*", type=Path)
    args = parser.parse_args()
    documents = args.documents or DEFAULT_DOCUMENTS

    provider = Provider(args.provider, args.complex)
    differences = 0
    checked = 0
    try:
        env = dict(os.environ, XK_CIM_SOCKET=provider.socket)
        env.pop("XK_CIM_TRACE", None)
        for path in documents:
            lines = path.read_text(encoding="utf-8").split("\n")
            # Replaced from the last example up, so that indices stay valid.
            for words, start, end, roff in reversed(find_examples(path, lines)):
                run = subprocess.run([args.cmplxview] + words[1:], env=env, capture_output=True,
                                     text=True, timeout=120)
                actual = normalise(run.stdout.split("\n"))
                written = normalise([roff_to_text(line) if roff else line for line in lines[start:end]])
                checked += 1
                if actual == written:
                    continue
                if args.update:
                    lines[start:end] = [text_to_roff(line) if roff else line for line in actual]
                    print(f"{path}: updated the output of: {' '.join(words)}")
                else:
                    differences += 1
                    print(f"{path}:{start}: the output of `{' '.join(words)}` is no longer what is written:")
                    import difflib
                    for line in difflib.unified_diff(written, actual, "written", "actual", lineterm=""):
                        print("   " + line)
            if args.update:
                path.write_text("\n".join(lines), encoding="utf-8")
    finally:
        provider.stop()
    if checked == 0:
        print("no examples found")
        return 1
    print(f"{checked} examples checked, {differences} differ")
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
