"""Shared pieces of the benchmarks (bench/run.py, bench/client.py): a kest-provider with a
request log, the wire trace of the client turned into a curl replay, interleaved timing and the
peak memory of a child. Python 3 standard library only."""

import json
import os
import re
import shlex
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
HTTPS_PORT = 5989  # the port cmplxview -u connects to
USER, PASSWORD = "admin", "kest-demo"  # the user of examples/default.json and generate.py


class Provider:
    """kest-provider on a private socket and, optionally, HTTPS on ADDRESS:5989, with a log."""

    def __init__(self, binary, complex_file, directory, https_address=None):
        self.directory = Path(directory)
        self.socket = str(self.directory / "cimxml.socket")
        self.log = str(self.directory / "requests.jsonl")
        self.https_address = https_address
        ready = self.directory / "ready"
        for path in (ready, Path(self.log)):
            if path.exists():
                path.unlink()
        command = [binary, "--socket", self.socket, "--ready-file", str(ready), "--log", self.log]
        if https_address:
            command += ["--https", f"{https_address}:{HTTPS_PORT}", "--write-cert", str(self.directory / "cert.pem")]
        self.process = subprocess.Popen(command + [str(complex_file)], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while not ready.exists():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("kest-provider did not start: " + self.process.stderr.read().decode(errors="replace"))
            time.sleep(0.02)

    def log_position(self):
        return os.path.getsize(self.log)

    def requests_since(self, position):
        # The provider writes a line per answered request; wait until the lines stop growing.
        size = -1
        for _ in range(50):
            if os.path.getsize(self.log) == size:
                break
            size = os.path.getsize(self.log)
            time.sleep(0.02)
        with open(self.log, "rb") as f:
            f.seek(position)
            return [json.loads(line) for line in f.read().decode().split("\n") if line.strip()]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def parse_trace(path, responses=False):
    """The requests (or responses) of an XK_CIM_TRACE file: [(headers, body bytes)] in order.

    A request is traced with its HTTP head as sent (CRLF line ends), a response with its status
    line and headers one per line; an empty line separates head and body, whose length is the
    Content-Length header."""
    data = Path(path).read_bytes()
    found = []
    marker = rb"==== response [^\n]*\n" if responses else rb"==== request [^\n]*\n"
    for match in re.finditer(marker, data):
        start = match.end()
        separator = b"\n" if responses else b"\r\n"
        head_end = data.index(separator * 2, start)
        headers = {}
        for line in data[start:head_end].decode().split(separator.decode())[1:]:
            name, value = line.split(":", 1)
            headers[name.strip()] = value.strip()
        length = next(int(v) for k, v in headers.items() if k.lower() == "content-length")
        body_start = head_end + 2 * len(separator)
        found.append((headers, data[body_start:body_start + length]))
    return found


def _quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write_curl_config(requests, directory, socket=None, https_address=None):
    """A curl config (-K) that sends `requests` one after another on one kept-alive connection."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    blocks = []
    for i, (headers, body) in enumerate(requests):
        body_file = directory / f"body-{i:05d}.xml"
        body_file.write_bytes(body)
        lines = []
        if socket:
            lines += [f"url = {_quote('http://localhost/cimom')}", f"unix-socket = {_quote(socket)}"]
        else:
            lines += [f"url = {_quote(f'https://{https_address}:{HTTPS_PORT}/cimom')}", "insecure",
                      f"user = {_quote(USER + ':' + PASSWORD)}"]
        for name in ("Content-Type", "CIMOperation", "CIMMethod", "CIMObject"):
            if name in headers:
                lines.append(f"header = {_quote(name + ': ' + headers[name])}")
        lines += [f"data-binary = {_quote('@' + str(body_file))}", f"output = {_quote('/dev/null')}"]
        blocks.append("\n".join(lines))
    config = directory / "replay.curlrc"
    config.write_text("\nnext\n".join(blocks) + "\n")
    return str(config)


def heap_peak_bytes(command, env, out_file):
    """The heap peak of one run (bytes, heap and allocator overhead), from valgrind's massif."""
    subprocess.run(["valgrind", "--tool=massif", f"--massif-out-file={out_file}", *command], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=1800)
    peak = 0
    heap = extra = 0
    for line in Path(out_file).read_text().split("\n"):
        if line.startswith("mem_heap_B="):
            heap = int(line.split("=")[1])
        elif line.startswith("mem_heap_extra_B="):
            extra = int(line.split("=")[1])
            peak = max(peak, heap + extra)
    return peak


def instructions(command, env, out_file):
    """The instructions one run executes (valgrind's callgrind), a count that does not depend on
    the load of the machine."""
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}", *command], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=1800)
    for line in Path(out_file).read_text().split("\n"):
        if line.startswith("summary:") or line.startswith("totals:"):
            return int(line.split()[1])
    raise RuntimeError(f"no instruction count in {out_file}")


