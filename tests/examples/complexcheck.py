#!/usr/bin/env python3
"""Checks of kest-provider's class schema and of complex files against it.

    python3 complexcheck.py --schema provider/schema/kest-schema.json [--label-widths] FILE...

Every check returns a list of problems, each a text "tag: where: what". The tag names the rule
that was broken, so that tests can ask for one rule.
"""

import argparse
import json
import re
import sys

NONE = 255

INTEGER_RANGES = {
    "uint8": (0, 2**8 - 1), "uint16": (0, 2**16 - 1), "uint32": (0, 2**32 - 1), "uint64": (0, 2**64 - 1),
    "sint8": (-2**7, 2**7 - 1), "sint16": (-2**15, 2**15 - 1), "sint32": (-2**31, 2**31 - 1),
    "sint64": (-2**63, 2**63 - 1),
}
CIM_TYPES = set(INTEGER_RANGES) | {"boolean", "real32", "real64", "char16", "string", "datetime", "reference"}
ERROR_PROPERTIES = {"errorCode": "uint32", "errorMsg": "string"}

# Cell report columns that show a slot label with its blanks removed.
CELL_LOCATION_WIDTH = 10      # cell rows, and the "connected to" column of I/O chassis rows
CHASSIS_LOCATION_WIDTH = 19   # I/O chassis rows, and the "connected to" column of cell rows

# Codes the reports and the example data give a fixed meaning.
CELL_ACTIVE, CELL_INACTIVE = 5, 4
CPU_EMPTY, CPU_OK = 1, 2
DIMM_EMPTY, DIMM_OK = 1, 7
MP_ACTIVE = 2

# What cmplxview reads, class by class: "Name type[] [key]". Types are the ones it reads the
# values as; a property it fetches but never reads is listed without a type.
READ_CONTRACT = {
    "XK_KestComplex": [
        "ProfileID uint32 key", "RevisionString string", "ModelString string", "ComplexName string",
        "OriginalProductOrderNumber string", "CurrentProductOrderNumber string",
        "CreatorManufacturer string", "OEMManufacturer string", "CreatorProductName string",
        "OEMProductName string", "CreatorSerialNumber string", "OEMSerialNumber string", "CellType",
        "CellAssignments uint32[]", "GNIPerCell uint16[]", "GNISpecType uint8[]",
        "MaxPartitionsSupported", "InterpartitionSecurityEnabled"],
    "XK_KestCabinet": [
        "ID uint32 key", "CabinetType uint8", "Label", "ServiceProcessorCount uint32",
        "ServiceProcessorStatus uint8[]", "LEDState"],
    "XK_KestPowerCoolingDomain": [
        "ID key", "CabinetID uint32", "DomainNumber", "DomainType uint8", "DomainSubtype uint8", "SlotCount",
        "UnitCount", "FailedCount", "RedundancyState uint8", "UnitTypeLabel", "UnitPresent boolean[]",
        "UnitFailed boolean[]", "ShortUnitLabel", "LongUnitLabel string[]"],
    "XK_KestCellSlot": [
        "CabinetID", "ShortLabel", "LongLabel string", "Populated boolean", "LEDState", "ID uint32 key",
        "Number"],
    "XK_KestCell": [
        "SlotID uint32 key", "ComponentStatus uint8", "DIMMSlotCount", "TotalMemoryInstalled uint64",
        "TotalMemoryOK uint64", "DIMMSlotPopulated", "DIMMType", "DIMMSize uint16[]", "DIMMLabel string[]",
        "DIMMStatus uint8[]", "MaxCPUCount uint32", "CPUCount uint8", "CPUCountOK uint8", "CPUCountPerModule",
        "CPUSpeed uint32", "CPUSlotPopulated", "CPUStatus uint8[]", "CellArchitecture uint8",
        "IODCVersion uint16", "CellUsage uint8", "FirmwareRevision string", "ConnectedToIOChassis boolean",
        "ConnectedIOChassisID uint32", "REOInitialized", "HasCoreIO boolean", "ActualGNIMemory uint32",
        "CompatibilityLabel string"],
    "XK_KestIOChassisSlot": [
        "ID uint32 key", "CabinetID", "Populated boolean", "LEDState", "Number", "IOBayNumber", "ShortLabel",
        "LongLabel string"],
    "XK_KestIOChassis": [
        "SlotID uint32 key", "ComponentStatus uint8", "Connected boolean", "ConnectedCellID uint32",
        "HasCoreIO boolean"],
    "XK_KestPartition": [
        "SequenceNumber", "LockKey", "PartitionID uint32 key", "PartitionType", "PartitionLabel",
        "PartitionName string", "CellUseOnNextBoot boolean[]", "CoreCellID uint32", "MaxSizeCoreCellChoices",
        "CoreCellChoices uint32[]", "BootWithoutConsole", "RebootOnError", "KnownGoodMemory", "BootTimer",
        "FailureUsage uint8[]", "PrimaryBootPath string", "AlternateBootPath string",
        "HAAlternateBootPath string", "AdminIPAddress string"],
    "XK_KestLocalPartition": ["ContainedPartition reference key"],
    "XK_KestRemoteComplex": ["Address string key", "Password string"],
}

