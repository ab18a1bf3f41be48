"""The reports as data: every table under cases/ names its complexes and its
cases (arguments and the expected standard output, standard error, exit
status and requests); one runner serves each complex once and runs the cases
against it. Then the checks that are no table: the requests on the wire, and
standard output that cannot be written."""
import copy
import glob
import json
import os
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

from harness import CMPLXVIEW, DEFAULT_NOTE, KEST_SCHEMA, Provider, example, run

CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases")


def load(name):
    with open(os.path.join(CASES, name), encoding="utf-8") as f:
        return json.load(f)


FRAMES = load("frames.json")


def text(value):
    """An expected output: a string, or its lines, where "@name" stands for a frame of frames.json."""
    if value is None or isinstance(value, str):
        return value
    return "\n".join("\n".join(FRAMES[line[1:]]) if line.startswith("@") else line for line in value)


def build(spec, change, directory):
    """The complex file of a table's complex (its classes, or "namespaces"
    and more; "$base" names a file under cases/ to start from) with its own
    "$change" and the case's: "faults", a whole class, "Class+" instances
    added, "Class[i]" properties of one instance, "Class.Property" texts of
    the schema's ValueMap. Gives the complex and the schema file."""
    data = copy.deepcopy(spec)
    changes = dict(data.pop("$change", {}), **(change or {}))
    if "$base" in data:
        data = load(data["$base"])
    if "namespaces" not in data:
        data = {"namespaces": {"root/cimv2/kest": data}}
    classes = data["namespaces"]["root/cimv2/kest"]
    schema = KEST_SCHEMA
    for name, value in changes.items():
        if "." in name:
            cls, prop = name.split(".")
            with open(KEST_SCHEMA, encoding="utf-8") as f:
                loaded = json.load(f)
            properties = next(c for c in loaded["classes"] if c["name"] == cls)["properties"]
            value_map = next(p for p in properties if p["name"] == prop)["valueMap"]
            for code, replacement in value.items():
                value_map[int(code)] = replacement
            schema = os.path.join(directory, "schema.json")
            with open(schema, "w", encoding="utf-8") as f:
                json.dump(loaded, f)
        elif name == "faults":
            data["faults"] = value
        elif name.endswith("+"):
            classes[name[:-1]] += value
        elif name.endswith("]"):
            cls, index = name[:-1].split("[")
            classes[cls][int(index)].update(value)
        else:
            classes[name] = value
    return data, schema


class Reports(unittest.TestCase):
    maxDiff = None

    def run_table(self, table):
        """Each case in its own subtest; cases with the same complex and changes share a provider."""
        providers = {}
        try:
            for case in table["cases"]:
                with self.subTest(case["name"]):
                    key = json.dumps([case["complex"], case.get("change")])
                    if key not in providers:
                        directory = tempfile.TemporaryDirectory(prefix="kest-case-")
                        data, schema = build(table["complexes"][case["complex"]], case.get("change"), directory.name)
                        providers[key] = (Provider(data, schema=schema), directory)
                    self.check(providers[key][0], case)
        finally:
            for provider, directory in providers.values():
                provider.close()
                directory.cleanup()

    def check(self, provider, case):
        start = len(provider.log())
        args = case["args"]
        out, err, status = run(args, env=provider.env)
        expected = text(case.get("stdout"))
        if expected is not None:
            self.assertEqual(out, expected, "standard output of cmplxview %s" % args)
        self.assertEqual(err, text(case.get("stderr", "")), "standard error of cmplxview %s" % args)
        self.assertEqual(status, case.get("status", 0), "exit status of cmplxview %s" % args)
        # Texts that the output holds in this order, holds a number of times, lacks, or ends with.
        at = 0
        for part in case.get("contains", []):
            found = out.find(part, at)
            self.assertGreaterEqual(found, at, "%r after position %d of %r" % (part, at, out))
            at = found + len(part)
        for part, count in case.get("counts", {}).items():
            self.assertEqual(out.count(part), count, "%r in %r" % (part, out))
        for part in case.get("lacks", []):
            self.assertNotIn(part, out)
        self.assertTrue(out.endswith(case.get("end", "")), out)
        # The requests of this run: "OP [CLASS]" gives their number, or the keys they fetched.
        log = provider.log()[start:]
        for selector, want in case.get("requests", {}).items():
            op, _, cls = selector.partition(" ")
            got = [r["key"] for r in log
                   if op in ("*", r["op"]) and (not cls or (r["class"] or "").lower() == cls.lower())]
            self.assertEqual(len(got) if isinstance(want, int) else got, want, "%s: %s" % (selector, log))


def table_test(path):
    return lambda self: self.run_table(load(path))


for _path in sorted(glob.glob(os.path.join(CASES, "*.json"))):
    _name = os.path.basename(_path)[:-5]
    if _name not in ("frames", "small"):
        setattr(Reports, "test_" + _name, table_test(_name + ".json"))


def traced_calls(provider, args):
    """The method calls cmplxview sent, read from its wire trace, as parsed XML."""
    with tempfile.TemporaryDirectory(prefix="kest-trace-") as d:
        path = os.path.join(d, "trace")
        run(args, env=dict(provider.env, XK_CIM_TRACE=path))
        with open(path, encoding="utf-8") as f:
            docs = [ET.fromstring(line) for line in f if line.startswith("<CIM") and "<SIMPLEREQ>" in line]
    return [d.find("MESSAGE/SIMPLEREQ")[0] for d in docs]


def keys(name):
    return [(k.get("NAME"), k.find("KEYVALUE").get("VALUETYPE"), k.find("KEYVALUE").text)
            for k in name.findall("KEYBINDING")]


