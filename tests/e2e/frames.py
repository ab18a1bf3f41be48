"""The fixed frames of the reports, as the program prints them: section
headers, table headings and closing notes, and the note of the default
action. Written out once here from the report definitions; the scenario
files build their expected outputs from them."""

CABINET_HEADING = (
    "                  Cabinet   I/O       Bulk Power  Backplane\n"
    "                  Blowers   Fans      Supplies    Power Boards\n"
    "                  OK/       OK/       OK/         OK/\n"
    "Cab               Failed/   Failed/   Failed/     Failed/\n"
    "Num Cabinet Type  N Status  N Status  N Status    N Status       MP\n"
    "=== ============  ========= ========= ==========  ============   ======\n")
CELL_HEADING = (
    "                        CPU     Memory                                Use\n"
    "                        OK/     (GB)                          Core    On\n"
    "Hardware   Actual       Deconf/ OK/                           Cell    Next Par\n"
    "Location   Usage        Max     Deconf    Connected To        Capable Boot Num\n"
    "========== ============ ======= ========= =================== ======= ==== ===\n")
CHASSIS_HEADING = (
    "                                 Core Connected  Par\n"
    "Hardware Location   Usage        IO   To         Num\n"
    "=================== ============ ==== ========== ===\n")
PARTITION_HEADING = (
    "Par              # of  # of I/O\n"
    "Num Status       Cells Chassis  Core cell  Partition Name (first 30 chars)\n"
    "=== ============ ===== ======== ========== ===============================\n")

# A section header is two line breaks and the bracketed name; the heading follows.
CABINET_HEADER = "\n\n[Cabinet]\n" + CABINET_HEADING
CELL_HEADER = "\n\n[Cell]\n" + CELL_HEADING
CHASSIS_HEADER = "\n\n[Chassis]\n" + CHASSIS_HEADING
PARTITION_HEADER = "\n\n[Partition]\n" + PARTITION_HEADING

# Closing notes are printed after one line break.
CABINET_NOTES = (
    "\nNotes: N+ = There are one or more spare items (fans/power supplies).\n"
    "       N  = The number of items meets but does not exceed the need.\n"
    "       N- = There are insufficient items to meet the need.\n"
    "       ?  = The adequacy of the cooling system/power supplies is unknown.\n"
    "       HO = Housekeeping only; The power is in a standby state.\n"
    "       NA = Not Applicable.\n")
CELL_NOTES = "\nNotes: * = Cell has no interleaved memory.\n"

DEFAULT_NOTE = "Note: No action specified. Default behaviour is display all.\n"