METHOD_CONTRACT = {
    ("XK_KestCellSlot", "MakeID"): ("uint32", [("CabinetID", "uint8"), ("SlotNumber", "uint8")]),
    ("XK_KestIOChassisSlot", "MakeID"): ("uint32", [("CabinetID", "uint8"), ("BayNumber", "uint8"),
                                                    ("SlotNumber", "uint8")]),
    ("XK_KestRemoteComplex", "NameSpaceName"): ("string", []),
}

# The texts the cell report shows without a usage qualifier behind them.
STATUS_WITHOUT_QUALIFIER = {"Powered off", "Unknown", "Other", "Inactive"}


def _status_map_rules(texts):
    problems = []
    for code, text in ((CELL_ACTIVE, "Active"), (CELL_INACTIVE, "Inactive")):
        if len(texts) <= code or texts[code] != text:
            problems.append(f"code {code} must read {text!r} (partition status, representative cell)")
    for text in ("Powered off", "Unknown", "Other"):
        if text not in texts:
            problems.append(f"no code reads {text!r}")
    for code, text in enumerate(texts):
        if len(text) > 12:
            problems.append(f"code {code} {text!r} is longer than the 12-column usage field")
        if text not in STATUS_WITHOUT_QUALIFIER and len(text) > 6:
            problems.append(f"code {code} {text!r} is longer than 6 columns and would run into its "
                            "usage qualifier")
    return problems


def _cell_usage_rules(texts):
    problems = []
    if len(texts) < 6:
        problems.append("codes 0 to 5 must all be named (4 and 5 are the base-without-interleave and "
                        "floating usages)")
    for code, text in enumerate(texts[:4]):
        if len(text) > 5:
            problems.append(f"code {code} {text!r} is printed as a usage qualifier and must fit 5 columns")
    return problems


def _cabinet_type_rules(texts):
    problems = []
    if len(texts) != 7:
        problems.append("exactly codes 0 to 6 must be named (7 and above count as unknown cabinets)")
    expected_kind = {0: "Unknown", 1: "Other", 2: "8", 3: "4", 4: "4", 5: "2", 6: "IO"}
    for code, text in enumerate(texts):
        if len(text) > 12:
            problems.append(f"code {code} {text!r} is cut by the 12-column cabinet type field")
        kind = expected_kind.get(code)
        if kind is not None and kind not in text:
            problems.append(f"code {code} {text!r} does not name the kind the complex block counts "
                            f"it as ({kind!r})")
    return problems


def _exact(expected):
    def rule(texts):
        return [] if texts == expected else [f"must be {expected}"]
    return rule


def _entries(required):
    def rule(texts):
        return [f"code {code} must read {text!r}" for code, text in required.items()
                if len(texts) <= code or texts[code] != text]
    return rule


def _contains(text):
    def rule(texts):
        return [] if text in texts else [f"no code reads {text!r}"]
    return rule


def _any_texts(texts):
    return []


# Every ValueMap the reports look up, with what the reports need of it.
VALUE_MAP_RULES = {
    ("XK_KestCabinet", "CabinetType"): _cabinet_type_rules,
    ("XK_KestCabinet", "ServiceProcessorStatus"): _exact(["Unknown", "Other", "Active", "Backup"]),
    ("XK_KestCell", "ComponentStatus"): _status_map_rules,
    ("XK_KestCell", "CellUsage"): _cell_usage_rules,
    ("XK_KestCell", "CPUStatus"): _entries({CPU_EMPTY: "Other", CPU_OK: "OK"}),
    ("XK_KestCell", "DIMMStatus"): _entries({DIMM_EMPTY: "Empty", DIMM_OK: "OK"}),
    ("XK_KestCell", "CellArchitecture"): _contains("VX_ARCH"),
    ("XK_KestPartition", "FailureUsage"): _any_texts,
    ("XK_KestIOChassis", "ComponentStatus"): _status_map_rules,
}


# ---------------------------------------------------------------------------------------------
# Schema


