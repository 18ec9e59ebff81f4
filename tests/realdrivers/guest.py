"""The guest and the host's ends of its lines: the initramfs, QEMU, the
console agent, the monitor, and the far ends of ttyS1 and ttyUSB0."""

import json
import os
import queue
import re
import select
import shutil
import socket
import subprocess
import termios
import threading
import time
import tty

GUEST_MODULES = ["ftdi_sio", "xhci-pci"]


def module_order(moddir, wanted):
    """The .ko files under moddir that `wanted` needs, each after what it depends on."""
    paths = {}
    for root, _, files in os.walk(moddir):
        for name in files:
            if name.endswith(".ko"):
                paths[name[:-3].replace("_", "-")] = os.path.relpath(os.path.join(root, name), moddir)
    order = []

    def depends(name):
        data = open(os.path.join(moddir, paths[name]), "rb").read()
        found = re.search(rb"depends=([A-Za-z0-9_,-]*)\0", data)
        return [d.replace("_", "-") for d in found.group(1).decode().split(",") if d] if found else []

    def visit(name):
        name = name.replace("_", "-")
        if paths[name] in order:
            return
        for dep in depends(name):
            visit(dep)
        order.append(paths[name])

    for name in wanted:
        visit(name)
    return order


def copy_with_libraries(program, staging):
    """Copies a dynamically linked program and every library ldd names."""
    shutil.copy2(program, os.path.join(staging, "bin", os.path.basename(program)))
    listing = subprocess.run(["ldd", program], capture_output=True, text=True, check=True).stdout
    for line in listing.splitlines():
        found = re.search(r"(/\S+)", line)
        if not found:
            continue
        lib = found.group(1)
        target = os.path.join(staging, lib.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target):
            shutil.copy2(os.path.realpath(lib), target)


def make_initramfs(work, kernel_root, kernel_release, init_script, programs):
    staging = os.path.join(work, "initramfs")
    shutil.rmtree(staging, ignore_errors=True)
    for sub in ("bin", "lib/modules", "proc", "sys", "dev", "tmp"):
        os.makedirs(os.path.join(staging, sub), exist_ok=True)
    shutil.copy2("/bin/busybox", os.path.join(staging, "bin", "busybox"))
    os.symlink("busybox", os.path.join(staging, "bin", "sh"))
    shutil.copy2(init_script, os.path.join(staging, "init"))
    os.chmod(os.path.join(staging, "init"), 0o755)
    moddir = os.path.join(kernel_root, "lib", "modules", kernel_release)
    order = module_order(moddir, GUEST_MODULES)
    for rel in order:
        shutil.copy2(os.path.join(moddir, rel), os.path.join(staging, "lib", "modules", os.path.basename(rel)))
    with open(os.path.join(staging, "modules.order"), "w") as out:
        out.write("".join(os.path.basename(rel) + "\n" for rel in order))
    for program in programs:
        copy_with_libraries(program, staging)
    image = os.path.join(work, "initramfs.cpio")
    names = subprocess.run(["find", "."], cwd=staging, capture_output=True, check=True).stdout
    with open(image, "wb") as out:
        subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=staging, input=names, stdout=out, check=True)
    return image


class Monitor:
    """QEMU's machine protocol (QMP) on a unix socket."""

    def __init__(self, path, limit=30):
        deadline = time.monotonic() + limit
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        self.stream = self.sock.makefile("rb")
        self.stream.readline()  # the greeting
        self.execute("qmp_capabilities")

    def execute(self, command, **arguments):
        """The command's "return" value; raises on an "error" answer. Events are skipped."""
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        self.sock.sendall(json.dumps(request).encode() + b"\n")
        while True:
            line = self.stream.readline()
            if not line:
                raise RuntimeError("QEMU's monitor closed")
            answer = json.loads(line)
            if "return" in answer:
                return answer["return"]
            if "error" in answer:
                raise RuntimeError("%s: %s" % (command, answer["error"].get("desc", answer["error"])))


