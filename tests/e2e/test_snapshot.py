"""kest-snapshot: a complex captured and served again makes cmplxview print the same bytes, on the socket and
over HTTPS; a capture of the capture is the same bytes; failures leave no files."""
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

from harness import (KEST_SCHEMA, NS, Provider, cim_error, connect_block, example, fault, https_provider,
                     load_complex, run, small_complex)

KEST_SNAPSHOT = os.environ.get("KEST_SNAPSHOT", "kest-snapshot")
USERS = [{"name": "admin", "password": "kest-pw"}]
USER = ["-u", "admin:kest-pw"]
NO_SOCKET = "/nonexistent/kest-snapshot-test.socket"
# In the sanitizer build (several times slower): no large complexes, and the few reports only.
QUICK = os.environ.get("KEST_SNAPSHOT_QUICK") == "1"


def snapshot(args, env, input_text=""):
    p = subprocess.run([KEST_SNAPSHOT] + list(args), env=env, input=input_text.encode(), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=120)
    return p.stdout.decode(errors="replace"), p.stderr.decode(errors="replace"), p.returncode


def generated(cells):
    return json.loads(subprocess.run([sys.executable, example("generate.py"), "--cells", str(cells)],
                                     capture_output=True, text=True, check=True, timeout=120).stdout)


def odd_complex():
    """The small complex with nulls, null array elements, values of another type, short arrays, errorCode and
    errorMsg in instances, a property outside the class."""
    data = small_complex()
    ns = data["namespaces"][NS]
    ns["XK_KestCabinet"][0]["Label"] = None
    ns["XK_KestCellSlot"][1]["Populated"] = {"$type": "uint8", "value": 1}
    cells = ns["XK_KestCell"]
    cells[0].update(CPUCount={"$type": "string", "value": "4"}, DIMMSize=[1024, None, 2048],
                    DIMMStatus=[7, None, 7], Vendor={"$type": "string", "value": "acme"})
    cells[1].update(errorCode=22, errorMsg="could not take the read lock")
    cells[2].update(errorCode={"$type": "string", "value": "7"}, CPUSpeed={"$type": "real64", "value": 1.5})
    ns["XK_KestPartition"][0]["CellUseOnNextBoot"] = [True]
    ns["XK_KestPartition"][1]["FailureUsage"] = {"$type": "uint8", "array": True, "value": [1, None]}
    return data


def own_value_maps(schema):
    """A schema with ValueMap texts, Values and descriptions that are not ours."""
    for cls in schema["classes"]:
        for prop in cls["properties"]:
            if prop["name"] == "CabinetType":
                prop.update(valueMap=["?", "other", "C8", "C4", "C4/2", "C2", "IOX"], description="cabinet kind",
                            values=["unknown", "other", "8 cells", "4 cells", "4 cells v2", "2 cells", "I/O"])
            if cls["name"] == "XK_KestCell" and prop["name"] == "ComponentStatus":
                prop["valueMap"][6] = "Broken"
    return schema


def instances(data, cls):
    return data["namespaces"][NS].get(cls, [])


def chunks(words, option, size=64):
    return [[w for n in words[i:i + size] for w in (option, str(n))] for i in range(0, len(words), size)]


def every_report(data):
    """Every report with and without -M, -V of every object; a cell and a chassis by position (through MakeID)."""
    cabinets = [c["ID"] for c in instances(data, "XK_KestCabinet")]
    cells = [s["ID"] for s in instances(data, "XK_KestCellSlot")]
    partitions = [p["PartitionID"] for p in instances(data, "XK_KestPartition")]
    slot = instances(data, "XK_KestCellSlot")[-1]
    chassis = instances(data, "XK_KestIOChassisSlot")[-1]
    commands = [[], ["-X"], ["-w"], ["-C", "-A"], ["-I", "-A"], ["-C", "-A", "-M"], ["-I", "-A", "-M"],
                ["-c", "%d/%d" % (slot["CabinetID"], slot["Number"])],
                ["-i", "%d/%d/%d" % (chassis["CabinetID"], chassis["IOBayNumber"], chassis["Number"]), "-M"],
                ["-c", "254"]]
    for option in ("-B", "-C", "-I", "-P"):
        commands += [[option], [option, "-M"]]
    for option, numbers in (("-b", cabinets), ("-c", cells), ("-p", partitions)):
        commands += [["-V"] + words for words in chunks(numbers, option)]
        commands += [["-M"] + words for words in chunks(numbers, option)]
    return commands


def few_reports(data):
    cells = [s["ID"] for s in instances(data, "XK_KestCellSlot")]
    return [[], ["-C", "-M"], ["-P", "-M"]] + [["-V"] + words for words in chunks(cells, "-c")]


