#!/usr/bin/python3
"""Opens a zip with Python's own zipfile, an implementation apart from the
one under test: checks every member's CRC (testzip), extracts the members
into a folder and prints one JSON object: {"bad": first bad member or null,
"members": [{"name", "method", "size"}...]} in the archive's order.

    zip_extract.py ARCHIVE FOLDER
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

for _module, _package in (("json", "python3"), ("zipfile", "libpython3-stdlib")):
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"zip_extract.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

import json
import zipfile


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: zip_extract.py ARCHIVE FOLDER")
    with zipfile.ZipFile(sys.argv[1]) as archive:
        bad = archive.testzip()
        members = [{"name": i.filename, "method": i.compress_type, "size": i.file_size} for i in archive.infolist()]
        archive.extractall(sys.argv[2])
    print(json.dumps({"bad": bad, "members": members}))


if __name__ == "__main__":
    main()