class HostLine:
    """The host's end of one guest line (the slave of QEMU's pty). It is held
    open for the whole run, so QEMU always sees the line connected; on it run
    the simulated device, or the test's own peer, or nobody (a stalled line)."""

    def __init__(self, path, sim_program):
        self.path = path
        self.sim_program = sim_program
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        self.sim = None
        self.sim_lines = queue.Queue()
        self.peer = None
        self.peer_stop = None
        self.lock = threading.RLock()  # a request may come from a timer's thread

    def drain(self):
        while select.select([self.fd], [], [], 0.05)[0]:
            try:
                if not os.read(self.fd, 65536):
                    return
            except BlockingIOError:
                return

    def start_sim(self, *args):
        with self.lock:
            self._start_sim(args)

    def _start_sim(self, args):
        self.stop()
        self.drain()
        self.sim_lines = queue.Queue()
        self.sim = subprocess.Popen([self.sim_program, "--device", self.path, *args], stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True)
        lines = self.sim_lines

        def pump(stream):
            for line in stream:
                lines.put((time.monotonic(), line.rstrip("\n")))

        threading.Thread(target=pump, args=(self.sim.stdout,), daemon=True).start()
        first = self.wait_sim(lambda l: l.strip() != "", 10)
        if first is None:
            raise RuntimeError("the simulated device did not start on " + self.path)

    def wait_sim(self, match, limit):
        """The time and text of the next line of the device's log that matches."""
        deadline = time.monotonic() + limit
        while True:
            try:
                stamp, line = self.sim_lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if match(line):
                return stamp, line

    def sim_log(self):
        found = []
        while not self.sim_lines.empty():
            found.append(self.sim_lines.get()[1])
        return found

    def start_peer(self, on_byte):
        """Reads the line itself and hands every byte to on_byte(byte, time)."""
        with self.lock:
            self._start_peer(on_byte)

    def _start_peer(self, on_byte):
        self.stop()
        self.drain()
        stop = threading.Event()

        def run():
            while not stop.is_set():
                if not select.select([self.fd], [], [], 0.02)[0]:
                    continue
                try:
                    data = os.read(self.fd, 4096)
                except (BlockingIOError, OSError):
                    continue
                for b in data:
                    on_byte(b, time.monotonic())

        self.peer_stop = stop
        self.peer = threading.Thread(target=run, daemon=True)
        self.peer.start()

    def write(self, data):
        os.write(self.fd, data)

    def stop(self):
        """Nobody reads the line any more (the guest's transmitter stalls once QEMU's buffer is full)."""
        with self.lock:
            self._stop()

    def _stop(self):
        if self.sim is not None:
            self.sim.terminate()
            try:
                self.sim.wait(5)
            except subprocess.TimeoutExpired:
                self.sim.kill()
                self.sim.wait()
            self.sim = None
        if self.peer is not None:
            self.peer_stop.set()
            self.peer.join()
            self.peer = None


