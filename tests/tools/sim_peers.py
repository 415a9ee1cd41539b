#!/usr/bin/python3
"""kelm-sim against independent Modbus peers, and its command line.

  sim_peers.py KELM_SIM mbpoll-rtu | pymodbus-ascii | wrong-format | device | cli | network

mbpoll (libmodbus) checks the RTU side, a pymodbus client the ASCII side; the
simulator runs as its own process on a pseudo-terminal, as users run it.
"""
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import time

SIM = sys.argv[1]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, flush=True)


class Sim:
    """kelm-sim started with the given arguments; path = the pty to open."""

    def __init__(self, *args, env=None):
        start = time.monotonic()
        self.proc = subprocess.Popen([SIM, *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, env=env)
        ready, _, _ = select.select([self.proc.stdout], [], [], 5.0)
        self.first_line = self.proc.stdout.readline() if ready else ""
        self.startup_ms = (time.monotonic() - start) * 1000
        m = re.search(r"(/dev/pts/\d+)", self.first_line)
        if not m:
            self.stop()
            raise RuntimeError("kelm-sim did not start: %r %s" % (self.first_line, self.proc.stderr.read()))
        self.path = m.group(1)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        try:
            out, err = self.proc.communicate(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
            check(False, "kelm-sim did not stop on SIGINT")
        return self.proc.returncode, out, err


def run_mbpoll(path, line, slave, table, ref, count=1, values=(), timeout=0.5):
    """Runs mbpoll once; returns (returncode, {reference: value}, output)."""
    baud, parity, stop = line
    cmd = ["mbpoll", "-m", "rtu", "-0", "-1", "-o", str(timeout), "-b", str(baud),
           "-P", parity, "-s", str(stop), "-a", str(slave), "-t", table, "-r", str(ref)]
    if not values:
        cmd += ["-c", str(count)]
    cmd += [path, *[str(v) for v in values]]
    p = subprocess.run(cmd, capture_output=True, text=True, timeout=20)
    out = p.stdout + p.stderr
    regs = {int(m.group(1)): int(m.group(2)) for m in re.finditer(r"^\[(\d+)\]:\s+(-?\d+)", out, re.M)}
    return p.returncode, regs, out


def test_mbpoll_rtu():
    sim = Sim("--module", "8I8T@1", "--module", "2AO@2", "--module", "8AD@3", "--module", "16I@4",
              "--delay", "1")
    line = (9600, "none", 2)
    coils = lambda *on: {i: int(i in on) for i in range(8)}
    # (slave, table, reference, a count to read or values to write, and what must come back:
    # the values read, None for a write that succeeds, or the exception libmodbus reports)
    steps = [
        (1, "4", 0, 6, {0: 10, 1: 0xA1, 2: 0xB3, 3: 3, 4: 1, 5: 82}),  # function 3
        (1, "0", 3, [1], None),  # function 5
        (1, "0", 0, 8, coils(3)),  # function 1
        (1, "0", 0, [1, 0, 0, 0, 0, 0, 0, 1], None),  # function 15
        (1, "0", 0, 8, coils(0, 7)),
        (2, "4", 8, [12000], None),  # function 6
        (2, "4", 6, [0x30, 0x31], None),  # function 16
        (2, "4", 6, 4, {6: 0x30, 7: 0x31, 8: 12000, 9: 4000}),
        (3, "3", 0, 12, lambda r: len(r) == 12),  # function 4
        (4, "1", 0, 16, lambda r: len(r) == 16 and set(r.values()) <= {0, 1}),  # function 2
        (1, "4", 200, 1, "Illegal data address"),
        (1, "4", 1, [0xA5], "Illegal data address"),  # a read-only register
        (1, "4", 3, [16], "Illegal data value"),
        (3, "0", 0, 1, "Illegal function"),
    ]
    try:
        for slave, table, ref, arg, want in steps:
            count, values = (arg, ()) if isinstance(arg, int) else (1, arg)
            rc, regs, out = run_mbpoll(sim.path, line, slave, table, ref, count, values)
            ok = (rc != 0 and want in out if isinstance(want, str) else
                  rc == 0 and (want is None or (want(regs) if callable(want) else regs == want)))
            check(ok, "mbpoll -a %d -t %s -r %d %s: %s" % (slave, table, ref, arg, out))
        rc, _, out = run_mbpoll(sim.path, line, 9, "4", 0, 3, timeout=0.3)
        check(rc != 0 and not re.search(r"^\[0\]", out, re.M), "address 9 is silent: %s" % out)
    finally:
        rc, out, err = sim.stop()
    check(rc == 0, "kelm-sim exits 0 on SIGINT (%s)" % err)
    check("rx 01 03 00 00 00 06 C5 C8" in out, "the log shows the request in hex")
    check("tx 01 03 0C 00 0A 00 A1 00 B3 00 03 00 01 00 52" in out, "the log shows the reply in hex")


def test_wrong_format():
    sim = Sim("--module", "8RY@1,format=12", "--quiet")  # 19200 baud, even parity, one stop bit
    try:
        for line in [(9600, "none", 2), (19200, "none", 2)]:
            rc, regs, out = run_mbpoll(sim.path, line, 1, "4", 0, 3, timeout=0.4)
            check(rc != 0 and not regs, "no answer at %s: %s" % (line, out))
        rc, regs, out = run_mbpoll(sim.path, (19200, "even", 1), 1, "4", 0, 3)
        check(rc == 0 and regs == {0: 13, 1: 0xA1, 2: 0xB3}, "answer at 19200 even 1: %s" % out)
    finally:
        rc, out, err = sim.stop()
    check(rc == 0 and "rx " not in out, "kelm-sim exits 0, and --quiet prints no traffic")


def test_pymodbus_ascii():
    from pymodbus.client import ModbusSerialClient
    from pymodbus.framer.ascii_framer import ModbusAsciiFramer

    def client(baud, stop):
        c = ModbusSerialClient(sim.path, framer=ModbusAsciiFramer, baudrate=baud, bytesize=7,
                               parity="N", stopbits=stop, timeout=1, retries=0)
        check(c.connect(), "pymodbus connects")
        return c

    sim = Sim("--module", "16T@5,protocol=ascii", "--module", "8AS@6,protocol=ascii",
              "--module", "16T@5")  # an RTU module at the same address stays silent
    try:
        c = client(9600, 2)
        r = c.read_holding_registers(0, 6, slave=5)
        check(not r.isError() and r.registers == [12, 0xA1, 0xB3, 3, 5, 65], "ASCII identity: %s" % r)
        r = c.write_coil(12, True, slave=5)
        check(not r.isError() and r.value is True, "write coil in ASCII: %s" % r)
        check(not c.write_coils(0, [True] + [False] * 7 + [True] + [False] * 6 + [True], slave=5).isError(),
              "write 16 coils")
        r = c.read_coils(0, 16, slave=5)
        check(not r.isError() and [i for i, b in enumerate(r.bits[:16]) if b] == [0, 8, 15],
              "coils read back: %s" % (getattr(r, "bits", r),))
        check(not c.write_register(7, 0x8200, slave=5).isError(), "write mode word")
        r = c.read_holding_registers(6, 2, slave=5)
        check(not r.isError() and r.registers == [0, 0x8200], "mode word read back: %s" % r)
        r = c.read_holding_registers(100, 1, slave=5)
        check(r.isError() and r.exception_code == 2, "exception 02 in ASCII: %s" % r)
        r = c.write_register(40, 0x32, slave=5)  # DO0 continuous pulse: "2" is no command
        check(r.isError() and r.exception_code == 3, "exception 03 in ASCII: %s" % r)
        r = c.read_input_registers(0, 8, slave=6)
        check(not r.isError() and all(800 <= v <= 4000 for v in r.registers),
              "KELM-8AS counts of a 4-20 mA signal: %s" % (getattr(r, "registers", r),))
        # New settings: address 7, 19200 even 1 stop (code 12), ASCII.
        r = c.write_registers(3, [12, 7, 0x41], slave=5)
        check(not r.isError(), "new settings acknowledged under the old ones: %s" % r)
        time.sleep(0.1)
        check(c.read_holding_registers(0, 3, slave=5).isError(), "the old settings no longer answer")
        c.close()
        # A pty carries no parity (pyserial is refused 7E1 there): the stop bit tells.
        c = client(19200, 1)
        r = c.read_holding_registers(3, 3, slave=7)
        check(not r.isError() and r.registers == [12, 7, 65], "the new settings answer: %s" % r)
        c.close()
    finally:
        rc, out, err = sim.stop()
    check(rc == 0, "kelm-sim exits 0")
    check(":050300000006F2\\r\\n" in out, "the log shows ASCII requests as text too")


def test_cli():
    p = subprocess.run([SIM, "--help"], capture_output=True, text=True, timeout=5)
    check(p.returncode == 0 and "Usage: kelm-sim" in p.stdout and "--module" in p.stdout, "--help")
    for args, text in [([], "no modules"), (["--module", "16Q@1"], "unknown model"),
                       (["--demo", "--com", "0"], "port number"), (["--bogus"], "unknown argument")]:
        p = subprocess.run([SIM, *args], capture_output=True, text=True, timeout=5)
        check(p.returncode == 2 and text in p.stderr and p.stdout == "",
              "bad arguments %s: rc %d, %r" % (args, p.returncode, p.stderr))
    p = subprocess.run([SIM, "--demo", "--device", "/dev/kelm-no-such-port"], capture_output=True,
                       text=True, timeout=10)
    check(p.returncode == 1 and "/dev/kelm-no-such-port" in p.stderr,
          "a port that cannot be opened: rc %d, %r" % (p.returncode, p.stderr))

    with tempfile.TemporaryDirectory() as ports:
        env = dict(os.environ, KELM_PORTS_DIR=ports)
        link = os.path.join(ports, "COM7")
        sim = Sim("--demo", "--com", "7", env=env)
        print("startup_ms=%.1f" % sim.startup_ms)
        try:
            check(os.path.islink(link) and os.readlink(link) == sim.path,
                  "COM7 links to the pty: %s" % sim.first_line)
            for a in range(1, 9):  # all eight models, in type order, through the link
                rc, regs, out = run_mbpoll(link, (9600, "none", 2), a, "4", 0, 1)
                check(regs.get(0) == 9 + a, "demo module %d: %s" % (a, out))
            second = subprocess.run([SIM, "--demo", "--com", "7"], capture_output=True, text=True,
                                    env=env, timeout=10)
            check(second.returncode == 1 and "COM7" in second.stderr,
                  "a second simulator cannot take COM7: %r" % second.stderr)
            check(os.readlink(link) == sim.path, "the first simulator keeps COM7")
            fd = os.open(sim.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        finally:
            rc, out, err = sim.stop()
        check(rc == 0 and "stopped" in out, "Ctrl-C ends it cleanly: rc %d %r" % (rc, err))
        check(not os.path.lexists(link), "the link is removed on exit")
        r, _, _ = select.select([fd], [], [], 2)
        try:
            hung_up = os.read(fd, 16) == b""
        except OSError:
            hung_up = True
        check(bool(r) and hung_up, "the pty is closed on exit")
        os.close(fd)


def test_device():
    """--device on a tty the simulator configures itself (a pty stands in for the adaptor)."""
    master, slave = os.openpty()
    path = os.ttyname(slave)
    os.close(slave)
    sim = Sim("--device", path, "--module", "8RY@1,format=12", "--module", "16T@2,format=3")
    # On a real port all four settings are known; the port opens at the first module's format.
    check("19200 baud, 1 stop bit, parity Even, 8 data bits" in sim.first_line,
          "the port opens at the first module's format: %s" % sim.first_line)
    try:
        os.write(master, bytes.fromhex("01 03 00 00 00 03 05 CB"))
        got, deadline = b"", time.monotonic() + 2.0  # slow under a loaded sanitizer run
        while len(got) < 11 and select.select([master], [], [], max(0, deadline - time.monotonic()))[0]:
            got += os.read(master, 256)
        check(got == bytes.fromhex("01 03 06 00 0D 00 A1 00 B3 1C E3"), "the KELM-8RY answers: %s" % got.hex())
    finally:
        os.close(master)  # the adaptor is unplugged
        try:
            out, err = sim.proc.communicate(timeout=5)
            rc = sim.proc.returncode
        except subprocess.TimeoutExpired:
            rc, out, err = sim.stop()
    check(rc == 1 and "lost" in err, "a lost port ends the simulator with a message: %d %r" % (rc, err))


def start_net_sim(*args):
    """kelm-sim on a network line of a port of its own choosing; (process, port)."""
    proc = subprocess.Popen([SIM, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    ready, _, _ = select.select([proc.stdout], [], [], 10.0)
    first = proc.stdout.readline() if ready else ""
    m = re.search(r"(?:tcp|mbtcp)://127\.0\.0\.1:(\d+)", first)
    if not m:
        proc.kill()
        raise RuntimeError("kelm-sim did not start: %r %s" % (first, proc.stderr.read()))
    return proc, int(m.group(1))


def stop_net_sim(proc, what):
    proc.send_signal(signal.SIGINT)
    try:
        proc.communicate(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        check(False, "%s: kelm-sim did not stop on SIGINT" % what)
    check(proc.returncode == 0, "%s: kelm-sim ends with status 0, not %s" % (what, proc.returncode))


def test_network():
    """--mbtcp read by mbpoll (libmodbus, Modbus TCP) and --tcp by pymodbus's RTU framer over TCP."""
    proc, port = start_net_sim("--demo", "--mbtcp", "127.0.0.1:0", "--delay", "1", "--quiet")
    try:
        for address in range(1, 9):
            cmd = ["mbpoll", "-m", "tcp", "-p", str(port), "-0", "-1", "-o", "2", "-a", str(address),
                   "-t", "4", "-r", "0", "-c", "6", "127.0.0.1"]
            p = subprocess.run(cmd, capture_output=True, text=True, timeout=20)
            out = p.stdout + p.stderr
            regs = {int(m.group(1)): int(m.group(2)) for m in re.finditer(r"^\[(\d+)\]:\s+(-?\d+)", out, re.M)}
            check(p.returncode == 0 and regs.get(4) == address and regs.get(5) == 82
                  and 10 <= regs.get(0, 0) <= 17,
                  "mbpoll reads the identity of unit %d through --mbtcp: %s" % (address, out))
    finally:
        stop_net_sim(proc, "--mbtcp")

    from pymodbus.client import ModbusTcpClient
    from pymodbus.transaction import ModbusRtuFramer
    proc, port = start_net_sim("--demo", "--tcp", "127.0.0.1:0", "--delay", "1", "--quiet")
    try:
        client = ModbusTcpClient("127.0.0.1", port=port, framer=ModbusRtuFramer, timeout=2)
        check(client.connect(), "pymodbus connects to --tcp")
        for address in (1, 5, 8):
            r = client.read_holding_registers(0, 6, slave=address)
            check(not r.isError() and r.registers[4] == address and r.registers[5] == 82,
                  "pymodbus reads unit %d over RTU on --tcp: %s" % (address, r))
        client.close()
    finally:
        stop_net_sim(proc, "--tcp")


tests = {"device": test_device, "mbpoll-rtu": test_mbpoll_rtu, "pymodbus-ascii": test_pymodbus_ascii,
         "wrong-format": test_wrong_format, "cli": test_cli, "network": test_network}
tests[sys.argv[2]]()
if failures:
    print("%d check(s) failed" % len(failures))
    sys.exit(1)
print("all checks passed")