class RequestsOnTheWire(unittest.TestCase):
    """The flags of each operation (a flag left out takes the operation's
    default), the key bindings of keyed fetches and the parameters of MakeID."""

    def test_flags_keys_and_parameters(self):
        flags = {  # (default, wanted) of each flag
            "EnumerateInstances": {"DeepInheritance": (True, False), "LocalOnly": (True, False),
                                   "IncludeQualifiers": (False, True), "IncludeClassOrigin": (False, False)},
            "GetInstance": {"LocalOnly": (True, True), "IncludeQualifiers": (False, False),
                            "IncludeClassOrigin": (False, False)},
            "GetClass": {"LocalOnly": (True, False), "IncludeQualifiers": (True, True),
                         "IncludeClassOrigin": (False, False)}}
        gets = [(["-C"], []), (["-b", "0", "-M"], [("XK_KestCabinet", "ID", "0")]),
                (["-p", "5", "-p", "0", "-M"], [("XK_KestPartition", "PartitionID", "5"),
                                                ("XK_KestPartition", "PartitionID", "0")]),
                (["-c", "3", "-M"], [("XK_KestCellSlot", "ID", "3")]),
                (["-i", "0/0/1", "-M"], [("XK_KestIOChassisSlot", "ID", "0")]),
                (["-w"], [("XK_KestPartition", "PartitionID", "0")])]
        seen = set()
        with Provider(load("small.json")) as p:
            for args, want in gets:
                calls = traced_calls(p, args)
                for call in calls:
                    name = call.get("NAME")
                    self.assertEqual("/".join(n.get("NAME") for n in call.iter("NAMESPACE")), "root/cimv2/kest")
                    if name in flags:
                        seen.add(name)
                        sent = {v.get("NAME"): v.findtext("VALUE").strip().lower() == "true"
                                for v in call.findall("IPARAMVALUE") if v.findtext("VALUE", "").strip() != ""}
                        self.assertEqual({f: sent.get(f, default) for f, (default, _) in flags[name].items()},
                                         {f: wanted for f, (_, wanted) in flags[name].items()}, (args, name))
                        self.assertNotIn("PropertyList", sent, (args, name))  # every property is asked for
                got = [(n.get("CLASSNAME"), keys(n))
                       for n in (c.find("IPARAMVALUE[@NAME='InstanceName']/INSTANCENAME") for c in calls
                                 if c.get("NAME") == "GetInstance")]
                self.assertEqual(got, [(cls, [(key, "numeric", value)]) for cls, key, value in want], args)
        self.assertEqual(seen, set(flags))

    def test_make_id_parameters(self):
        cases = [
            (["-c", "1/2"], "XK_KestCellSlot", [("CabinetID", "uint8", "1"), ("SlotNumber", "uint8", "2")]),
            # Only the low 8 bits of each position are sent.
            (["-c", "300/257"], "XK_KestCellSlot", [("CabinetID", "uint8", "44"), ("SlotNumber", "uint8", "1")]),
            (["-i", "1/2/1"], "XK_KestIOChassisSlot",
             [("CabinetID", "uint8", "1"), ("BayNumber", "uint8", "2"), ("SlotNumber", "uint8", "1")]),
        ]
        table = load("access.json")
        with Provider(build(table["complexes"]["positions"], None, None)[0]) as p:
            for args, cls, params in cases:
                calls = [c for c in traced_calls(p, args + ["-M"]) if c.get("NAME") == "MakeID"]
                self.assertEqual(len(calls), 1, args)
                # The method is called on the first instance name of the slot class.
                target = calls[0].find("LOCALINSTANCEPATH/INSTANCENAME")
                self.assertEqual((target.get("CLASSNAME"), keys(target)), (cls, [("ID", "numeric", "0")]))
                self.assertEqual([(v.get("NAME"), v.get("PARAMTYPE"), v.findtext("VALUE"))
                                  for v in calls[0].findall("PARAMVALUE")], params, args)


class FailedOutput(unittest.TestCase):
    """Standard output that cannot take the report: the run fails with one
    line naming the failure, or quietly when the reader went away."""

    def test_scenarios(self):
        note = DEFAULT_NOTE
        full = "Error: Could not write standard output: No space left on device.\n"
        closed = "Error: Could not write standard output: Bad file descriptor.\n"
        cases = [
            # arguments, standard output, standard error, status; display all (no arguments) is
            # several buffers long, so its first failed write is long past when it ends
            (["-X"], "full", full, 1), ([], "full", note + full, 1),
            (["-C"], "closed", closed, 1), ([], "closed", note + closed, 1), (["-s"], "closed", "", 0),
            (["-C"], "gone", "", 1), ([], "gone", note, 1),
        ]
        with Provider(example("default.json")) as p:
            for args, output, stderr, status in cases:
                with self.subTest(args=args, output=output):
                    reader, writer = os.pipe()
                    os.close(reader)
                    with open("/dev/full", "wb") as devfull:
                        kwargs = {"full": {"stdout": devfull}, "gone": {"stdout": writer},
                                  "closed": {"preexec_fn": lambda: os.close(1)}}[output]
                        result = subprocess.run([CMPLXVIEW] + args, env=p.env, stdin=subprocess.DEVNULL,
                                                stderr=subprocess.PIPE, timeout=60, **kwargs)
                    os.close(writer)
                    self.assertEqual((result.stderr.decode(errors="replace"), result.returncode), (stderr, status))


if __name__ == "__main__":
    unittest.main()
