"""An independent Modbus TCP client for the install checks: pymodbus against
the simulator on 127.0.0.1.

Usage: modbus_client.py PORT write REGISTER VALUE
       modbus_client.py PORT read FIRST COUNT     (prints the values)
       modbus_client.py --check-imports
Registers are numbered from 1, as the module's register map numbers them.
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

REQUIRED_MODULES = (
    ("pymodbus", "python3-pymodbus"),
    # pymodbus.client imports its serial client, which needs both.
    ("serial", "python3-serial"),
    ("serial_asyncio", "python3-serial-asyncio"),
)
for _module, _package in REQUIRED_MODULES:
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"modbus_client.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

from pymodbus.client import ModbusTcpClient

port, op, first = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
client = ModbusTcpClient("127.0.0.1", port=port, timeout=5)
if not client.connect():
    sys.exit("pymodbus: no connection")
if op == "write":
    reply = client.write_register(first - 1, int(sys.argv[4]), slave=255)
    if reply.isError():
        sys.exit(f"pymodbus: write refused: {reply}")
else:
    reply = client.read_holding_registers(first - 1, int(sys.argv[4]), slave=255)
    if reply.isError():
        sys.exit(f"pymodbus: read refused: {reply}")
    print(" ".join(str(v) for v in reply.registers))
client.close()
