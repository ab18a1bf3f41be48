#!/usr/bin/env python3
"""Generate a large, consistent complex file for kest-provider.

    python3 examples/generate.py --cells N [--seed S] > complex.json

The complex grows with N: compute cabinets of 8 cell slots (cell number = cabinet * 8 + slot),
one I/O expansion cabinet per two compute cabinets, one I/O chassis per two cells, one
partition per four cells. States, failures and memory sizes are drawn from a random generator
seeded with S, so one N and one S always give the same file.

The number 255 means "no cell" and "no partition" to cmplxview, so no cell, I/O chassis or
partition is given that number: the slot that would carry it stays empty.
"""

import argparse
import json
import random
import sys

NAMESPACE = "root/cimv2/kest"
NONE = 255
MAX_CELLS = 1000

CELL_SLOTS_PER_CABINET = 8
DIMM_SLOTS = 16
MAX_CPUS = 4

# XK_KestCell / XK_KestIOChassis ComponentStatus codes.
UNKNOWN, OTHER, ABSENT, POWERED_OFF, INACTIVE, ACTIVE, FAILED = range(7)
# CellUsage codes.
USAGE_UNUSED, USAGE_BASE, USAGE_BASE_NO_INTERLEAVE, USAGE_FLOATING = 2, 3, 4, 5
# CPUStatus codes.
CPU_EMPTY, CPU_OK, CPU_DECONFIGURED, CPU_FAILED = 1, 2, 3, 4
# DIMMStatus codes.
DIMM_EMPTY, DIMM_FAILED, DIMM_DECONFIGURED, DIMM_OK = 1, 3, 4, 7
# GNISpecType codes: how a cell's requested cell-local memory (CLM) is given.
CLM_ALL, CLM_NONE, CLM_HALF_GB, CLM_EIGHTHS = 2, 3, 4, 5
# CabinetType codes.
CABINET_COMPUTE_8, CABINET_IO_EXPANSION = 2, 6
# ServiceProcessorStatus codes.
MP_ACTIVE, MP_BACKUP = 2, 3
# FailureUsage codes.
FAILURE_DECONFIGURE, FAILURE_REACTIVATE = 2, 3

# (DomainType, DomainSubtype, unit label, short prefix, long prefix) of the reported domains.
BLOWERS = (3, 2, "Blower", "BLO", "Blower")
IO_FANS = (3, 3, "IO Fan", "IOF", "IOFan")
BULK_POWER = (2, 2, "BPS", "BPS", "BPS")
BACKPLANE_POWER = (2, 4, "Backplane Power", "BPB", "BackplanePower")

# I/O bays and chassis slots of each kind of cabinet: (bay, slot).
COMPUTE_CHASSIS_POSITIONS = [(0, 1), (0, 3)]
EXPANSION_CHASSIS_POSITIONS = [(0, 1), (0, 3), (1, 1), (1, 3)]

ARCHITECTURES = {
    "VX": {"CellArchitecture": 3, "IODCVersion": 0x0510, "CPUSpeed": 1600,
           "CompatibilityLabel": "VX9-1600", "FirmwareRevision": "9.48"},
    "KX": {"CellArchitecture": 2, "IODCVersion": 0x0400, "CPUSpeed": 1400,
           "CompatibilityLabel": "KX2-1400", "FirmwareRevision": "8.06"},
}

CLASS_ORDER = ["XK_KestComplex", "XK_KestCabinet", "XK_KestPowerCoolingDomain", "XK_KestCellSlot",
               "XK_KestCell", "XK_KestIOChassisSlot", "XK_KestIOChassis", "XK_KestPartition",
               "XK_KestLocalPartition"]


def cell_number(cabinet, slot):
    return cabinet * CELL_SLOTS_PER_CABINET + slot


def chassis_number(cabinet, bay, slot):
    return cabinet * 8 + bay * 4 + slot


def cell_label(cabinet, slot):
    return f"cab {cabinet}, cell {slot}"


def chassis_label(cabinet, bay, slot):
    return f"cab {cabinet}, bay {bay}, chassis {slot}"


def partition_ref(partition_id):
    return f"XK_KestPartition.PartitionID={partition_id}"


# ---------------------------------------------------------------------------------------------
# Instances