# name, complex, change to the schema the original provider serves, commands
FIDELITY = [
    ("example complex", lambda: load_complex(example("default.json")), None, every_report),
    ("16 generated cells", lambda: generated(16), None, every_report),
    ("64 generated cells", lambda: generated(64), None, every_report),
    ("256 generated cells", lambda: generated(256), None, few_reports),
    ("small complex with a local partition", small_complex, None, every_report),
    ("nulls, other types, short arrays, errorCode", odd_complex, None, every_report),
    ("a provider with its own ValueMap texts", lambda: load_complex(example("default.json")), own_value_maps,
     every_report),
]


class Fidelity(unittest.TestCase):
    def test_replay_prints_what_the_original_printed(self):
        for name, make, change_schema, commands in FIDELITY:
            if QUICK and name in ("64 generated cells", "256 generated cells"):
                continue
            with self.subTest(name), tempfile.TemporaryDirectory() as d:
                schema = KEST_SCHEMA
                if change_schema:
                    schema = os.path.join(d, "schema.json")
                    pathlib.Path(schema).write_text(json.dumps(change_schema(load_complex(KEST_SCHEMA))))
                data = dict(make(), users=USERS)
                original, original_address = https_provider(data, schema=schema)
                with original:
                    document, err, status = snapshot(["-"], original.env)
                    self.assertEqual((err, status), ("", 0))
                    self.assertEqual(snapshot(USER + ["-h", original_address, "-"],
                                              dict(original.env, XK_CIM_SOCKET=NO_SOCKET)), (document, "", 0),
                                     "the capture over HTTPS")
                    replayed = json.loads(document)
                    self.assertEqual(set(replayed), {"namespaces", "schema"})
                    self.assertEqual(replayed["schema"]["classes"], [c for c in load_complex(schema)["classes"]
                                                                     if c["name"] != "XK_KestRemoteComplex"])
                    replay, replay_address = https_provider(dict(replayed, users=USERS), schema=None)
                    with replay:
                        self.assertEqual(snapshot(["-"], replay.env), (document, "", 0), "a capture of the replay")
                        for args in (few_reports if QUICK else commands)(data):
                            self.assertEqual(run(args, replay.env), run(args, original.env), " ".join(args))
                            self.assertEqual(run(args + USER + ["-h", replay_address], replay.env),
                                             run(args + USER + ["-h", original_address], original.env),
                                             " ".join(args) + " over HTTPS")

    def test_two_files_hold_the_one_document_and_recapture_the_same(self):
        with Provider(small_complex()) as original, tempfile.TemporaryDirectory() as d:
            first, again = os.path.join(d, "first"), os.path.join(d, "again")
            self.assertEqual(snapshot(["-o", first], original.env), ("", "", 0))
            document = json.loads(snapshot(["-"], original.env)[0])
            self.assertEqual(load_complex(os.path.join(first, "schema.json")), document.pop("schema"))
            self.assertEqual(load_complex(os.path.join(first, "complex.json")), document)
            with Provider(os.path.join(first, "complex.json"), schema=os.path.join(first, "schema.json")) as replay:
                self.assertEqual(snapshot(["-o", again], replay.env), ("", "", 0))
            self.assertEqual(sorted(os.listdir(again)), ["complex.json", "schema.json"])
            for name in os.listdir(again):
                self.assertEqual(pathlib.Path(first, name).read_bytes(), pathlib.Path(again, name).read_bytes(), name)


REFUSED = "kest-snapshot: XK_KestCell: the provider refused it (--allow-missing XK_KestCell captures without it): " \
          "CIM_ERR_FAILED: boom\n"
GET_CELL = [cim_error(1, "boom", operation="GetClass", **{"class": "XK_KestCell"})]
IN_THE_WAY = "kest-snapshot: {dir}/%s.json: cannot be written: Is a directory\n"
EARLIER = {"complex.json": "earlier", "schema.json": "earlier"}

# name, faults, arguments before "-o DIR", standard error (or its start)[, files in DIR before, None: a directory]
FAILURES = [
    ("a refused class", GET_CELL, [], REFUSED),
    ("a refused enumeration", [cim_error(1, "boom", operation="EnumerateInstances", **{"class": "XK_KestCell"})],
     [], REFUSED),
    ("--allow-missing of another class", GET_CELL, ["--allow-missing", "XK_KestCabinet"], REFUSED),
    ("a connection lost in the middle",
     [fault("drop", operation="EnumerateInstances", **{"class": "XK_KestPartition"})], [],
     "kest-snapshot: XK_KestPartition: "),
    ("complex.json in the way", [], [], IN_THE_WAY % "complex", {"complex.json": None, "schema.json": "earlier"}),
    ("schema.json in the way", [], [], IN_THE_WAY % "schema", {"complex.json": "earlier", "schema.json": None}),
    ("schema.json in the way of a first capture", [], [], IN_THE_WAY % "schema", {"schema.json": None}),
]


