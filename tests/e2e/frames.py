"""The fixed frames of the reports as texts: section headers with their
table headings (CABINET_HEADER, CELL_HEADER, CHASSIS_HEADER,
PARTITION_HEADER), the closing notes (CABINET_NOTES, CELL_NOTES), read from
cases/frames.json; and the note of the default action."""
import json
import os

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases", "frames.json"), encoding="utf-8") as f:
    globals().update({name.upper(): "\n".join(lines) + "\n" for name, lines in json.load(f).items()})

DEFAULT_NOTE = "Note: No action specified. Default behaviour is display all.\n"
