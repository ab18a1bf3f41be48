#!/usr/bin/env python3
"""Writes the codec fuzzer's seeds from the interop corpus: each recorded
answer body (chunk framing removed) after a byte naming its operation, and
each recorded request body after the request byte (7)."""
import pathlib
import re
import sys

OPERATIONS = ["EnumerateInstanceNames", "EnumerateInstances", "GetInstance", "GetClass",
              "CreateInstance", "DeleteInstance"]


def body_of(raw: bytes) -> bytes:
    head, _, rest = raw.partition(b"\r\n\r\n")
    if b"transfer-encoding: chunked" not in head.lower():
        return rest
    body = b""
    while True:
        size_line, _, rest = rest.partition(b"\r\n")
        size = int(size_line.split(b";")[0], 16)
        if size == 0:
            return body
        body += rest[:size]
        rest = rest[size + 2:]


def main() -> int:
    corpus, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    if not corpus.is_dir():
        print(f"interop corpus missing: {corpus}", file=sys.stderr)
        return 1
    out.mkdir(parents=True, exist_ok=True)
    count = 0
    for response in sorted(corpus.glob("*.response.http")):
        body = body_of(response.read_bytes())
        if b"<METHODRESPONSE" in body:
            mode = 6
        else:
            name = re.search(rb'IMETHODRESPONSE NAME="(\w+)"', body).group(1).decode()
            mode = OPERATIONS.index(name)
        (out / response.name.replace(".http", "")).write_bytes(bytes([mode]) + body)
        count += 1
    for request in sorted(corpus.glob("*.request.xml")):
        (out / request.name).write_bytes(bytes([7]) + request.read_bytes())
        count += 1
    print(f"{count} seeds written to {out}")
    return 0 if count else 1


if __name__ == "__main__":
    sys.exit(main())
