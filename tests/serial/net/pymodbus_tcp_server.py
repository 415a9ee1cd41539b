#!/usr/bin/python3
"""A Modbus TCP server of pymodbus, for the mbtcp:// tests.

  pymodbus_tcp_server.py PORT

Unit 7 holds registers 0-5 of a KELM-8I8T (type code 10 in register 0,
versions 0xA1 and 0xB3, format 3, address 7, protocol "R"); other units are
not there (pymodbus then answers with exception 0x0B or stays silent)."""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer

logging.basicConfig(level=logging.CRITICAL)
port = int(sys.argv[1])
unit = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, [10, 0xA1, 0xB3, 3, 7, 0x52] + [0] * 10),
                          zero_mode=True)
context = ModbusServerContext(slaves={7: unit}, single=False)
StartTcpServer(context=context, address=("127.0.0.1", port))