def cabinet(cabinet_id, cabinet_type, mp_status):
    return {"ID": cabinet_id, "CabinetType": cabinet_type, "Label": f"cab{cabinet_id}",
            "ServiceProcessorCount": len(mp_status), "ServiceProcessorStatus": list(mp_status),
            "LEDState": 0}


def redundancy(slot_count, ok):
    """Cabinets are built with one spare unit: N+ above that need, N at it, N- below."""
    need = max(1, slot_count - 1)
    if ok > need:
        return 2
    return 3 if ok == need else 4


def domain(domain_id, cabinet_id, number, kind, present, failed):
    dtype, subtype, unit_label, short_prefix, long_prefix = kind
    ok = sum(1 for p, f in zip(present, failed) if p and not f)
    return {"ID": domain_id, "CabinetID": cabinet_id, "DomainNumber": number,
            "DomainType": dtype, "DomainSubtype": subtype, "SlotCount": len(present),
            "UnitCount": sum(present), "FailedCount": sum(1 for p, f in zip(present, failed) if p and f),
            "RedundancyState": redundancy(len(present), ok), "UnitTypeLabel": unit_label,
            "UnitPresent": list(present), "UnitFailed": list(failed),
            "ShortUnitLabel": [f"{short_prefix}{u}" for u in range(len(present))],
            "LongUnitLabel": [f"cab{cabinet_id},{long_prefix}{u}" for u in range(len(present))]}


def cell_slot(cabinet_id, slot, populated):
    return {"CabinetID": cabinet_id, "ShortLabel": f"cell{slot}", "LongLabel": cell_label(cabinet_id, slot),
            "Populated": populated, "LEDState": 0, "ID": cell_number(cabinet_id, slot), "Number": slot}


def chassis_slot(cabinet_id, bay, slot, populated):
    return {"ID": chassis_number(cabinet_id, bay, slot), "CabinetID": cabinet_id, "Populated": populated,
            "LEDState": 0, "Number": slot, "IOBayNumber": bay, "ShortLabel": f"bay{bay},chassis{slot}",
            "LongLabel": chassis_label(cabinet_id, bay, slot)}


def dimm_label(index):
    return f"{index // 2}{'AB'[index % 2]}"


def cell(number, status, usage, cpu_status, dimms, architecture="VX", chassis=None, core_io=False,
         clm_mb=0):
    """One XK_KestCell. cpu_status: a CPUStatus code per CPU position; dimms: (size MB, DIMMStatus
    code) per DIMM slot; chassis: the connected I/O chassis number or None."""
    populated_dimms = [status_code != DIMM_EMPTY for _, status_code in dimms]
    arch = ARCHITECTURES[architecture]
    return {
        "SlotID": number, "ComponentStatus": status, "DIMMSlotCount": len(dimms),
        "TotalMemoryInstalled": sum(size for size, code in dimms if code != DIMM_EMPTY),
        "TotalMemoryOK": sum(size for size, code in dimms if code == DIMM_OK),
        "DIMMSlotPopulated": populated_dimms, "DIMMType": 1,
        "DIMMSize": [size if code != DIMM_EMPTY else 0 for size, code in dimms],
        "DIMMLabel": [dimm_label(i) for i in range(len(dimms))],
        "DIMMStatus": [code for _, code in dimms],
        "MaxCPUCount": len(cpu_status),
        "CPUCount": sum(1 for c in cpu_status if c != CPU_EMPTY),
        "CPUCountOK": sum(1 for c in cpu_status if c == CPU_OK),
        "CPUCountPerModule": 2, "CPUSpeed": arch["CPUSpeed"],
        "CPUSlotPopulated": [c != CPU_EMPTY for c in cpu_status], "CPUStatus": list(cpu_status),
        "CellArchitecture": arch["CellArchitecture"], "IODCVersion": arch["IODCVersion"],
        "CellUsage": usage, "FirmwareRevision": arch["FirmwareRevision"],
        "ConnectedToIOChassis": chassis is not None,
        "ConnectedIOChassisID": NONE if chassis is None else chassis,
        "REOInitialized": status == ACTIVE, "HasCoreIO": core_io, "ActualGNIMemory": clm_mb,
        "CompatibilityLabel": arch["CompatibilityLabel"],
    }


def io_chassis(number, status, cell_id, core_io):
    return {"SlotID": number, "ComponentStatus": status, "Connected": cell_id is not None,
            "ConnectedCellID": cell_id, "HasCoreIO": core_io}