class Schema:
    """The schema file, indexed: classes[name] = {"props": {name: def}, "keys": [...], ...}."""

    def __init__(self, document):
        self.document = document
        self.classes = {}
        for cls in document.get("classes", []) if isinstance(document, dict) else []:
            if isinstance(cls, dict) and isinstance(cls.get("name"), str):
                props = {p["name"]: p for p in cls.get("properties", []) if isinstance(p, dict) and "name" in p}
                self.classes[cls["name"]] = {
                    "def": cls, "props": props,
                    "keys": [name for name, p in props.items() if p.get("key")],
                    "methods": {m.get("name"): m for m in cls.get("methods", []) or [] if isinstance(m, dict)},
                }

    def prop(self, class_name, prop_name):
        cls = self.classes.get(class_name)
        return cls["props"].get(prop_name) if cls else None


def _parse_contract(entry):
    words = entry.split()
    name, rest = words[0], words[1:]
    key = "key" in rest
    rest = [w for w in rest if w != "key"]
    if not rest:
        return name, None, None, key
    type_text = rest[0]
    return name, type_text.rstrip("[]"), type_text.endswith("[]"), key


def check_schema(document):
    problems = []
    add = lambda tag, where, what: problems.append(f"{tag}: {where}: {what}")
    if not isinstance(document, dict) or not isinstance(document.get("classes"), list):
        add("schema-shape", "schema", 'needs a "classes" list')
        return problems
    schema = Schema(document)
    seen = set()
    for index, cls in enumerate(document["classes"]):
        if not isinstance(cls, dict) or not isinstance(cls.get("name"), str):
            add("schema-shape", f"class {index}", "needs a name")
            continue
        name = cls["name"]
        if name.lower() in seen:
            add("schema-shape", name, "class defined twice")
        seen.add(name.lower())
        if cls.get("superclass") not in (None, *schema.classes):
            add("schema-shape", name, f"unknown superclass {cls.get('superclass')!r}")
        props = cls.get("properties")
        if not isinstance(props, list):
            add("schema-shape", name, 'needs a "properties" list')
            continue
        prop_names = set()
        for prop in props:
            where = f"{name}.{prop.get('name') if isinstance(prop, dict) else prop}"
            if not isinstance(prop, dict) or not isinstance(prop.get("name"), str):
                add("schema-shape", where, "a property needs a name")
                continue
            if prop["name"].lower() in prop_names:
                add("schema-shape", where, "property defined twice")
            prop_names.add(prop["name"].lower())
            problems.extend(f"schema-type: {where}: {p}" for p in _typed_item_problems(prop, schema))
            if prop.get("key") and prop.get("array"):
                add("schema-key", where, "an array cannot be a key")
            if "valueMap" in prop:
                texts = prop["valueMap"]
                if prop.get("type") not in INTEGER_RANGES:
                    add("schema-value-map", where, "a value map needs an integer type")
                if (not isinstance(texts, list) or not texts
                        or not all(isinstance(t, str) and t for t in texts)):
                    add("schema-value-map", where, "a value map is a list of non-empty texts")
                elif len(set(texts)) != len(texts):
                    add("schema-value-map", where, "two codes share one text")
        if not any(isinstance(p, dict) and p.get("key") for p in props):
            add("schema-key", name, "no key property")
        for method in cls.get("methods", []) or []:
            where = f"{name}.{method.get('name') if isinstance(method, dict) else method}()"
            if not isinstance(method, dict) or not isinstance(method.get("name"), str):
                add("schema-shape", where, "a method needs a name")
                continue
            if method.get("type") not in CIM_TYPES - {"reference"}:
                add("schema-type", where, f"return type {method.get('type')!r}")
            for param in method.get("parameters", []):
                problems.extend(f"schema-type: {where}: {p}" for p in _typed_item_problems(param, schema))

    for class_name, entries in READ_CONTRACT.items():
        if class_name not in schema.classes:
            add("schema-contract", class_name, "class missing")
            continue
        declared = list(schema.classes[class_name]["props"])
        for entry in entries:
            prop_name, type_name, is_array, key = _parse_contract(entry)
            prop = schema.prop(class_name, prop_name)
            where = f"{class_name}.{prop_name}"
            if prop is None:
                add("schema-contract", where, "property missing")
                continue
            if type_name is not None and (prop.get("type"), bool(prop.get("array"))) != (type_name, is_array):
                add("schema-contract", where, f"is {prop.get('type')}{'[]' if prop.get('array') else ''}, "
                    f"read as {type_name}{'[]' if is_array else ''}")
            if bool(prop.get("key")) != key:
                add("schema-contract", where, "must be a key" if key else "must not be a key")
        listed = [_parse_contract(e)[0] for e in entries]
        if declared[:len(listed)] != listed:
            add("schema-contract", class_name, "properties are not declared in the order they are read")
    reference = schema.prop("XK_KestLocalPartition", "ContainedPartition")
    if reference is not None and reference.get("referenceClass") != "XK_KestPartition":
        add("schema-contract", "XK_KestLocalPartition.ContainedPartition", "must refer to XK_KestPartition")
    chassis_id = schema.prop("XK_KestIOChassisSlot", "ID")
    cell_link = schema.prop("XK_KestCell", "ConnectedIOChassisID")
    if chassis_id and cell_link and chassis_id.get("type") != cell_link.get("type"):
        add("schema-contract", "XK_KestCell.ConnectedIOChassisID",
            "is compared whole with XK_KestIOChassisSlot.ID and must have its type")

    for (class_name, method_name), (return_type, params) in METHOD_CONTRACT.items():
        cls = schema.classes.get(class_name)
        method = cls["methods"].get(method_name) if cls else None
        where = f"{class_name}.{method_name}()"
        if method is None:
            add("schema-contract", where, "method missing")
            continue
        if method.get("type") != return_type:
            add("schema-contract", where, f"returns {method.get('type')}, must return {return_type}")
        got = [(p.get("name"), p.get("type")) for p in method.get("parameters", [])]
        if got != params:
            add("schema-contract", where, f"parameters {got}, must be {params}")

    for (class_name, prop_name), rule in VALUE_MAP_RULES.items():
        prop = schema.prop(class_name, prop_name)
        where = f"{class_name}.{prop_name}"
        if prop is None:
            continue
        texts = prop.get("valueMap")
        if not isinstance(texts, list) or not all(isinstance(t, str) for t in texts):
            add("schema-value-map", where, "the reports look up a value map here")
            continue
        problems.extend(f"schema-value-map: {where}: {p}" for p in rule(texts))
    cell_status = schema.prop("XK_KestCell", "ComponentStatus")
    chassis_status = schema.prop("XK_KestIOChassis", "ComponentStatus")
    if cell_status and chassis_status and cell_status.get("valueMap") != chassis_status.get("valueMap"):
        add("schema-value-map", "XK_KestIOChassis.ComponentStatus", "must read like XK_KestCell.ComponentStatus")
    return problems


