#!/usr/bin/python3
# kelm.exe under wine, end to end: each command runs twice against the same
# simulated bus (kelm-sim, the Linux program), once by the Linux kelm and once
# by kelm.exe, and the two must print the same bytes (stdout and stderr) and
# end with the same exit status, which is also the one the case expects.
#
# Serial lines: kelm-sim publishes its pseudo-terminal as COMn in a private
# virtual-port directory (where the Linux kelm finds it) and the same pty is
# mapped into the wine prefix as COMn (a dosdevices link; COM5 also listed in
# the registry's port map, COM6 not), so both programs get the same command
# line.
# Network lines: kelm-sim --tcp / --mbtcp on the loopback.
#
# One wine prefix, made here in a temporary folder, and one persistent wine
# server serve the whole run. The server is stopped before the simulators
# close their ptys (a server holding a pty whose other end goes away reports
# its objects).
#
# Prints kelm_wine_e2e_s, kelm_exe_runs, kelm_exe_mean_s and kelm_mean_s.
import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

RUN_LIMIT_S = 120  # per program run; a hang fails the case, never the machine
START_LIMIT_S = 30


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--kelm-exe", required=True)
    p.add_argument("--kelm", required=True, help="the Linux kelm")
    p.add_argument("--kelm-sim", required=True, help="the Linux kelm-sim")
    p.add_argument("--shim", required=True, help="the modem-line shim preloaded into wine")
    p.add_argument("--comreg", required=True, help="kelm-wine-comreg.exe")
    p.add_argument("--only", choices=["serial", "net"], help="run one part only")
    p.add_argument("--report", help="also write the timing lines to this file")
    return p.parse_args()


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    for k in ("DISPLAY", "WAYLAND_DISPLAY", "LD_PRELOAD"):
        env.pop(k, None)
    return env


def read_line(proc, limit_s):
    """The first line the process prints, waiting at most limit_s."""
    fd = proc.stdout.fileno()
    data = b""
    deadline = time.monotonic() + limit_s
    while b"\n" not in data:
        left = deadline - time.monotonic()
        if left <= 0 or proc.poll() is not None and not select.select([fd], [], [], 0)[0]:
            break
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            break
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        data += chunk
    return data.decode("utf-8", "replace").split("\n")[0]


class Simulator:
    """A kelm-sim process; its first output line names where it serves."""

    def __init__(self, program, line_args, modules, env):
        args = [program, *line_args, "--quiet"]
        for m in modules:
            args += ["--module", m]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=env)
        self.banner = read_line(self.proc, START_LIMIT_S)
        if "module(s) on" not in self.banner:
            self.stop()
            err = self.proc.stderr.read().decode("utf-8", "replace")
            raise RuntimeError("kelm-sim did not start: %r %s" % (self.banner, err))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Runner:
    def __init__(self, args, prefix, ports_dir):
        self.args = args
        self.wine_env = wine_env(prefix)
        self.linux_env = dict(os.environ, KELM_PORTS_DIR=ports_dir)
        self.linux_env.pop("KELM_PORT", None)
        self.wine_env.pop("KELM_PORT", None)
        self.exe_times = []
        self.linux_times = []
        self.failures = []
        self.cases = 0

    def run(self, argv, env, times):
        start = time.monotonic()
        try:
            r = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, env=env,
                               timeout=RUN_LIMIT_S)
            result = (r.returncode, r.stdout, r.stderr)
        except subprocess.TimeoutExpired:
            result = (None, b"", b"did not end within %d s" % RUN_LIMIT_S)
        times.append(time.monotonic() - start)
        return result

    def linux(self, cmd):
        return self.run([self.args.kelm, *cmd], self.linux_env, self.linux_times)

    def windows(self, cmd):
        env = dict(self.wine_env, LD_PRELOAD=self.args.shim)
        return self.run(["wine", self.args.kelm_exe, *cmd], env, self.exe_times)

    def check(self, name, cmd, status, fragment=b"", normalise=lambda b: b):
        """Runs cmd with both programs: equal output, the expected status,
        and (when given) fragment in the output of status 0 or in stderr."""
        self.cases += 1
        lin = self.linux(cmd)
        win = self.windows(cmd)
        lin = (lin[0], normalise(lin[1]), normalise(lin[2]))
        win = (win[0], normalise(win[1]), normalise(win[2]))
        problems = []
        if lin != win:
            problems.append("the programs differ")
        if lin[0] != status:
            problems.append("kelm ended with %s, not %d" % (lin[0], status))
        if win[0] != status:
            problems.append("kelm.exe ended with %s, not %d" % (win[0], status))
        if fragment and fragment not in lin[1] + lin[2]:
            problems.append("%r is missing" % fragment)
        if problems:
            self.failures.append(name)
            print("FAIL %s: %s\n  command: %s" % (name, "; ".join(problems), " ".join(cmd)))
            for who, (st, out, err) in (("kelm", lin), ("kelm.exe", win)):
                print("  %s: status %s\n    stdout %r\n    stderr %r" % (who, st, out, err))
        else:
            print("ok   %s" % name)
        sys.stdout.flush()


