#!/usr/bin/env python3
"""The cases on real serial drivers: boots the guest, runs the engine's
real-line tests and the command-line cases in it, prints one line per case
and "N passed, M failed"; exit status 1 if any case failed.

usage: run_tier.py BUILD_DIR WORK_DIR KERNEL_ROOT KERNEL_RELEASE"""

import os
import re
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import guest  # noqa: E402

STX, ACK = 0x02, 0x06
CARD = "--wiegand 34 --password 0A1B2C3D"
REPLY_TIMEOUT_MS = 5000
UART, PCI_UART, USB = "/dev/ttyS1", "/dev/ttyS4", "/dev/ttyUSB0"
ADAPTER = {"driver": "usb-serial", "bus": "xhci.0", "chardev": "usbline", "id": "ftdi"}


class Tier:
    def __init__(self, vm):
        self.vm = vm
        self.passed = 0
        self.failed = 0
        self.figures = []

    def case(self, name, problems):
        if problems:
            self.failed += 1
            print("FAIL %s: %s" % (name, "; ".join(problems)), flush=True)
        else:
            self.passed += 1
            print("ok   %s" % name, flush=True)

    def figure(self, text):
        self.figures.append(text)
        print("     figure: " + text, flush=True)

    # --- the 16550A -------------------------------------------------------

    def uart_counters(self):
        _, out, _ = self.vm.run("cat /proc/tty/driver/serial")
        line = next(l for l in out if l.startswith("1:"))
        tx = int(re.search(r"tx:(\d+)", line).group(1))
        rx = int(re.search(r"rx:(\d+)", line).group(1))
        return tx, rx, line

    def uart_card(self):
        problems = []
        self.vm.uart.start_sim()
        _, frame_out, _ = self.vm.run("varnis-cli frame " + CARD)
        frame = " ".join(frame_out).strip()
        tx0, rx0, _ = self.uart_counters()
        rc, out, err = self.vm.run("varnis-cli make --port %s %s" % (UART, CARD))
        tx1, rx1, _ = self.uart_counters()
        if rc != 0 or "Success!" not in out:
            problems.append("make ended %d: %s" % (rc, " | ".join(out + err)))
        got = self.vm.uart.wait_sim(lambda l: "frame received" in l, 5)
        sent = got[1].split("): ", 1)[1].strip() if got else ""
        if sent != frame:
            problems.append("the device got [%s], 'frame' shows [%s]" % (sent, frame))
        # Out: the probe's STX, the card's STX, the frame, the ACK of the
        # result. In: the two ACKs, the result's STX, the 5-byte reply.
        n_frame = len(frame.split())
        want_tx, want_rx = 1 + 1 + n_frame + 1, 1 + 1 + 1 + 5
        if (tx1 - tx0, rx1 - rx0) != (want_tx, want_rx):
            problems.append("UART counted %d out, %d in; the exchange is %d out, %d in"
                            % (tx1 - tx0, rx1 - rx0, want_tx, want_rx))
        self.case("16550A: a card is made, its frame as 'frame' shows it, each byte once on the line", problems)

    def uart_held_port(self):
        problems = []
        self.vm.uart.start_sim()
        first = self.vm.start("varnis-cli make --port %s --count 2 %s" % (UART, CARD))
        if self.vm.uart.wait_sim(lambda l: "reply sent" in l, 15) is None:
            problems.append("the first card was not made")
        time.sleep(0.3)
        _, _, line = self.uart_counters()
        if "RTS" not in line.split()[-1]:
            problems.append("RTS is off while the port is open: " + line)
        _, pids, _ = self.vm.run("pidof varnis-cli")
        rc, out, err = self.vm.run("varnis-cli make --port %s %s" % (UART, CARD))
        text = " | ".join(out + err)
        want = "in use by varnis-cli (pid %s)" % (pids[0].strip() if pids else "?")
        if rc != 1 or want not in text:
            problems.append("second varnis-cli ended %d, wanted '%s': %s" % (rc, want, text))
        self.vm.close_input(first)
        if self.vm.wait_job(first, 15) is None:
            problems.append("the first varnis-cli did not end at the end of its input")
        self.case("16550A: RTS on while open; a second varnis-cli on the port is refused", problems)

    def uart_marked_port(self):
        problems = []
        self.vm.uart.start_sim()
        holder = self.vm.start("varnis-line-tool hold-excl " + UART)
        time.sleep(0.5)
        for command in ("varnis-cli make --port %s %s" % (UART, CARD), "varnis-cli ports --port " + UART):
            rc, out, err = self.vm.run(command)
            text = " | ".join(out + err)
            if "in use" not in text:
                problems.append("'%s' (%d) did not say in use: %s" % (command.split(" --")[0], rc, text))
        self.vm.close_input(holder)
        done = self.vm.wait_job(holder, 15)
        if done is None or "mark kept" not in done[3]:
            problems.append("the holder's TIOCEXCL mark was not left as found: %s" % (done[3] if done else "no end"))
        if any("STX received" in l or "frame received" in l for l in self.vm.uart.sim_log()):
            problems.append("a byte reached the device on a port held by another program")
        self.case("16550A: a port held with TIOCEXCL alone is in use (as root) and keeps its mark", problems)

    def uart_engine_tests(self):
        lines = (self.vm.uart, self.vm.pci)

        def read_again():
            for line in lines:
                line.start_peer(lambda b, at: None)

        def host(words):
            if words[0] == "stall":
                for line in lines:
                    line.stop()
            elif words[0] == "byte":
                for line in lines:
                    line.write(bytes([int(words[1], 16)]))
            elif words[0] == "read":
                read_again()
            elif words[0] == "read-after":
                threading.Timer(int(words[1]) / 1000, read_again).start()
            elif words[0] == "pull":
                self.vm.monitor.execute("device_del", id="pciuart")

        rc, out, err = self.vm.run("VARNIS_REALLINE_PORT=%s VARNIS_REALLINE_PULL_PORT=%s VARNIS_REALLINE_CONTROL=/dev/ttyS0 "
                                   "realline_tests" % (UART, PCI_UART), limit=120, on_host=host)
        seen = set()
        failed_here = 0
        failure = []
        for text in out:
            if text.startswith("figure: "):
                self.figure(text[len("figure: "):])
            found = re.match(r"\[\s+(OK|FAILED)\s+\] (\S+)", text)
            if found and "." in found.group(2) and found.group(2) not in seen:
                seen.add(found.group(2))
                ok = found.group(1) == "OK"
                failed_here += 0 if ok else 1
                self.case("engine on a stalled 16550A: " + found.group(2).split(".")[1],
                          [] if ok else failure or ["failed"])
                failure = []
            elif "Failure" in text or text.strip().startswith(("Expected", "Value of", "Which is", "  Actual")):
                failure.append(text.strip())
        if not seen or (rc != 0 and failed_here == 0):
            self.case("engine on a stalled 16550A", ["realline_tests ended %d: %s" % (rc, " | ".join(out + err))])
        read_again()

    # --- the USB adapter --------------------------------------------------

    def wait_for_adapter(self):
        rc, _, _ = self.vm.run("i=0; while [ ! -e %s ] && [ $i -lt 50 ]; do sleep 0.2; i=$((i+1)); done; "
                               "[ -e %s ]" % (USB, USB))
        return rc == 0

    def adapter_listed(self, problems, when):
        _, out, _ = self.vm.run("varnis-cli ports")
        text = "\n".join(out)
        for want in (USB, "ftdi_sio", "0403:6001"):
            if want not in text:
                problems.append("%s, 'ports' does not show %s" % (when, want))
        return text

    def usb_listing(self):
        problems = []
        self.vm.usb.start_sim()
        self.adapter_listed(problems, "plugged in")
        if any("received" in l for l in self.vm.usb.sim_log()):
            problems.append("'ports' sent something to the device")
        self.case("adapter: 'ports' shows its driver and USB identity and sends nothing", problems)

    def pull(self):
        try:
            self.vm.monitor.execute("device_del", id="ftdi")
            return time.monotonic(), ""
        except RuntimeError as error:
            return time.monotonic(), str(error)

    def plug_back(self, problems):
        # QEMU lets go of the adapter's line a moment after device_del has
        # returned; until then the line is "in use".
        for attempt in range(50):
            try:
                self.vm.monitor.execute("device_add", **ADAPTER)
                break
            except RuntimeError as error:
                if "in use" not in str(error) or attempt == 49:
                    problems.append(str(error))
                    return
                time.sleep(0.1)
        if not self.wait_for_adapter():
            problems.append("plugged back, %s did not come back" % USB)
            return
        self.adapter_listed(problems, "plugged back")
        self.vm.usb.start_sim()
        rc, out, err = self.vm.run("varnis-cli make " + CARD)
        if rc != 0 or "Success!" not in out:
            problems.append("plugged back, make ended %d: %s" % (rc, " | ".join(out + err)))

    def usb_pull(self, phase, start_far_end, command, trigger, after_pull=None):
        problems = []
        start_far_end()
        job = self.vm.start(command)
        pulled = trigger(job)
        if pulled is None:
            problems.append("the phase to pull in never came")
            pulled = self.pull()
        t_pull, reply = pulled
        if reply:
            problems.append("device_del: " + reply)
        ticks_at_pull = self.vm.job_ticks(job)
        if after_pull:
            after_pull(job)
        done = self.vm.wait_job(job, REPLY_TIMEOUT_MS / 1000 + 3)
        if done is None:
            problems.append("varnis-cli did not end")
            self.vm.close_input(job)
            done = self.vm.wait_job(job, 30)
        t_end, rc, cpu, out, err = done
        elapsed = t_end - t_pull
        self.figure("pull %s: varnis-cli ended %.0f ms after the pull" % (phase, elapsed * 1000))
        if rc != 1:
            problems.append("exit status %d" % rc)
        if elapsed > 1.0:
            problems.append("ended %.1f s after the pull" % elapsed)
        lost = [l for l in err + out if re.search(r"\blost\b", l, re.I)]
        if len(lost) != 1 or not re.search(r"ttyUSB0|COM1\b", lost[0]):
            problems.append("wanted one line saying the line to %s was lost, got: %s" % (USB, " | ".join(err + out)))
        if any("No result from the device" in l for l in out):
            problems.append("waited out --reply-timeout")
        spent = cpu - ticks_at_pull / 100
        if ticks_at_pull >= 0 and spent > 0.5 * elapsed + 0.1:
            problems.append("%.2f s of CPU in the %.2f s after the pull" % (spent, elapsed))
        self.plug_back(problems)
        self.case("adapter pulled %s" % phase, problems)

    def usb_pulls(self):
        usb = self.vm.usb
        cli = "varnis-cli make --port %s --reply-timeout %d %s" % (USB, REPLY_TIMEOUT_MS, CARD)

        def on_log(text):
            def trigger(_job):
                return self.pull() if usb.wait_sim(lambda l: text in l, 20) else None
            return trigger

        def after_first_card(wait):
            # Once varnis-cli has shown the first card's result (it then
            # waits for Enter before the second).
            def trigger(job):
                for _ in range(200):
                    if self.vm.run("grep -q 'Success!' /tmp/%s.o" % job)[0] == 0:
                        time.sleep(wait)
                        return self.pull()
                    time.sleep(0.1)
                return None
            return trigger

        probe_seen = threading.Event()

        def on_probe(_job):
            return self.pull() if probe_seen.wait(20) else None

        self.usb_pull("while connected and idle", lambda: usb.start_sim(), cli + " --count 2",
                      after_first_card(1.0))
        self.usb_pull("during a probe", lambda: usb.start_peer(lambda b, at: b == STX and probe_seen.set()),
                      cli, on_probe)
        self.usb_pull("after the frame, while the device writes", lambda: usb.start_sim("--write-time", "4000"),
                      cli, on_log("writing the card"))
        self.usb_pull("between the cards of --count", lambda: usb.start_sim(), cli + " --count 2",
                      after_first_card(0.0), after_pull=self.vm.enter)


