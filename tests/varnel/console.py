#!/usr/bin/env python3
"""Drives `varnel console` through a pseudo-terminal, as a user would: typed
steps, a stored value used by a later line, a refused section line, Ctrl-C
during a long waitfor (the prompt comes back), Ctrl-C at the idle prompt, and
end of input (Ctrl-D) with exit status 0. Every wait is bounded.

Usage: console.py VARNEL PLUGIN edit|plain
With libedit ("edit") the prompt shows before the terminal leaves canonical
mode, and a Ctrl-D typed in between would reach libedit as a NUL byte; so
each key waits until the terminal is in libedit's mode, as a person's would.
"""
import os
import pty
import re
import select
import sys
import termios
import time

LIMIT = 20  # seconds for each expected output


def main():
    host, plugin, editing = sys.argv[1], sys.argv[2], sys.argv[3] == "edit"
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(host, [host, "console", "--no-time", "--plugin", plugin])
    seen = b""

    def expect(pattern):
        nonlocal seen
        deadline = time.monotonic() + LIMIT
        regex = re.compile(pattern.encode())
        while True:
            found = regex.search(seen)
            if found:
                seen = seen[found.end():]
                return
            left = deadline - time.monotonic()
            ready = select.select([fd], [], [], max(0.0, left))[0] if left > 0 else []
            if not ready:
                fail("no output matching %r; the rest was:\n%s" % (pattern, seen.decode(errors="replace")))
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                fail("the console ended before %r; the rest was:\n%s" % (pattern, seen.decode(errors="replace")))
            sys.stdout.write(chunk.decode(errors="replace"))
            seen += chunk

    def fail(message):
        print("\nFAIL: " + message)
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        sys.exit(1)

    def at_prompt():
        expect(r"varnel> ")
        deadline = time.monotonic() + LIMIT
        while editing and termios.tcgetattr(fd)[3] & termios.ICANON:
            if time.monotonic() > deadline:
                fail("the prompt never switched the terminal to line editing")
            time.sleep(0.01)

    def type_line(text):
        at_prompt()
        os.write(fd, text.encode() + b"\r")

    type_line('link new serial "loopback"')
    expect(r"passed\r?\n")
    type_line("link open")
    expect(r"passed\r?\n")
    type_line("link send \"ping\"")
    expect(r"passed\r?\n")
    type_line("got = link scanf 2 \"%s\"")
    expect(r"passed \[String \"ping\"\]")
    type_line('link send "${got[0]}!"')
    expect(r"Tx:ping!")
    type_line("setup")
    expect(r"console:\d+: 'setup' opens or ends a section")
    type_line('link waitfor 30 "\'never\'"')
    expect(r"link waitfor: 2\d s left")  # the status line on a terminal
    os.write(fd, b"\x03")  # Ctrl-C: aborts the waiting step
    expect(r"aborted  NOT AS EXPECTED")
    at_prompt()
    os.write(fd, b"\x03")  # Ctrl-C at the prompt: a new prompt
    type_line("link clearReceiveQueue")
    expect(r"passed\r?\n")
    at_prompt()
    os.write(fd, b"\x04")  # end of input
    deadline = time.monotonic() + LIMIT
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        if time.monotonic() > deadline:
            fail("still running after the end of input")
        if select.select([fd], [], [], 0.1)[0]:
            try:
                sys.stdout.write(os.read(fd, 4096).decode(errors="replace"))
            except OSError:
                pass
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        print("\nFAIL: exit status %d, expected 0" % code)
        sys.exit(1)
    print("\nconsole test passed")


main()