def partition(partition_id, name, members, cell_numbers, core_cell, core_choices, next_boot,
              failure_usage, boot_paths, ip_address, sequence=1):
    """members: the member cell numbers; cell_numbers: length of the per-cell arrays;
    next_boot and failure_usage: dicts from member cell number to value."""
    primary, alternate, ha_alternate = boot_paths
    return {
        "SequenceNumber": sequence, "LockKey": 0, "PartitionID": partition_id, "PartitionType": 1,
        "PartitionLabel": f"par{partition_id}", "PartitionName": name,
        "CellUseOnNextBoot": [n in members and next_boot.get(n, True) for n in range(cell_numbers)],
        "CoreCellID": core_cell, "MaxSizeCoreCellChoices": 4, "CoreCellChoices": list(core_choices),
        "BootWithoutConsole": False, "RebootOnError": True, "KnownGoodMemory": 0, "BootTimer": 0,
        "FailureUsage": [failure_usage.get(n, FAILURE_REACTIVATE) if n in members else 0
                         for n in range(cell_numbers)],
        "PrimaryBootPath": primary, "AlternateBootPath": alternate, "HAAlternateBootPath": ha_alternate,
        "AdminIPAddress": ip_address,
    }


def requested_clm(usage, rng):
    """(GNISpecType, GNIPerCell) for a cell of that usage."""
    if usage == USAGE_BASE_NO_INTERLEAVE:
        return CLM_ALL, 0
    if usage == USAGE_FLOATING:
        return CLM_EIGHTHS, rng.choice([2, 4, 8])
    if usage == USAGE_BASE and rng.random() < 0.3:
        return CLM_HALF_GB, rng.choice([4, 8, 16])
    return CLM_NONE, 0


def allocated_clm(clm_type, per_cell, memory_ok_mb):
    """Cell-local memory, in MB, that a running cell got for its request."""
    if clm_type == CLM_ALL:
        return memory_ok_mb
    if clm_type == CLM_EIGHTHS:
        return memory_ok_mb * per_cell // 8
    if clm_type == CLM_HALF_GB:
        return min(per_cell * 512, memory_ok_mb)
    return 0


# ---------------------------------------------------------------------------------------------
# The generated complex


def random_units(rng, count):
    present = [rng.random() >= 0.01 for _ in range(count)]
    failed = [p and rng.random() < 0.03 for p in present]
    return present, failed


def random_cpus(rng):
    count = MAX_CPUS if rng.random() < 0.8 else 2
    status = [CPU_OK] * count + [CPU_EMPTY] * (MAX_CPUS - count)
    if rng.random() < 0.06:
        status[rng.randrange(count)] = rng.choice([CPU_DECONFIGURED, CPU_FAILED])
    return status


def random_dimms(rng):
    count = rng.choice([8, 12, 16])
    size = rng.choice([4096, 8192, 16384])
    dimms = [(size, DIMM_OK)] * count + [(0, DIMM_EMPTY)] * (DIMM_SLOTS - count)
    if rng.random() < 0.08:
        dimms[rng.randrange(count)] = (size, rng.choice([DIMM_DECONFIGURED, DIMM_FAILED]))
    return dimms


