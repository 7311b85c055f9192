"""A Modbus RTU unit of the test's own, served by pymodbus on a serial path.

Usage: pymodbus_server.py DEVICE UNIT STORE_LOG

Its map: coils 0..99 (1, 0, 1, 1, 0, ...), discrete inputs 0..99, holding
registers 0..99 (0, 100, 200, ...), input registers 0..99 (1000 + n), and
a device identification with two parts of objects. Every write to the store
is appended to STORE_LOG as "KIND ADDRESS V1 V2 ..." (KIND co or hr), so a
test checks what reached the unit without asking it over the line.
"""

import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.device import ModbusDeviceIdentification
from pymodbus.server import StartSerialServer
from pymodbus.transaction import ModbusRtuFramer

device, unit, store_log = sys.argv[1], int(sys.argv[2]), sys.argv[3]


class LoggedBlock(ModbusSequentialDataBlock):
    """Appends every write to the store log before keeping it."""

    def __init__(self, kind, address, values):
        super().__init__(address, values)
        self.kind = kind

    def setValues(self, address, values):
        if not isinstance(values, list):
            values = [values]
        with open(store_log, "a", encoding="ascii") as log:
            log.write(f"{self.kind} {address} {' '.join(str(int(v)) for v in values)}\n")
        super().setValues(address, values)


store = ModbusSlaveContext(
    co=LoggedBlock("co", 0, [n % 3 != 1 for n in range(100)]),
    di=ModbusSequentialDataBlock(0, [n % 2 == 0 for n in range(100)]),
    hr=LoggedBlock("hr", 0, [100 * n for n in range(100)]),
    ir=ModbusSequentialDataBlock(0, [1000 + n for n in range(100)]),
    zero_mode=True,
)
identity = ModbusDeviceIdentification(info_name={
    "VendorName": "Marvalo Test Bench",
    "ProductCode": "PM-3",
    "MajorMinorRevision": "3.0",
    "VendorUrl": "https://bench.example",
    "ProductName": "pymodbus unit",
    "ModelName": "RTU-17",
    "UserApplicationName": "peer test",
})
StartSerialServer(context=ModbusServerContext(slaves={unit: store}, single=False),
                  framer=ModbusRtuFramer, identity=identity, port=device, baudrate=19200,
                  timeout=0.005)