class Failures(unittest.TestCase):
    maxDiff = None

    def test_refused_command_lines(self):
        # Each refusal names its problem, then the usage; nothing is captured, nothing connects.
        env, once = dict(os.environ, XK_CIM_SOCKET=NO_SOCKET), "give one of -o DIR and - only once"
        for args, problem in [
            (["-o", "a", "-o", "b"], once), (["-", "-o", "a"], once), (["-o", "a", "-"], once),
            (["-o"], "-o needs a value"), (["-o", ""], "-o needs a directory"),
            (["-", "-u", "a:b", "-u", "c:d"], "-u given twice"),
            (["-", "-h", "x", "-h", "y"], "-h given twice"), (["-", "-u", "a:b"], "-u and -h go together"),
            (["-", "--allow-missing=XK_Nothing"], "XK_Nothing is not a class kest-snapshot captures"),
            (["-x"], "unknown argument -x"), ([], "give -o DIR or -"),
        ]:
            out, err, status = snapshot(args, env)
            self.assertEqual((out, err.partition("\n")[0], status), ("", "kest-snapshot: " + problem, 1), args)
            self.assertIn("-o DIR", err.partition("\n")[2], args)

    def test_a_failure_leaves_the_earlier_files_as_they_were(self):
        for name, faults, args, stderr, *before in FAILURES:
            files = before[0] if before else EARLIER
            with self.subTest(name), Provider(dict(small_complex(), faults=faults)) as p, \
                    tempfile.TemporaryDirectory() as d:
                for file, text in files.items():
                    if text is None:
                        os.mkdir(os.path.join(d, file))
                    else:
                        pathlib.Path(d, file).write_text(text)
                out, err, code = snapshot(args + ["-o", d], p.env)
                stderr = stderr.format(dir=d)
                self.assertEqual((out, err[:len(stderr)], code), ("", stderr, 1))
                self.assertEqual(sorted(os.listdir(d)), sorted(files))
                for file, text in files.items():
                    if text is not None:
                        self.assertEqual(pathlib.Path(d, file).read_text(), text)

    def test_an_allowed_refusal_leaves_the_class_out(self):
        faults = [cim_error(1, "boom", operation="EnumerateInstances", **{"class": "XK_KestLocalPartition"})]
        with Provider(dict(small_complex(), faults=faults)) as p:
            out, err, code = snapshot(["--allow-missing", "xk_kestlocalpartition", "-"], p.env)
        self.assertEqual((err, code), ("kest-snapshot: XK_KestLocalPartition: left out, the provider refused it: "
                                       "CIM_ERR_FAILED: boom\n", 0))
        document = json.loads(out)
        self.assertEqual(list(document["namespaces"][NS]), [c["name"] for c in document["schema"]["classes"]])
        self.assertNotIn("XK_KestLocalPartition", document["namespaces"][NS])
        self.assertIn("XK_KestPartition", document["namespaces"][NS])

    def test_unreachable_provider_gives_the_diagnostics_of_cmplxview(self):
        env = dict(os.environ, XK_CIM_SOCKET=NO_SOCKET)
        for args, target in (([], "<localhost>"), (USER + ["-h", "127.1.99.199"], "127.1.99.199")):
            with self.subTest(target), tempfile.TemporaryDirectory() as d:
                out, err, code = snapshot(args + ["-o", os.path.join(d, "new")], env)
                # The same diagnostics (libcurl's message tells how long the attempt took); no file.
                untimed = [re.sub(r"after \d+ ms", "", text) for text in (err, run(["-C"] + args, env)[1])]
                self.assertEqual((out, code, os.listdir(d), untimed[0]), ("", 1, [], untimed[1]))
                self.assertTrue(err.startswith(connect_block(target)), err)

    def test_output_that_cannot_be_written(self):
        with Provider(small_complex()) as p, tempfile.NamedTemporaryFile() as plain, open("/dev/full", "w") as full:
            self.assertEqual(snapshot(["-o", plain.name + "/sub"], p.env),
                             ("", "kest-snapshot: %s/sub: cannot be created: Not a directory\n" % plain.name, 1))
            r = subprocess.run([KEST_SNAPSHOT, "-"], env=p.env, stdout=full, stderr=subprocess.PIPE, timeout=60)
            self.assertEqual((r.stderr.decode(), r.returncode),
                             ("kest-snapshot: standard output: cannot be written: No space left on device\n", 1))

    def test_provider_refuses_a_second_schema_for_a_document_that_carries_one(self):
        with Provider(small_complex()) as p, tempfile.NamedTemporaryFile("w", suffix=".json") as f:
            f.write(snapshot(["-"], p.env)[0])
            f.flush()
            r = subprocess.run([os.environ.get("KEST_PROVIDER"), "--schema", KEST_SCHEMA,
                                "--socket", f.name + ".socket", f.name],
                               capture_output=True, text=True, timeout=30)
            self.assertEqual((r.returncode, r.stderr), (1, "kest-provider: %s: carries its own schema; --schema "
                                                           "cannot be given with it\n" % f.name))


if __name__ == "__main__":
    unittest.main()
