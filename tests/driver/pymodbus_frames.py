"""Frames pymodbus builds for given PDUs, as an independent reference.

Reads lines "unit hex-pdu" from stdin and prints, per line, the Modbus RTU
frame in hex and the Modbus ASCII frame without its CR LF.

Usage: pymodbus_frames.py < REQUESTS, or pymodbus_frames.py --check-imports
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

REQUIRED_MODULES = (
    ("pymodbus", "python3-pymodbus"),
)
for _module, _package in REQUIRED_MODULES:
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"pymodbus_frames.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer


class RawPdu:  # pylint: disable=too-few-public-methods
    """The parts of a pymodbus message that the framers read."""

    def __init__(self, unit, pdu):
        self.unit_id = unit
        self.function_code = pdu[0]
        self.transaction_id = 0
        self._data = pdu[1:]

    def encode(self):
        return self._data


rtu = ModbusRtuFramer(None)
ascii_framer = ModbusAsciiFramer(None)
for line in sys.stdin:
    if not line.strip():
        continue
    unit_text, pdu_text = line.split()
    pdu = bytes.fromhex(pdu_text)
    rtu_frame = rtu.buildPacket(RawPdu(int(unit_text), pdu)).hex()
    ascii_frame = ascii_framer.buildPacket(RawPdu(int(unit_text), pdu)).decode().rstrip("\r\n")
    print(rtu_frame, ascii_frame)