def generate(cell_count, seed):
    rng = random.Random(seed)

    numbers = []
    candidate = 0
    while len(numbers) < cell_count:
        if candidate != NONE:
            numbers.append(candidate)
        candidate += 1
    populated_cells = set(numbers)
    compute_count = max(numbers) // CELL_SLOTS_PER_CABINET + 1
    compute_ids = list(range(compute_count))
    first_expansion = max(8, compute_count)
    expansion_ids = [first_expansion + i for i in range((compute_count + 1) // 2)]
    slot_numbers = compute_count * CELL_SLOTS_PER_CABINET

    cabinets, domains = [], []
    for cab in compute_ids:
        cabinets.append(cabinet(cab, CABINET_COMPUTE_8, [MP_ACTIVE, MP_BACKUP] if cab == 0 else [MP_BACKUP]))
        for number, (kind, units) in enumerate([(BLOWERS, 4), (IO_FANS, 6), (BULK_POWER, 6),
                                                (BACKPLANE_POWER, 2)]):
            domains.append(domain(len(domains), cab, number, kind, *random_units(rng, units)))
    for cab in expansion_ids:
        cabinets.append(cabinet(cab, CABINET_IO_EXPANSION, []))
        for number, (kind, units) in enumerate([(BLOWERS, 2), (IO_FANS, 8), (BULK_POWER, 2)]):
            domains.append(domain(len(domains), cab, number, kind, *random_units(rng, units)))

    cell_slots = [cell_slot(cab, slot, cell_number(cab, slot) in populated_cells)
                  for cab in compute_ids for slot in range(CELL_SLOTS_PER_CABINET)]

    # Chassis slots: compute cabinets first, then expansion cabinets; the first
    # ceil(cells / 2) usable slots hold a chassis, chassis j cabled to the (2j)-th cell.
    positions = [(cab, bay, slot, True) for cab in compute_ids for bay, slot in COMPUTE_CHASSIS_POSITIONS]
    positions += [(cab, bay, slot, False) for cab in expansion_ids for bay, slot in EXPANSION_CHASSIS_POSITIONS]
    chassis_wanted = (cell_count + 1) // 2
    chassis_cell, chassis_core = {}, {}
    chassis_slots = []
    for cab, bay, slot, in_compute in positions:
        number = chassis_number(cab, bay, slot)
        populated = number != NONE and len(chassis_cell) < chassis_wanted
        chassis_slots.append(chassis_slot(cab, bay, slot, populated))
        if populated:
            linked = numbers[2 * len(chassis_cell)]
            # The first chassis always serves partition 0, where the local partition runs.
            chassis_cell[number] = None if chassis_cell and rng.random() < 0.05 else linked
            chassis_core[number] = in_compute or rng.random() < 0.5
    cell_chassis = {c: ch for ch, c in chassis_cell.items() if c is not None}

    # Partitions: four consecutive cells each; a few cells are left free.
    assignments = [NONE] * slot_numbers
    partitions_cells = []
    for p in range((cell_count + 3) // 4):
        group = numbers[4 * p:4 * p + 4]
        members = [group[0]] + [c for c in group[1:] if rng.random() < 0.92]
        for c in members:
            assignments[c] = p
        partitions_cells.append(members)

    def core_capable(c):
        return c in cell_chassis and chassis_core[cell_chassis[c]]

    status, usage = {}, {}
    partitions = []
    roles = ["db", "web", "app", "batch", "test"]
    for p, members in enumerate(partitions_cells):
        choices = [c for c in members if core_capable(c)]
        core = choices[0] if choices else NONE
        running = core != NONE and (p == 0 or rng.random() < 0.85)
        for c in members:
            if running:
                status[c] = FAILED if c != core and rng.random() < 0.02 else ACTIVE
            else:
                status[c] = POWERED_OFF if rng.random() < 0.3 else INACTIVE
            if c == core:
                usage[c] = USAGE_BASE
            else:
                usage[c] = rng.choices([USAGE_BASE, USAGE_BASE_NO_INTERLEAVE, USAGE_FLOATING], [70, 15, 15])[0]
        if core != NONE:
            core_chassis = cell_chassis[core]
            paths = (f"{core_chassis}/0/1/1/0/4/0.{p % 8}.0", f"{core_chassis}/0/2/1/0/4/0.{p % 8}.0", None)
        else:
            paths = (None, None, None)
        partitions.append(partition(
            p, f"{roles[p % len(roles)]}{p:02d}", set(members), slot_numbers, core, choices[:4],
            {c: status[c] != POWERED_OFF for c in members},
            {c: FAILURE_DECONFIGURE if rng.random() < 0.1 else FAILURE_REACTIVATE for c in members},
            paths, f"192.0.2.{p + 1}", sequence=rng.randint(1, 40)))
    for c in numbers:
        if c not in status:
            status[c] = POWERED_OFF if rng.random() < 0.4 else INACTIVE
            usage[c] = USAGE_UNUSED

    clm_types = [0] * slot_numbers
    per_cell = [0] * slot_numbers
    cells = []
    for c in numbers:
        clm_types[c], per_cell[c] = requested_clm(usage[c], rng) if assignments[c] != NONE else (CLM_NONE, 0)
        cpus, dimms = random_cpus(rng), random_dimms(rng)
        memory_ok = sum(size for size, code in dimms if code == DIMM_OK)
        clm = allocated_clm(clm_types[c], per_cell[c], memory_ok) if status[c] == ACTIVE else 0
        cells.append(cell(c, status[c], usage[c], cpus, dimms, chassis=cell_chassis.get(c),
                          core_io=core_capable(c), clm_mb=clm))

    chassis = []
    for number, c in chassis_cell.items():
        if c is None:
            state = INACTIVE
        else:
            state = {ACTIVE: ACTIVE, POWERED_OFF: POWERED_OFF}.get(status[c], INACTIVE)
        chassis.append(io_chassis(number, state, c, chassis_core[number]))

    complex_record = {
        "ProfileID": 0, "RevisionString": "7.4", "ModelString": "KX9000",
        "ComplexName": f"bench{cell_count}", "OriginalProductOrderNumber": "KX9000-B01",
        "CurrentProductOrderNumber": "KX9000-B01", "CreatorManufacturer": "Kestrel Systems",
        "OEMManufacturer": None, "CreatorProductName": "Kestrel KX9000 Server Complex",
        "OEMProductName": None, "CreatorSerialNumber": f"KSX{seed % 10000:04d}B{cell_count:04d}",
        "OEMSerialNumber": None, "CellType": 1, "CellAssignments": assignments,
        "GNIPerCell": per_cell, "GNISpecType": clm_types,
        "MaxPartitionsSupported": len(partitions), "InterpartitionSecurityEnabled": True,
    }
    classes = {
        "XK_KestComplex": [complex_record], "XK_KestCabinet": cabinets,
        "XK_KestPowerCoolingDomain": domains, "XK_KestCellSlot": cell_slots, "XK_KestCell": cells,
        "XK_KestIOChassisSlot": chassis_slots, "XK_KestIOChassis": chassis,
        "XK_KestPartition": partitions,
        "XK_KestLocalPartition": [{"ContainedPartition": partition_ref(0)}],
    }
    return {"namespaces": {NAMESPACE: classes},
            "users": [{"name": "admin", "password": "kest-demo"}],
            "remoteComplexes": []}


# ---------------------------------------------------------------------------------------------
# Output


def render(document, one_line_instances=True):
    """The complex file as text: one line per instance, or one line per property."""
    dump = lambda value: json.dumps(value, ensure_ascii=False)
    lines = ["{", '  "namespaces": {']
    spaces = list(document["namespaces"].items())
    for si, (space, classes) in enumerate(spaces):
        lines.append(f"    {dump(space)}: {{")
        names = [n for n in CLASS_ORDER if n in classes] + [n for n in classes if n not in CLASS_ORDER]
        for ci, name in enumerate(names):
            lines.append(f"      {dump(name)}: [")
            instances = classes[name]
            for ii, instance in enumerate(instances):
                comma = "," if ii < len(instances) - 1 else ""
                if one_line_instances:
                    lines.append(f"        {dump(instance)}{comma}")
                else:
                    lines.append("        {")
                    items = list(instance.items())
                    for pi, (key, value) in enumerate(items):
                        lines.append(f"          {dump(key)}: {dump(value)}{',' if pi < len(items) - 1 else ''}")
                    lines.append("        }" + comma)
            lines.append("      ]" + ("," if ci < len(names) - 1 else ""))
        lines.append("    }" + ("," if si < len(spaces) - 1 else ""))
    lines.append("  },")
    rest = [k for k in document if k != "namespaces"]
    for ki, key in enumerate(rest):
        entries = document[key]
        comma = "," if ki < len(rest) - 1 else ""
        if not entries:
            lines.append(f"  {dump(key)}: []{comma}")
            continue
        lines.append(f"  {dump(key)}: [")
        for ei, entry in enumerate(entries):
            lines.append(f"    {dump(entry)}{',' if ei < len(entries) - 1 else ''}")
        lines.append("  ]" + comma)
    lines.append("}")
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description="Write a consistent complex file with N cells to standard output.")
    parser.add_argument("--cells", type=int, required=True, help=f"number of cells, 1 to {MAX_CELLS}")
    parser.add_argument("--seed", type=int, default=1, help="seed of the random states (default 1)")
    args = parser.parse_args(argv)
    if not 1 <= args.cells <= MAX_CELLS:
        parser.error(f"--cells must be between 1 and {MAX_CELLS}")
    sys.stdout.write(render(generate(args.cells, args.seed)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
