#!/usr/bin/python3
"""A pymodbus Modbus TCP server dressed as a KELM-8AS module, for kelm's
mbtcp:// tests.

  pymodbus_tcp_kelm.py PORT

Unit 9 holds the identity registers 0-5 (type 14, versions 0x12 and 0x34,
format 11, address 9, protocol "R"), channel modes alternating current and
voltage in registers 6-13, and these input counts in input registers 0-7:
1000, 3000, 4000, 0, 2000, 400, 123, 3998. Other units are not there."""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer

logging.basicConfig(level=logging.CRITICAL)
port = int(sys.argv[1])
holding = [14, 0x12, 0x34, 11, 9, 0x52] + [0x30, 0x31] * 4
counts = [1000, 3000, 4000, 0, 2000, 400, 123, 3998]
unit = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, holding),
                          ir=ModbusSequentialDataBlock(0, counts), zero_mode=True)
context = ModbusServerContext(slaves={9: unit}, single=False)
StartTcpServer(context=context, address=("127.0.0.1", port))