def _typed_item_problems(item, schema):
    problems = []
    cim_type = item.get("type")
    if cim_type not in CIM_TYPES:
        problems.append(f"unknown type {cim_type!r}")
    if "array" in item and not isinstance(item["array"], bool):
        problems.append('"array" must be true or false')
    if cim_type == "reference":
        if item.get("referenceClass") not in schema.classes:
            problems.append(f"reference to unknown class {item.get('referenceClass')!r}")
    elif "referenceClass" in item:
        problems.append("referenceClass on a property that is no reference")
    return problems


# ---------------------------------------------------------------------------------------------
# Instance values

_REFERENCE = re.compile(r"^(?:(?P<namespace>[^:\"]+):)?(?P<cls>[A-Za-z_][A-Za-z0-9_]*)\.(?P<keys>.+)$")
_KEY_BINDING = re.compile(r'\s*([A-Za-z_][A-Za-z0-9_]*)\s*=\s*("(?:[^"\\]|\\.)*"|[^,]+)\s*(?:,|$)')
_DATETIME = re.compile(r"^(\d{14}\.\d{6}[+-]\d{3}|\d{14}\.\d{6}:000)$")


def parse_reference(text):
    """(namespace or None, class, {key: value text}) of an object path text, or None."""
    match = _REFERENCE.match(text)
    if not match:
        return None
    keys, pos, body = {}, 0, match.group("keys")
    while pos < len(body):
        binding = _KEY_BINDING.match(body, pos)
        if not binding or binding.end() == pos:
            return None
        value = binding.group(2).strip()
        keys[binding.group(1)] = value[1:-1] if value.startswith('"') else value
        pos = binding.end()
    return match.group("namespace"), match.group("cls"), keys


def scalar_problem(cim_type, value, schema=None, reference_class=None):
    """Why value cannot be a scalar of cim_type, or None."""
    if value is None:
        return None
    if cim_type in INTEGER_RANGES:
        low, high = INTEGER_RANGES[cim_type]
        if isinstance(value, bool) or not isinstance(value, int):
            return f"{value!r} is not an integer"
        if not low <= value <= high:
            return f"{value} is outside {cim_type}"
        return None
    if cim_type in ("real32", "real64"):
        return None if isinstance(value, (int, float)) and not isinstance(value, bool) else f"{value!r} is no number"
    if cim_type == "boolean":
        return None if isinstance(value, bool) else f"{value!r} is not true or false"
    if not isinstance(value, str):
        return f"{value!r} is no text"
    if cim_type == "char16" and len(value) != 1:
        return f"{value!r} is not one character"
    if cim_type == "datetime" and not _DATETIME.match(value):
        return f"{value!r} is no CIM date or interval"
    if cim_type == "reference":
        parsed = parse_reference(value)
        if parsed is None:
            return f"{value!r} is no object path"
        if schema is not None and reference_class is not None:
            _, cls, keys = parsed
            if cls != reference_class:
                return f"{value!r} names {cls}, not {reference_class}"
            target = schema.classes.get(cls)
            if target and set(keys) != set(target["keys"]):
                return f"{value!r} does not bind the keys {target['keys']}"
    return None