def check_windows(runner, name, cmd, status, fragment):
    """A case of kelm.exe alone (a Windows name has no Linux twin)."""
    runner.cases += 1
    st, out, err = runner.windows(cmd)
    if st != status or fragment not in out + err:
        runner.failures.append(name)
        print("FAIL %s: kelm.exe ended with %s (expected %d), %r expected\n  command: %s\n"
              "    stdout %r\n    stderr %r" % (name, st, status, fragment, " ".join(cmd), out,
                                                err))
    else:
        print("ok   %s" % name)
    sys.stdout.flush()


SLOW_OK = "1000"  # a busy machine may be slow to answer: generous time-outs


def serial_part(runner, sim_program, prefix, ports_dir, sims, links):
    """Adds what it starts to sims and links, for the caller to undo."""
    env = dict(os.environ, KELM_PORTS_DIR=ports_dir)
    # COM5: modules in both protocols; COM6: one module alone, for the
    # link check, at a serial format other than the default.
    buses = [(5, ["16T@3", "8AD@5,protocol=ascii", "2AO@9"]),
             (6, ["8ASP@17,format=11"])]
    for com, modules in buses:
        sim = Simulator(sim_program, ["--com", str(com)], modules, env)
        sims.append(sim)
        m = re.search(r" -> (/dev/pts/\d+)\)", sim.banner)
        if not m:
            raise RuntimeError("no pty in %r" % sim.banner)
        link = os.path.join(prefix, "dosdevices", "com%d" % com)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(m.group(1), link)
        links.append(link)

    p5 = ["--port", "COM5"]
    rtu, ascii = ["--protocol", "rtu"], ["--protocol", "ascii"]
    slow = ["--timeout", SLOW_OK]
    cases = [
        # name, arguments, status, fragment
        ("scan rtu", ["scan", *p5, "--from", "2", "--to", "5", "--timeout", "300"], 0,
         b"3\tKELM-16T\t12\tA1\tB3\n"),
        ("scan rtu json", ["scan", *p5, "--from", "9", "--to", "9", "--json", *slow], 0,
         b'"model":"KELM-2AO"'),
        ("scan ascii", ["scan", *p5, *ascii, "--from", "4", "--to", "6", "--timeout", "300"],
         0, b"5\tKELM-8AD\t16\tA1\tB3\n"),
        ("info rtu", ["info", *p5, "-a", "3", *slow], 0, b"model=KELM-16T\n"),
        ("info ascii json", ["info", *p5, "-a", "5", *ascii, "--json", *slow], 0,
         b'"protocol":"ascii"'),
        ("read rtu", ["read", *p5, "-a", "3", *slow], 0, b"do_mode15\tswitch\n"),
        # The simulated inputs change with time: the modes are compared.
        ("read ascii", ["read", *p5, "-a", "5", *ascii, "ai_mode", *slow], 0,
         b"ai_mode7\t+-20mA\n"),
        ("write rtu", ["write", *p5, "-a", "3", "do2=on", "pulse_on3=100", *slow], 0, b""),
        ("read back rtu", ["read", *p5, "-a", "3", "do2", "pulse_on3", "--json", *slow], 0,
         b"100"),
        ("write analog", ["write", *p5, "-a", "9", "ao1.raw=12500", *slow], 0, b""),
        ("read analog json", ["read", *p5, "-a", "9", "--json", *slow], 0, b"12500"),
        ("write ascii", ["write", *p5, "-a", "5", *ascii, "ai2.mode=+-10V", *slow], 0, b""),
        ("read back ascii", ["read", *p5, "-a", "5", *ascii, "ai_mode2", "--json", *slow], 0,
         b"10V"),
        ("no reply", ["info", *p5, "-a", "4", "--timeout", "100", "--retries", "0"], 4,
         b"no reply"),
        ("no such port", ["info", "--port", "COM7", "-a", "3"], 3, b"missing"),
        ("find", ["find", "--port", "COM6", "--json", "--timeout", "300"], 0,
         b'"format":11'),
        ("find addressed", ["find", "--port", "COM6", "-a", "17", *rtu, "--timeout", "300"],
         0, b"address=17\n"),
    ]
    for name, cmd, status, fragment in cases:
        runner.check(name, cmd, status, fragment)
    # A device path that leads nowhere: the system's words for it.
    check_windows(runner, "missing device", ["info", "--port", "\\\\.\\COM9", "-a", "3"], 3,
                  b"cannot open \\\\.\\COM9: the port is missing (")