def interleaved_times(commands, runs, env, warmup=2):
    """Median, mean, standard deviation and minimum (seconds) of the wall time of each command,
    and its mean CPU time, over `runs` rounds that run every command once, in turn.

    Running the commands in alternation, rather than all runs of one and then all of the other
    as hyperfine does, lets a change in the machine's load (other work on a shared machine)
    fall on every command alike, so their ratio keeps still where their times do not. Each run
    is started with posix_spawn and timed from the spawn to its wait4, which also gives its CPU
    time; its output goes to /dev/null."""
    walls = [[] for _ in commands]
    cpus = [[] for _ in commands]
    devnull = os.open(os.devnull, os.O_RDWR)
    try:
        actions = [(os.POSIX_SPAWN_DUP2, devnull, 0), (os.POSIX_SPAWN_DUP2, devnull, 1),
                   (os.POSIX_SPAWN_DUP2, devnull, 2)]
        for round_ in range(warmup + runs):
            # Alternate which command goes first, so neither always follows the other.
            order = range(len(commands)) if round_ % 2 == 0 else reversed(range(len(commands)))
            for i in order:
                start = time.perf_counter()
                pid = os.posix_spawnp(commands[i][0], commands[i], env, file_actions=actions)
                _, status, usage = os.wait4(pid, 0)
                wall = time.perf_counter() - start
                if os.waitstatus_to_exitcode(status) != 0:
                    raise RuntimeError(f"{shlex.join(commands[i])} failed ({os.waitstatus_to_exitcode(status)})")
                if round_ >= warmup:
                    walls[i].append(wall)
                    cpus[i].append(usage.ru_utime + usage.ru_stime)
    finally:
        os.close(devnull)
    return [{"median": statistics.median(w), "mean": statistics.mean(w),
             "stddev": statistics.stdev(w) if len(w) > 1 else 0.0, "min": min(w), "cpu": statistics.mean(c)}
            for w, c in zip(walls, cpus)]


def peak_memory_kib(command, env, repeat=3):
    """The largest peak resident set (KiB) of `command` over `repeat` runs, and its last status.

    Measured by GNU time (/usr/bin/time -f %M), which starts the command from a process of about
    1 MiB: a child started by this Python process directly would count Python's own pages until
    its exec."""
    time_program = "/usr/bin/time"
    if not os.access(time_program, os.X_OK):
        raise RuntimeError("GNU time is needed for the peak memory (apt-get install time)")
    peak, status = 0, 0
    with tempfile.NamedTemporaryFile(mode="r", suffix=".maxrss") as out:
        for _ in range(repeat):
            process = subprocess.run([time_program, "-f", "%M", "-o", out.name, *command], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
            status = process.returncode
            out.seek(0)
            lines = [line for line in out.read().split("\n") if line.strip()]
            peak = max(peak, int(lines[-1]))
    return peak, status


def publish(lines, markdown=None):
    """Prints the report's lines and, when a path is given, writes them to it as Markdown."""
    print("\n" + "\n".join(lines))
    if markdown:
        Path(markdown).write_text("\n".join(lines) + "\n")


def machine():
    cpu = "unknown"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return {"nproc": os.cpu_count(), "cpu": cpu, "load": os.getloadavg()}
