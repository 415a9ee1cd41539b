#!/usr/bin/python3
# kelm against an independent Modbus stack: a pymodbus serial server, set up
# to look like a KELM module (holding registers 0-5: type, hardware,
# software, format, address, protocol letter), on one end of a socat pty
# pair; kelm reads it on the other end, in RTU and in ASCII.
# usage: pymodbus_kelm.py KELM [serve PORT rtu|ascii]
import json
import os
import subprocess
import sys
import tempfile
import time


def serve(port, proto):
    from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                    ModbusSlaveContext)
    from pymodbus.framer.ascii_framer import ModbusAsciiFramer
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.server import StartSerialServer

    letter = 0x41 if proto == "ascii" else 0x52
    # Type 16 (KELM-8AD), hardware 0x12, software 0x34, format 11 (9600 even),
    # address 7.
    regs = [16, 0x12, 0x34, 11, 7, letter]
    store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, regs), zero_mode=True)
    # Address 7, and 0 for the link check's broadcast read, which a KELM
    # module answers from address 0; every other address keeps silent.
    # Address 9: a KELM-8AS whose channels alternate current and voltage
    # mode, with known input registers (kelm read converts them).
    as_regs = [14, 0x12, 0x34, 11, 9, letter] + [0x30, 0x31] * 4
    as_store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, as_regs),
                                  ir=ModbusSequentialDataBlock(0, AS_COUNTS), zero_mode=True)
    context = ModbusServerContext(slaves={7: store, 9: as_store, 0: store}, single=False)
    framer = ModbusAsciiFramer if proto == "ascii" else ModbusRtuFramer
    StartSerialServer(context=context, framer=framer, port=port, baudrate=9600, bytesize=8,
                      parity="N", stopbits=1, timeout=0.05, ignore_missing_slaves=True)


failures = []
# KELM-8AS counts: 4000 per full scale (20 mA in current mode, 10 V in voltage).
AS_COUNTS = [1000, 3000, 4000, 0, 2000, 400, 123, 3998]
AS_VALUES = [5.0, 7.5, 20.0, 0.0, 10.0, 1.0, 0.615, 9.995]


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def wait_for(pred, limit=20.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(0.05)
    return pred()


def kelm(*args):
    env = dict(os.environ)
    env.pop("KELM_PORT", None)
    p = subprocess.run([KELM, *args], capture_output=True, text=True, timeout=120, env=env)
    return p.returncode, p.stdout, p.stderr


def run(proto):
    tmp = tempfile.mkdtemp(prefix="kelm-pymodbus-")
    server_end, client_end = os.path.join(tmp, "server"), os.path.join(tmp, "client")
    socat = subprocess.Popen(["socat", f"pty,raw,echo=0,link={server_end}",
                              f"pty,raw,echo=0,link={client_end}"],
                             stderr=subprocess.DEVNULL)
    server = None
    try:
        check(wait_for(lambda: os.path.exists(server_end) and os.path.exists(client_end)),
              f"{proto}: socat made the pty pair")
        server = subprocess.Popen([sys.executable, __file__, KELM, "serve", server_end, proto])
        base = ["--port", client_end, "--parity", "even", "--protocol", proto,
                "--timeout", "1000", "--retries", "2"]
        # The server needs a moment to open its end: ask until it answers.
        rc, out, err = 4, "", ""
        end = time.monotonic() + 30
        while rc == 4 and time.monotonic() < end:
            rc, out, err = kelm("info", "--address", "7", "--json", *base)
        check(rc == 0, f"{proto}: kelm info exits 0 ({rc}: {err.strip()})")
        want = {"address": 7, "model": "KELM-8AD", "type": 16, "hardware": "12",
                "software": "34", "format": 11, "baud": 9600, "parity": "even",
                "protocol": proto}
        got = json.loads(out) if rc == 0 else None
        check(got == want, f"{proto}: kelm info reads the registers: {got}")

        rc, out, err = kelm("scan", "--from", "5", "--to", "8", "--json", *base[:-2],
                            "--retries", "0")
        got = json.loads(out) if rc == 0 else None
        check(got == {"modules": [{"address": 7, "model": "KELM-8AD", "type": 16,
                                   "hardware": "12", "software": "34"}]},
              f"{proto}: kelm scan finds address 7 only: {got} ({err.strip()})")

        rc, out, err = kelm("find", "--port", client_end, "--json", "--timeout", "1000")
        got = json.loads(out) if rc == 0 else None
        check(got == {"address": 7, "baud": 9600, "parity": "even", "protocol": proto,
                      "format": 11}, f"{proto}: kelm find reads the broadcast: {got} ({err.strip()})")

        rc, out, err = kelm("read", "--address", "9", "--json", "ai", *base)
        got = json.loads(out) if rc == 0 else None
        check(got is not None and got["model"] == "KELM-8AS" and
              [a["count"] for a in got["ai"]] == AS_COUNTS and
              [a["value"] for a in got["ai"]] == AS_VALUES and
              [a["unit"] for a in got["ai"]] == ["mA", "V"] * 4 and
              [a["mode"]["ascii"] for a in got["ai"]] == ["current", "voltage"] * 4,
              f"{proto}: kelm read converts the 8AS inputs by their modes: {got} ({err.strip()})")
        rc, out, err = kelm("read", "--address", "9", "ai1", "ai6", *base)
        check(rc == 0 and out == "ai1\t7.500\tV\nai6\t0.615\tmA\n",
              f"{proto}: kelm read ai1 ai6 as text: {out!r} ({err.strip()})")

        rc, out, err = kelm("info", "--address", "8", *base[:-4], "--timeout", "300")
        check(rc == 4 and "no reply from module 8" in err,
              f"{proto}: a missing address gets no reply ({rc}: {err.strip()})")
    finally:
        if server:
            server.kill()
            server.wait()
        socat.kill()
        socat.wait()


KELM = sys.argv[1]
if len(sys.argv) > 2 and sys.argv[2] == "serve":
    serve(sys.argv[3], sys.argv[4])
    sys.exit(0)
for proto in ("rtu", "ascii"):
    run(proto)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