class Guest:
    def __init__(self, work, kernel, initrd, sim_program):
        self.work = work
        self.events = queue.Queue()
        self.pending = []
        monitor_path = os.path.join(work, "monitor.sock")
        if os.path.exists(monitor_path):
            os.unlink(monitor_path)
        self.qemu = subprocess.Popen(
            ["qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "384", "-smp", "1",
             "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
             "-kernel", kernel, "-initrd", initrd,
             "-append", "console=ttyS0 quiet loglevel=1 panic=-1 rdinit=/init 8250.nr_uarts=5",
             "-chardev", "stdio,id=console,signal=off", "-serial", "chardev:console",
             "-chardev", "pty,id=uart", "-serial", "chardev:uart",
             "-chardev", "pty,id=pciline", "-device", "pci-serial,chardev=pciline,id=pciuart",
             "-device", "qemu-xhci,id=xhci",
             "-chardev", "pty,id=usbline", "-device", "usb-serial,bus=xhci.0,chardev=usbline,id=ftdi",
             "-qmp", "unix:" + monitor_path + ",server=on,wait=off"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=open(os.path.join(work, "qemu.err"), "w"))
        self.console_log = open(os.path.join(work, "console.log"), "w")
        threading.Thread(target=self._pump, daemon=True).start()
        try:
            self.monitor = Monitor(monitor_path)
        except BaseException:
            self.qemu.kill()  # no emulator outlives a guest that could not be set up
            self.qemu.wait()
            raise
        paths = {c["label"]: c["filename"][len("pty:"):] for c in self.monitor.execute("query-chardev")
                 if c["filename"].startswith("pty:")}
        self.uart = HostLine(paths["uart"], sim_program)
        self.usb = HostLine(paths["usbline"], sim_program)
        self.pci = HostLine(paths["pciline"], sim_program)
        self.counter = 0

    def _pump(self):
        for raw in self.qemu.stdout:
            line = raw.decode(errors="replace").rstrip("\r\n")
            self.console_log.write(line + "\n")
            self.console_log.flush()
            at = line.find("@@")
            if at >= 0:
                self.events.put((time.monotonic(), line[at + 2:]))
        self.events.put((time.monotonic(), "EOF"))

    def wait_event(self, match, limit):
        """The first console event for which match(words) holds: (time, words)."""
        for i, (stamp, words) in enumerate(self.pending):
            if match(words):
                del self.pending[i]
                return stamp, words
        deadline = time.monotonic() + limit
        while True:
            try:
                stamp, text = self.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            words = text.split(" ")
            if words[0] == "EOF":
                raise RuntimeError("the guest's console closed")
            if match(words):
                return stamp, words
            self.pending.append((stamp, words))

    def wait_ready(self, limit):
        return self.wait_event(lambda w: w[0] in ("READY", "FATAL"), limit)

    def send(self, text):
        self.qemu.stdin.write(text.encode() + b"\n")
        self.qemu.stdin.flush()

    def _new_id(self):
        self.counter += 1
        return "j%d" % self.counter

    def _output(self, job):
        out, err = [], []
        for stamp, words in list(self.pending):
            if len(words) >= 2 and words[1] == job and words[0] in ("O", "E"):
                (out if words[0] == "O" else err).append(" ".join(words[2:]))
                self.pending.remove((stamp, words))
        return out, err

    def run(self, command, limit=60, on_host=None):
        """Runs a shell command in the guest: (status, stdout lines, stderr lines).
        A request the command makes of the host ("@@HOST words") goes to
        on_host(words) and is answered "GO" once that has returned."""
        job = self._new_id()
        self.send("R %s %s" % (job, command))
        deadline = time.monotonic() + limit
        while True:
            done = self.wait_event(lambda w: (w[0] == "R" and w[1] == job) or (on_host and w[0] == "HOST"),
                                   max(0.0, deadline - time.monotonic()))
            if done is None:
                raise RuntimeError("no end of '%s' within %d s" % (command, limit))
            if done[1][0] == "R":
                break
            on_host(done[1][1:])
            self.send("GO")
        out, err = self._output(job)
        return int(done[1][2]), out, err

    def start(self, command):
        job = self._new_id()
        self.send("B %s %s" % (job, command))
        if self.wait_event(lambda w: w[0] == "B" and w[1] == job, 30) is None:
            raise RuntimeError("'%s' did not start" % command)
        return job

    def wait_job(self, job, limit):
        """(time of the end, status, cpu seconds, stdout, stderr), or None while it runs."""
        done = self.wait_event(lambda w: w[0] == "X" and w[1] == job, limit)
        if done is None:
            return None
        self.wait_event(lambda w: w[0] == "XE" and w[1] == job, 30)
        out, err = self._output(job)
        cpu = float(done[1][3]) if len(done[1]) > 3 and done[1][3] else 0.0
        return done[0], int(done[1][2]), cpu, out, err

    def job_ticks(self, job):
        self.send("T " + job)
        found = self.wait_event(lambda w: w[0] == "T" and w[1] == job, 30)
        return int(found[1][2]) if found else 0

    def enter(self, job):
        self.send("L " + job)

    def close_input(self, job):
        self.send("C " + job)

    def shutdown(self):
        for line in (self.uart, self.usb, self.pci):
            line.stop()
        try:
            self.monitor.execute("quit")
        except (OSError, RuntimeError):
            pass
        try:
            self.qemu.wait(10)
        except subprocess.TimeoutExpired:
            self.qemu.kill()
            self.qemu.wait()
