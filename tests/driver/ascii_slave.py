"""A pymodbus Modbus ASCII slave on a serial device, for the driver's tests.

Usage: ascii_slave.py DEVICE UNIT, or ascii_slave.py --check-imports

Holding register i holds 0x1000 + i for i < 200; other addresses answer
exception 2. Requests for other units are ignored. Prints READY once the
device is open; stops on SIGTERM.
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it. --check-imports stops after the check.
import importlib
import sys

REQUIRED_MODULES = (
    ("pymodbus", "python3-pymodbus"),
    ("serial", "python3-serial"),
    ("serial_asyncio", "python3-serial-asyncio"),
)
for _module, _package in REQUIRED_MODULES:
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"ascii_slave.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

import asyncio
import logging
import signal

from pymodbus.datastore import (
    ModbusSequentialDataBlock,
    ModbusServerContext,
    ModbusSlaveContext,
)
from pymodbus.server.async_io import ModbusSerialServer
from pymodbus.transaction import ModbusAsciiFramer

REGISTERS = 200


async def serve(device, unit):
    block = ModbusSequentialDataBlock(0, [0x1000 + i for i in range(REGISTERS)])
    slave = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={unit: slave}, single=False)
    server = ModbusSerialServer(
        context,
        framer=ModbusAsciiFramer,
        port=device,
        baudrate=19200,
        bytesize=8,
        parity="N",
        stopbits=1,
        ignore_missing_slaves=True,
    )
    await server.start()
    if server.transport is None:
        print("FAILED", flush=True)
        return 1
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    print("READY", flush=True)
    await stop.wait()
    await server.shutdown()
    return 0


def main():
    # The handler's cancellation at shutdown is logged as an error; it is not one.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    device, unit = sys.argv[1], int(sys.argv[2])
    sys.exit(asyncio.run(serve(device, unit)))


if __name__ == "__main__":
    main()
