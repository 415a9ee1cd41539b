#!/usr/bin/python3
# Cross-check our RTU and ASCII requests, and our reply validation, against
# pymodbus's framers (an independent implementation).
# usage: pymodbus_peer.py <frame-tool>
import random
import subprocess
import sys

from pymodbus.bit_read_message import ReadCoilsRequest, ReadDiscreteInputsRequest
from pymodbus.bit_write_message import WriteMultipleCoilsRequest, WriteSingleCoilRequest
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.register_read_message import (ReadHoldingRegistersRequest,
                                            ReadHoldingRegistersResponse,
                                            ReadInputRegistersRequest)
from pymodbus.register_write_message import (WriteMultipleRegistersRequest,
                                             WriteSingleRegisterRequest)

TOOL = sys.argv[1]
FRAMERS = {"rtu": ModbusRtuFramer(None), "ascii": ModbusAsciiFramer(None)}
results = []  # (what, ours, theirs)


def tool(*args):
    out = subprocess.run([TOOL, *map(str, args)], check=True, capture_output=True, text=True)
    return out.stdout.strip()


def expect(what, ours, theirs):
    results.append((what, ours, theirs))


rng = random.Random(20261209)
for proto, framer in FRAMERS.items():
    for unit in (0, 1, 5, 127, 128, 200, 247):
        reg = rng.randrange(0x10000)
        cases = [
            (3, reg, 3, ReadHoldingRegistersRequest(reg, 3, unit=unit)),
            (4, reg, 16, ReadInputRegistersRequest(reg, 16, unit=unit)),
            (1, reg, 16, ReadCoilsRequest(reg, 16, unit=unit)),
            (2, reg, 8, ReadDiscreteInputsRequest(reg, 8, unit=unit)),
            (5, reg, 0xFF00, WriteSingleCoilRequest(reg, True, unit=unit)),
            (5, reg, 0x0000, WriteSingleCoilRequest(reg, False, unit=unit)),
            (6, reg, 0xA0F1, WriteSingleRegisterRequest(reg, 0xA0F1, unit=unit)),
        ]
        for code, r, data, req in cases:
            theirs = framer.buildPacket(req).hex().upper()
            expect(f"{proto} unit {unit} code {code}", tool("send", proto, unit, code, r, data),
                   theirs)

        values = [rng.randrange(0x10000) for _ in range(rng.randrange(1, 30))]
        req = WriteMultipleRegistersRequest(reg, values, unit=unit)
        data = "".join(f"{v:04X}" for v in values)
        theirs = framer.buildPacket(req).hex().upper()
        ours = tool("send", proto, unit, 16, reg, len(values), 2 * len(values), data)
        expect(f"{proto} unit {unit} code 16", ours, theirs)

        bits = [rng.random() < 0.5 for _ in range(16)]
        req = WriteMultipleCoilsRequest(reg, bits, unit=unit)
        packed = [sum(1 << i for i in range(8) if bits[8 * k + i]) for k in range(2)]
        theirs = framer.buildPacket(req).hex().upper()
        ours = tool("send", proto, unit, 15, reg, 16, 2, "".join(f"{b:02X}" for b in packed))
        expect(f"{proto} unit {unit} code 15", ours, theirs)

    # Replies framed by pymodbus pass our validation with the documented Pbuf.
    for n in (1, 3, 8, 60):
        regs = [rng.randrange(0x10000) for _ in range(n)]
        rsp = ReadHoldingRegistersResponse(regs, unit=1)
        wire = framer.buildPacket(rsp)
        body = bytes([1, 3, 2 * n]) + b"".join(v.to_bytes(2, "big") for v in regs)
        want = body.hex().upper() + ("00" if proto == "ascii" else "")
        expect(f"{proto} reply of {n} registers", tool("recv", proto, wire.hex()), want)
        # One corrupted byte (a CRC bit, or a hex digit turned into another) drops it.
        bad = bytearray(wire)
        bad[3] ^= 0x01 if proto == "rtu" else 0x03  # '0'..'9' <-> other digits or letters
        expect(f"{proto} corrupted reply of {n} registers", tool("recv", proto, bytes(bad).hex()),
               "DROP")

failures = [r for r in results if r[1] != r[2]]
for what, ours, theirs in failures:
    print(f"MISMATCH {what}: ours {ours} pymodbus {theirs}")
print(f"{len(results)} checks, {len(failures)} mismatches")
sys.exit(1 if failures else 0)