def main():
    build, work, kernel_root, release = sys.argv[1:5]
    here = os.path.dirname(os.path.abspath(__file__))
    started = time.monotonic()
    bins = os.path.join(build, "bin")
    image = guest.make_initramfs(work, kernel_root, release, os.path.join(here, "guest-init.sh"),
                                 [os.path.join(bins, p) for p in ("varnis-cli", "varnis-line-tool", "realline_tests")])
    vm = guest.Guest(work, os.path.join(kernel_root, "boot", "vmlinuz-" + release), image,
                     os.path.join(bins, "varnis-device-sim"))
    tier = Tier(vm)
    try:
        ready = vm.wait_ready(120)
        if ready is None or ready[1][0] != "READY":
            tier.case("guest boots", ["no ready guest: %s (see %s)" % (ready, os.path.join(work, "console.log"))])
        else:
            print("     guest ready after %.1f s" % (time.monotonic() - started), flush=True)
            for step in (tier.uart_card, tier.uart_held_port, tier.uart_marked_port, tier.uart_engine_tests,
                         tier.usb_listing, tier.usb_pulls):
                try:
                    step()
                except Exception as error:  # one broken step is a failed case, not a lost tier
                    tier.case(step.__name__, ["%s: %s" % (type(error).__name__, error)])
    finally:
        vm.shutdown()
    print("     tier wall time %.1f s" % (time.monotonic() - started))
    print("%d passed, %d failed" % (tier.passed, tier.failed), flush=True)
    return 1 if tier.failed else 0


if __name__ == "__main__":
    sys.exit(main())
