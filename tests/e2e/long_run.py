"""One long run of MIREVO.exe under the service control manager of a prefix
of its own, started when the test session starts and looked at when the soak
test comes: the minutes it needs pass while the other tests run.

The prefix is its own because the manager knows one service named MIREVO,
and the other tests register, start and delete theirs meanwhile."""
import os
import threading
import time

import lcd
import wine
from programs import Installed, Service


def cpu_seconds(pid):
    """User and system time of a Linux process, from /proc: Wine reports no
    processor time for another process."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class LongRun(threading.Thread):
    """Boots the prefix, starts the service and samples its handles and
    private bytes every 10 s until finish() is called."""

    def __init__(self, arch):
        super().__init__(daemon=True)
        self.prefix, self.samples, self.error = wine.Prefix(arch, hour=5), [], None
        self.done, self.started = threading.Event(), threading.Event()

    def run(self):
        try:
            self.prefix.boot()
            self.files = Installed(self.prefix, "soaklong")
            self.service = Service(self.files)
            began, self.local_start = time.monotonic(), self.prefix.now()
            self.pid = self.service.start()
            lcd.first_screen(self.files, 60)
            self.first_ms, self.began = (time.monotonic() - began) * 1000, time.monotonic()
            self.cpu_before = cpu_seconds(self.pid)
            self.samples.append(self.files.sample())
            self.started.set()
            # Every 10 s from the first screen on, however long a sample took.
            while not self.done.wait(10 - (time.monotonic() - self.began) % 10):
                self.samples.append(self.files.sample())
        except Exception as error:   # handed to the test that looks at the run
            self.error = error
        finally:
            self.started.set()

    def finish(self):
        """Ends the sampling and gives the seconds since the first screen."""
        self.done.set()
        self.join(30)
        if self.error:
            raise self.error
        return time.monotonic() - self.began

    def end(self):
        """Removes the service and the prefix, whatever happened."""
        self.done.set()
        self.join(30)
        try:
            if hasattr(self, "service"):
                self.service.remove()
        finally:
            self.prefix.end()