def net_part(runner, sim_program, sims):
    """Adds the simulators it starts to sims, for the caller to stop."""
    mine = []
    for scheme, flag in (("tcp", "--tcp"), ("mbtcp", "--mbtcp")):
        sim = Simulator(sim_program, [flag, "127.0.0.1:0"], ["16T@3", "8AD@5"], os.environ)
        sims.append(sim)
        mine.append(sim)
        m = re.search(r"(%s://127\.0\.0\.1:\d+)" % scheme, sim.banner)
        if not m:
            raise RuntimeError("no address in %r" % sim.banner)
        port = ["--port", m.group(1)]
        slow = ["--timeout", SLOW_OK]
        runner.check(scheme + " scan", ["scan", *port, "--from", "3", "--to", "5", *slow], 0,
                     b"5\tKELM-8AD\t16\tA1\tB3\n")
        runner.check(scheme + " info json", ["info", *port, "-a", "5", "--json", *slow], 0,
                     b'"model":"KELM-8AD"')
        runner.check(scheme + " write", ["write", *port, "-a", "3", "do4=on", *slow], 0, b"")
        runner.check(scheme + " read", ["read", *port, "-a", "3", "do4", *slow], 0,
                     b"do4\t1\n")
    # Nobody listens: the open fails the same way on both.
    closed = mine[-1].banner
    for sim in mine:
        sim.stop()
    m = re.search(r"(mbtcp://127\.0\.0\.1:\d+)", closed)
    runner.check("refused", ["info", "--port", m.group(1), "-a", "3"], 3, b"refused")


def main():
    args = parse_args()
    started = time.monotonic()
    # A prefix of its own, never the run's shared one: the port map that
    # kelm-wine-comreg fills is volatile and lives only as long as the wine
    # server, so this test must own a server that stays up from the map's
    # filling to the last case (a shared server that another test started
    # may end whenever it has been idle for a few seconds).
    own_prefix = tempfile.mkdtemp(prefix="kelm-wine.")
    prefix = own_prefix
    env = wine_env(prefix)
    ports_dir = tempfile.mkdtemp(prefix="kelm-wine-ports.")
    runner = Runner(args, prefix, ports_dir)
    sims, links = [], []
    error = None
    try:
        # wine's own processes (the server, services) outlive the programs:
        # they get no pipe of ours, or reading the output would never end.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, env=env, timeout=300)
        subprocess.run(["wineboot", "-i"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
        # One server for every run below, until it is stopped at the end.
        if subprocess.run(["wineserver", "-p"], **quiet).returncode != 0:
            raise RuntimeError("cannot start a persistent wine server")
        # The first program starts wine's services; it also lists COM5 in
        # the port map, as a port driver does. COM6 stays out of the list:
        # kelm.exe opens it by name all the same.
        if subprocess.run(["wine", args.comreg, "COM5"], **quiet).returncode != 0:
            raise RuntimeError("cannot list COM5 in the registry's port map")
        if args.only != "net":
            serial_part(runner, args.kelm_sim, prefix, ports_dir, sims, links)
        if args.only != "serial":
            net_part(runner, args.kelm_sim, sims)
    except Exception as e:  # a set-up failure is a failure, never a skip
        error = e
    finally:
        for step in ("-k", "-w"):
            subprocess.run(["wineserver", step], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                           timeout=300)
        for sim in sims:
            sim.stop()
        for link in links:
            if os.path.lexists(link):
                os.unlink(link)
        shutil.rmtree(ports_dir, ignore_errors=True)
        if own_prefix:
            shutil.rmtree(own_prefix, ignore_errors=True)
    if error is not None:
        print("FAIL set-up: %s" % error)
        runner.failures.append("set-up")

    def mean(xs):
        return sum(xs) / len(xs) if xs else 0.0

    timings = ("kelm_wine_e2e_s=%.1f\nkelm_exe_runs=%d\nkelm_exe_mean_s=%.2f\nkelm_mean_s=%.2f\n" %
               (time.monotonic() - started, len(runner.exe_times), mean(runner.exe_times),
                mean(runner.linux_times)))
    print(timings, end="")
    if args.report:
        with open(args.report, "w") as f:
            f.write(timings)
    if runner.failures:
        print("%d of %d cases failed: %s" % (len(runner.failures), runner.cases,
                                             ", ".join(runner.failures)))
        return 1
    if runner.cases == 0:
        print("no case ran")
        return 1
    print("%d cases passed" % runner.cases)
    return 0


if __name__ == "__main__":
    sys.exit(main())