def value_problem(cim_type, is_array, value, schema=None, reference_class=None):
    if value is None:
        return None
    if is_array:
        if not isinstance(value, list):
            return f"{value!r} is no array"
        for element in value:
            problem = scalar_problem(cim_type, element, schema, reference_class)
            if problem:
                return problem
        return None
    if isinstance(value, list):
        return "an array where a single value belongs"
    return scalar_problem(cim_type, value, schema, reference_class)


def is_forced(value):
    return isinstance(value, dict) and "$type" in value


def plain(instance, name):
    """The property's value as the example data uses it; None for missing, null or a $type value."""
    value = instance.get(name)
    return None if is_forced(value) else value


def check_instances(schema, document):
    problems = []
    add = lambda tag, where, what: problems.append(f"{tag}: {where}: {what}")
    if not isinstance(document, dict) or not isinstance(document.get("namespaces"), dict):
        add("file-shape", "file", 'needs a "namespaces" object')
        return problems
    for where, entries, fields in (("users", document.get("users", []), ("name", "password")),
                                   ("remoteComplexes", document.get("remoteComplexes", []),
                                    ("address", "password", "namespace"))):
        if not isinstance(entries, list):
            add("file-shape", where, "must be a list")
            continue
        for index, entry in enumerate(entries):
            if not isinstance(entry, dict) or not all(isinstance(entry.get(f), str) for f in fields):
                add("file-shape", f"{where}[{index}]", f"needs the texts {', '.join(fields)}")
    for index, remote in enumerate(document.get("remoteComplexes", []) or []):
        if isinstance(remote, dict) and remote.get("namespace") not in ("", *document["namespaces"]):
            add("remote-namespace", f"remoteComplexes[{index}]",
                f"namespace {remote.get('namespace')!r} is not in the file")

    for space, classes in document["namespaces"].items():
        if not isinstance(classes, dict):
            add("file-shape", space, "must map class names to instance lists")
            continue
        for class_name, instances in classes.items():
            cls = schema.classes.get(class_name)
            if cls is None:
                add("unknown-class", f"{space} {class_name}", "class is not in the schema")
                continue
            if not isinstance(instances, list):
                add("file-shape", f"{space} {class_name}", "must be a list of instances")
                continue
            seen_keys = {}
            for index, instance in enumerate(instances):
                where = f"{space} {class_name}[{index}]"
                if not isinstance(instance, dict):
                    add("file-shape", where, "an instance is an object")
                    continue
                for name, value in instance.items():
                    problems.extend(_property_problems(schema, cls, class_name, name, value, where))
                key = []
                for key_name in cls["keys"]:
                    value = instance.get(key_name)
                    if value is None:
                        add("key-missing", where, f"key {key_name} is missing or null")
                        key = None
                        break
                    key.append(json.dumps(value.get("value") if is_forced(value) else value, sort_keys=True))
                if key is not None:
                    key = tuple(key)
                    if key in seen_keys:
                        add("key-duplicate", where, f"same key as instance {seen_keys[key]}")
                    else:
                        seen_keys[key] = index
    return problems


def _property_problems(schema, cls, class_name, name, value, where):
    problems = []
    at = f"{where}.{name}"
    if is_forced(value):
        if value["$type"] not in CIM_TYPES:
            return [f"type: {at}: unknown $type {value['$type']!r}"]
        if set(value) - {"$type", "value", "array"}:
            return [f"type: {at}: $type value with unknown fields {sorted(set(value) - {'$type', 'value', 'array'})}"]
        problem = value_problem(value["$type"], bool(value.get("array")), value.get("value"))
        return [f"type: {at}: {problem}"] if problem else []
    prop = cls["props"].get(name)
    if prop is None:
        if name in ERROR_PROPERTIES:
            problem = value_problem(ERROR_PROPERTIES[name], False, value)
            return [f"type: {at}: {problem}"] if problem else []
        return [f"unknown-property: {at}: not in the schema and given without $type"]
    problem = value_problem(prop.get("type"), bool(prop.get("array")), value, schema, prop.get("referenceClass"))
    if problem:
        problems.append(f"type: {at}: {problem}")
    elif "valueMap" in prop and value is not None:
        for code in value if isinstance(value, list) else [value]:
            if code is not None and code >= len(prop["valueMap"]):
                problems.append(f"value-map-range: {at}: code {code} has no text (the map has "
                                f"{len(prop['valueMap'])} entries)")
    return problems


