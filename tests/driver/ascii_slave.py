"""A pymodbus Modbus ASCII slave on a serial device, for the driver's tests.

Usage: ascii_slave.py DEVICE UNIT

Holding register i holds 0x1000 + i for i < 200; other addresses answer
exception 2. Requests for other units are ignored. Prints READY once the
device is open; stops on SIGTERM.
"""
import asyncio
import logging
import signal
import sys

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