# ---------------------------------------------------------------------------------------------
# Consistency of one complex across its classes


def check_consistency(document, label_widths=False):
    problems = []
    for space, classes in document.get("namespaces", {}).items():
        if isinstance(classes, dict):
            problems.extend(_check_namespace(space, classes, label_widths))
    return problems


def _by(instances, key):
    table = {}
    for instance in instances:
        value = plain(instance, key)
        if value is not None:
            table[value] = instance
    return table


def _check_namespace(space, classes, label_widths):
    problems = []
    add = lambda tag, where, what: problems.append(f"{tag}: {space}: {where}: {what}")
    get = lambda name: [i for i in classes.get(name, []) if isinstance(i, dict)]

    profiles = [c for c in get("XK_KestComplex") if plain(c, "ProfileID") == 0]
    if len(profiles) != 1:
        add("complex-profile", "XK_KestComplex", f"{len(profiles)} records with ProfileID 0, need exactly one")
        return problems
    complex_record = profiles[0]

    cabinets = _by(get("XK_KestCabinet"), "ID")
    cell_slots = _by(get("XK_KestCellSlot"), "ID")
    cells = _by(get("XK_KestCell"), "SlotID")
    chassis_slots = _by(get("XK_KestIOChassisSlot"), "ID")
    chassis = _by(get("XK_KestIOChassis"), "SlotID")
    partitions = _by(get("XK_KestPartition"), "PartitionID")

    # Cabinets and their power/cooling domains.
    active_mps = 0
    for cab_id, cab in cabinets.items():
        status = plain(cab, "ServiceProcessorStatus") or []
        if len(status) != (plain(cab, "ServiceProcessorCount") or 0):
            add("mp-status", f"cabinet {cab_id}", "ServiceProcessorStatus does not have ServiceProcessorCount entries")
        active_mps += sum(1 for s in status if s == MP_ACTIVE)
    if cabinets and active_mps != 1:
        add("active-mp", "XK_KestCabinet", f"{active_mps} active MPs, a complex has exactly one")
    domain_numbers = set()
    for dom in get("XK_KestPowerCoolingDomain"):
        where = f"domain {plain(dom, 'ID')}"
        if plain(dom, "CabinetID") not in cabinets:
            add("domain-cabinet", where, f"cabinet {plain(dom, 'CabinetID')} does not exist")
        number = (plain(dom, "CabinetID"), plain(dom, "DomainNumber"))
        if number in domain_numbers:
            add("domain-number", where, f"cabinet {number[0]} has two domains numbered {number[1]}")
        domain_numbers.add(number)
        present, failed = plain(dom, "UnitPresent") or [], plain(dom, "UnitFailed") or []
        labels = plain(dom, "LongUnitLabel") or []
        short = plain(dom, "ShortUnitLabel") or []
        if not len(present) == len(failed) == len(labels) == len(short) == plain(dom, "SlotCount"):
            add("domain-arrays", where, "unit arrays and SlotCount disagree")
        if plain(dom, "UnitCount") != sum(1 for p in present if p):
            add("domain-counts", where, "UnitCount is not the number of present units")
        if plain(dom, "FailedCount") != sum(1 for p, f in zip(present, failed) if p and f):
            add("domain-counts", where, "FailedCount is not the number of failed present units")
        if any(f and not p for p, f in zip(present, failed)):
            add("domain-counts", where, "a unit that is not present is marked failed")

    # Slots, their positions and labels.
    for kind, slots, position, width in (
            ("cell slot", cell_slots, ("CabinetID", "Number"), CELL_LOCATION_WIDTH),
            ("I/O chassis slot", chassis_slots, ("CabinetID", "IOBayNumber", "Number"), CHASSIS_LOCATION_WIDTH)):
        positions, labels = {}, {}
        for slot_id, slot in slots.items():
            where = f"{kind} {slot_id}"
            if plain(slot, "CabinetID") not in cabinets:
                add("slot-cabinet", where, f"cabinet {plain(slot, 'CabinetID')} does not exist")
            pos = tuple(plain(slot, p) for p in position)
            if pos in positions:
                add("slot-position", where, f"same position {pos} as slot {positions[pos]}; MakeID could not tell them apart")
            positions[pos] = slot_id
            if slot_id == NONE and plain(slot, "Populated"):
                add("reserved-number", where, "255 means no object; this slot must stay empty")
            label = plain(slot, "LongLabel")
            if not label:
                add("label-missing", where, "no LongLabel")
                continue
            shown = label.replace(" ", "")
            if shown in labels:
                add("label-duplicate", where, f"shows as {shown!r} like slot {labels[shown]}")
            labels[shown] = slot_id
            if label_widths and len(shown) > width:
                add("label-width", where, f"{shown!r} is cut to {width} columns")

    for kind, objects, slots in (("cell", cells, cell_slots), ("I/O chassis", chassis, chassis_slots)):
        for number in objects:
            if number not in slots:
                add(f"{kind.replace('I/O ', '')}-without-slot", f"{kind} {number}", "no slot has this number")
            elif plain(slots[number], "Populated") is False:
                add(f"{kind.replace('I/O ', '')}-in-empty-slot", f"{kind} {number}", "its slot is not populated")
        for number, slot in slots.items():
            if plain(slot, "Populated") and number not in objects:
                add(f"slot-without-{kind.replace('I/O ', '')}", f"{kind} slot {number}", "populated, but no instance")

    # Cells: processors and memory.
    for number, cell in cells.items():
        where = f"cell {number}"
        dimm_status = plain(cell, "DIMMStatus") or []
        sizes = plain(cell, "DIMMSize") or []
        arrays = [dimm_status, sizes, plain(cell, "DIMMLabel") or [], plain(cell, "DIMMSlotPopulated") or []]
        if any(len(a) != plain(cell, "DIMMSlotCount") for a in arrays):
            add("dimm-arrays", where, "DIMM arrays and DIMMSlotCount disagree")
        if [s != DIMM_EMPTY for s in dimm_status] != arrays[3]:
            add("dimm-populated", where, "DIMMSlotPopulated disagrees with DIMMStatus")
        if any((s == DIMM_EMPTY) != (size == 0) for s, size in zip(dimm_status, sizes)):
            add("dimm-populated", where, "an empty DIMM slot has a size, or a DIMM has none")
        if plain(cell, "TotalMemoryInstalled") != sum(z or 0 for s, z in zip(dimm_status, sizes) if s != DIMM_EMPTY):
            add("memory-total", where, "TotalMemoryInstalled is not the sum of the DIMMs")
        memory_ok = sum(z or 0 for s, z in zip(dimm_status, sizes) if s == DIMM_OK)
        if plain(cell, "TotalMemoryOK") != memory_ok:
            add("memory-ok", where, "TotalMemoryOK is not the sum of the good DIMMs")
        if (plain(cell, "ActualGNIMemory") or 0) > memory_ok:
            add("clm", where, "more cell-local memory than good memory")
        cpu_status = plain(cell, "CPUStatus") or []
        if not len(cpu_status) == len(plain(cell, "CPUSlotPopulated") or []) == plain(cell, "MaxCPUCount"):
            add("cpu-arrays", where, "CPU arrays and MaxCPUCount disagree")
        if ([s != CPU_EMPTY for s in cpu_status] != plain(cell, "CPUSlotPopulated")
                or plain(cell, "CPUCount") != sum(1 for s in cpu_status if s != CPU_EMPTY)):
            add("cpu-count", where, "CPUCount or CPUSlotPopulated disagrees with CPUStatus")
        if plain(cell, "CPUCountOK") != sum(1 for s in cpu_status if s == CPU_OK):
            add("cpu-count", where, "CPUCountOK is not the number of good CPUs")

    # Cell <-> I/O chassis links, both ways.
    for number, cell in cells.items():
        where = f"cell {number}"
        target = plain(cell, "ConnectedIOChassisID")
        if plain(cell, "ConnectedToIOChassis"):
            box = chassis.get(target)
            if box is None:
                add("cell-chassis-link", where, f"connected to I/O chassis {target}, which does not exist")
            elif not plain(box, "Connected") or plain(box, "ConnectedCellID") != number:
                add("cell-chassis-link", where, f"connected to I/O chassis {target}, which is not connected back")
            core = box is not None and bool(plain(box, "HasCoreIO"))
        else:
            if target not in (None, NONE):
                add("cell-chassis-link", where, f"not connected, yet names I/O chassis {target}")
            core = False
        if bool(plain(cell, "HasCoreIO")) != core:
            add("core-io", where, "HasCoreIO disagrees with the core I/O of its connected chassis")
    for number, box in chassis.items():
        where = f"I/O chassis {number}"
        target = plain(box, "ConnectedCellID")
        if plain(box, "Connected"):
            cell = cells.get(target)
            if cell is None:
                add("chassis-cell-link", where, f"connected to cell {target}, which does not exist")
            elif not plain(cell, "ConnectedToIOChassis") or plain(cell, "ConnectedIOChassisID") != number:
                add("chassis-cell-link", where, f"connected to cell {target}, which is not connected back")
        elif target not in (None, NONE):
            add("chassis-cell-link", where, f"not connected, yet names cell {target}")

    # Per-cell arrays and partition membership.
    cell_numbers = max(cell_slots) + 1 if cell_slots else 0
    assignments = plain(complex_record, "CellAssignments") or []
    for name in ("CellAssignments", "GNIPerCell", "GNISpecType"):
        if len(plain(complex_record, name) or []) != cell_numbers:
            add("per-cell-length", f"complex {name}", f"has {len(plain(complex_record, name) or [])} entries "
                f"for cell numbers 0 to {cell_numbers - 1}")
    for number, assigned in enumerate(assignments):
        if assigned in (NONE, None):
            continue
        if assigned not in partitions:
            add("assignment-partition", f"cell {number}", f"assigned to partition {assigned}, which does not exist")
        if number not in cells:
            add("assignment-without-cell", f"cell {number}", f"no cell, yet assigned to partition {assigned}")
    for pid, part in partitions.items():
        where = f"partition {pid}"
        if pid == NONE:
            add("reserved-number", where, "255 means no partition")
        members = {n for n, a in enumerate(assignments) if a == pid}
        for name in ("CellUseOnNextBoot", "FailureUsage"):
            if len(plain(part, name) or []) != cell_numbers:
                add("per-cell-length", f"{where} {name}", f"has {len(plain(part, name) or [])} entries "
                    f"for cell numbers 0 to {cell_numbers - 1}")
        for n, use in enumerate(plain(part, "CellUseOnNextBoot") or []):
            if use and n not in members:
                add("next-boot-member", where, f"uses cell {n} at the next boot, which is not its member")
        core = plain(part, "CoreCellID")
        if core not in (None, NONE):
            if core not in members:
                add("core-cell-member", where, f"core cell {core} is not a member")
            elif not plain(cells.get(core, {}), "HasCoreIO"):
                add("core-cell-io", where, f"core cell {core} has no core I/O")
        choices = plain(part, "CoreCellChoices") or []
        if len(choices) > (plain(part, "MaxSizeCoreCellChoices") or 0):
            add("core-choice", where, "more core cell choices than MaxSizeCoreCellChoices")
        for choice in choices:
            if choice not in members or not plain(cells.get(choice, {}), "HasCoreIO"):
                add("core-choice", where, f"core cell choice {choice} is not a core-capable member")

    for cell_id in cells:
        if cell_id == NONE:
            add("reserved-number", f"cell {cell_id}", "255 means no cell")
    for box_id in chassis:
        if box_id == NONE:
            add("reserved-number", f"I/O chassis {box_id}", "255 means no I/O chassis")

    local = get("XK_KestLocalPartition")
    if len(local) > 1:
        add("local-partition", "XK_KestLocalPartition", f"{len(local)} instances; the program runs in one partition")
    for instance in local:
        parsed = parse_reference(plain(instance, "ContainedPartition") or "")
        pid = parsed[2].get("PartitionID") if parsed else None
        if pid is None or not pid.isdigit() or int(pid) not in partitions:
            add("local-partition", "XK_KestLocalPartition", f"names {plain(instance, 'ContainedPartition')!r}, "
                "which is no partition here")
    return problems


def well_typed(schema, document):
    """A copy of the file's namespaces that keeps only the properties whose values fit the schema,
    so that the consistency checks see values of the types they expect (or nothing)."""
    spaces = {}
    for space, classes in document.get("namespaces", {}).items():
        if not isinstance(classes, dict):
            continue
        spaces[space] = {}
        for class_name, instances in classes.items():
            cls = schema.classes.get(class_name)
            if cls is None or not isinstance(instances, list):
                continue
            kept = []
            for instance in instances:
                if not isinstance(instance, dict):
                    continue
                good = {}
                for name, value in instance.items():
                    prop = cls["props"].get(name)
                    if prop is not None and not is_forced(value) and value_problem(
                            prop.get("type"), bool(prop.get("array")), value) is None:
                        good[name] = value
                kept.append(good)
            spaces[space][class_name] = kept
    return {"namespaces": spaces}


def check_all(schema_document, document, label_widths=False):
    schema = Schema(schema_document)
    return check_instances(schema, document) + check_consistency(well_typed(schema, document), label_widths)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--schema", required=True)
    parser.add_argument("--label-widths", action="store_true", help="labels must fit the report columns uncut")
    parser.add_argument("files", nargs="*")
    args = parser.parse_args(argv)
    with open(args.schema, encoding="utf-8") as f:
        schema_document = json.load(f)
    problems = check_schema(schema_document)
    for name in args.files:
        with open(name, encoding="utf-8") as f:
            problems += [f"{name}: {p}" for p in check_all(schema_document, json.load(f), args.label_widths)]
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
