#!/usr/bin/python3
"""Drives the windows of a program over the accessibility bus (AT-SPI), as a screen-reader user would.

Runs under Debian's /usr/bin/python3 (python3-pyatspi is a Debian package). Every command finds its window by
title and its control by accessible name (a control's caption, or the label in front of it) and waits for them
until the time limit:

  a11y_driver.py bus FOLDER
      A private session bus at unix:path=FOLDER/bus that starts the accessibility bus and its registry when asked,
      with their sockets under FOLDER/runtime. Runs until SIGTERM or SIGINT, then ends the buses and every process
      they started (it adopts them as a subreaper), so nothing outlives a test.
  a11y_driver.py wait-bus                       until the accessibility bus and its registry answer
  a11y_driver.py wait-window TITLE              until a window with that title is shown
  a11y_driver.py wait-gone TITLE                until no window with that title is shown
  a11y_driver.py press TITLE NAME               presses a button (it must be shown and enabled)
  a11y_driver.py wait-enabled TITLE NAME        until the shown control is enabled
  a11y_driver.py wait-disabled TITLE NAME       until the shown control is disabled
  a11y_driver.py focus TITLE NAME               gives a control the keyboard focus within its window
  a11y_driver.py set-text TITLE NAME TEXT       replaces the text of an editable field
  a11y_driver.py get-text TITLE NAME            prints the text of a field or label
  a11y_driver.py wait-text TITLE NAME TEXT      until the field or label holds exactly that text
  a11y_driver.py items TITLE [LIST]             prints the rows of the shown list (of that name), one a line
  a11y_driver.py wait-item TITLE ROW [LIST]     until the shown list (of that name) has a row with that text
  a11y_driver.py select TITLE ROW [LIST]        selects the row with that text in the shown list (of that name);
                                                Qt's lists move their selection then, not their current row
  a11y_driver.py extents TITLE NAME             prints "x y width height" of the shown control on the screen (a
                                                list rather than a check box of the same name), for a person's
                                                pointer to click it
  a11y_driver.py dump [TITLE]                   prints the tree of every window (or of one), for looking around

Options: --timeout SECONDS (default 10). The session bus comes from DBUS_SESSION_BUS_ADDRESS.
Exit code 0 when done, 1 with one line "a11y_driver: error: ..." on stderr (and what was there instead) when not,
2 for a wrong command line.
"""

import ctypes
import os
import signal
import subprocess
import sys
import time

POLL = 0.05  # seconds between two looks while waiting for a window or control


class Failure(Exception):
    pass


def fail(message, seen=None):
    raise Failure(message + ("" if seen is None else "\n" + seen))


# --- The buses --------------------------------------------------------------------------------------------------


def run_bus(folder):
    folder = os.path.abspath(folder)
    runtime = os.path.join(folder, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    address = "unix:path=" + os.path.join(folder, "bus")
    # Orphans of the buses (the launcher, the accessibility bus, the registry) come to this process, which reaps them.
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS")}
    # No display: the launcher would otherwise publish its bus on the root window, for every later client of it.
    env["XDG_RUNTIME_DIR"] = runtime
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    stopping = []

    def stop(signum, frame):
        stopping.append(signum)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address],
                              env=env, stdin=subprocess.DEVNULL)
    # Blocked only now, so that the daemon does not inherit the mask; one that came before went to the handler.
    watched = {signal.SIGTERM, signal.SIGINT, signal.SIGCHLD}
    signal.pthread_sigmask(signal.SIG_BLOCK, watched)
    while not stopping and daemon.poll() is None:
        got = signal.sigtimedwait(watched, 1.0)
        if got is not None and got.si_signo != signal.SIGCHLD:
            stopping.append(got.si_signo)
    if daemon.poll() is None:
        daemon.terminate()
    # The launcher ends with the session bus and takes the accessibility bus with it; the registry ends with that.
    deadline = time.monotonic() + 5
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            break
        if pid == 0:
            if time.monotonic() > deadline:
                for child in children():
                    os.kill(child, signal.SIGKILL)
            time.sleep(POLL)
    return 0


def children():
    pids = []
    for task in os.listdir("/proc/self/task"):
        with open("/proc/self/task/%s/children" % task) as f:
            pids += [int(p) for p in f.read().split()]
    return pids


def wait_bus(deadline):
    from gi.repository import Gio, GLib

    address = os.environ.get("DBUS_SESSION_BUS_ADDRESS", "")
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    last = "no session bus address"
    while True:
        try:
            session = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
            # Asking for the address starts the launcher.
            reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                      GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 10000, None)
            a11y = Gio.DBusConnection.new_for_address_sync(reply.unpack()[0], flags, None, None)
            a11y.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "StartServiceByName", GLib.Variant("(su)", ("org.a11y.atspi.Registry", 0)),
                           GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, 5000, None)
            return
        except GLib.Error as e:
            last = e.message
        if time.monotonic() > deadline:
            fail("the accessibility bus did not answer: " + last)
        time.sleep(POLL)


# --- Finding windows and controls ---------------------------------------------------------------------------------


def atspi():
    import pyatspi
    from gi.repository import Atspi

    # A program busy for a moment (starting, opening a dialog) answers late; the waits below retry anyway.
    Atspi.set_timeout(5000, 15000)
    return pyatspi


def showing(pyatspi, acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def windows(pyatspi):
    found = []
    for app in pyatspi.Registry.getDesktop(0):
        if app is None:
            continue
        for win in app:
            if win is not None:
                found.append(win)
    return found


def find_window(pyatspi, title):
    for win in windows(pyatspi):
        if win.name == title and showing(pyatspi, win):
            return win
    return None


def descendants(acc):
    for child in acc:
        if child is None:
            continue
        yield child
        yield from descendants(child)


def interfaces(pyatspi, acc):
    return pyatspi.listInterfaces(acc)


def describe(pyatspi, acc):
    return "%s %r" % (acc.getRoleName(), acc.name)


def tree(pyatspi, acc, depth=0):
    states = acc.getState()
    hidden = "" if states.contains(pyatspi.STATE_SHOWING) else " (hidden)"
    disabled = "" if states.contains(pyatspi.STATE_SENSITIVE) else " (disabled)"
    lines = ["  " * depth + describe(pyatspi, acc) + hidden + disabled]
    for child in acc:
        if child is not None:
            lines.append(tree(pyatspi, child, depth + 1))
    return "\n".join(lines)


def what_is_there(pyatspi, title=None):
    try:
        shown = [w for w in windows(pyatspi) if showing(pyatspi, w)]
        if title is not None:
            win = find_window(pyatspi, title)
            if win is not None:
                return "window %r holds:\n%s" % (title, tree(pyatspi, win))
        return "windows shown: " + (", ".join(repr(w.name) for w in shown) or "none")
    except Exception as e:  # the program may be gone
        return "(cannot look: %s)" % e


def retry(deadline, attempt):
    """Calls attempt() until it returns something other than None; the last problem it raised goes into the error."""
    last = None
    while True:
        try:
            result = attempt()
            if result is not None:
                return result
        except Failure as e:
            last = str(e)
        except Exception as e:  # the bus or the program is busy or changing: look again
            last = "%s: %s" % (type(e).__name__, e)
        if time.monotonic() > deadline:
            return Failure(last) if last else None
        time.sleep(POLL)


def named(pyatspi, title, name, what):
    """One look: the shown controls of that name in the window (a field and its label may share one)."""
    win = find_window(pyatspi, title)
    if win is None:
        raise Failure("no window %r" % title)
    matches = [c for c in descendants(win) if c.name == name and showing(pyatspi, c)]
    if not matches:
        raise Failure("no %s %r in window %r" % (what, name, title))
    return matches


def control(pyatspi, title, name, wanted, deadline, what):
    """Waits for the shown control of that name in the window that offers the interface `wanted`."""

    def attempt():
        matches = named(pyatspi, title, name, what)
        for c in matches:
            if wanted in interfaces(pyatspi, c):
                return c
        raise Failure("%s cannot be used as %s" % (", ".join(describe(pyatspi, c) for c in matches), what))

    found = retry(deadline, attempt)
    if isinstance(found, Failure) or found is None:
        fail(str(found) if found else "no %s %r" % (what, name), what_is_there(pyatspi, title))
    return found


def shown_list(pyatspi, title, name, deadline):
    def attempt():
        win = find_window(pyatspi, title)
        if win is None:
            raise Failure("no window %r" % title)
        lists = [c for c in descendants(win) if c.getRoleName() in ("list", "list box", "table", "tree table")
                 and showing(pyatspi, c) and (name is None or c.name == name)]
        if not lists:
            raise Failure("no shown list%s in window %r" % ("" if name is None else " %r" % name, title))
        if len(lists) > 1:
            raise Failure("%d lists shown in window %r: name one of %s" %
                          (len(lists), title, ", ".join(repr(l.name) for l in lists)))
        return lists[0]

    found = retry(deadline, attempt)
    if isinstance(found, Failure) or found is None:
        fail(str(found), what_is_there(pyatspi, title))
    return found


def rows(lst):
    return [c for c in lst if c is not None]


# --- Commands ---------------------------------------------------------------------------------------------------


def act(pyatspi, title, name, actions, deadline, what):
    """Waits until the shown control of that name is enabled, then does the first of `actions` it offers."""

    def attempt():
        matches = [c for c in named(pyatspi, title, name, what) if "Action" in interfaces(pyatspi, c)]
        offered = []
        for c in matches:
            action = c.queryAction()
            names = [action.getName(i) for i in range(action.nActions)]
            offered += names
            for wanted in actions:
                if wanted in names and c.getState().contains(pyatspi.STATE_SENSITIVE):
                    if not action.doAction(names.index(wanted)):
                        raise Failure("%s refused %r" % (describe(pyatspi, c), wanted))
                    return True
        # A disabled Qt control offers no actions at all.
        disabled = [c for c in matches if not c.getState().contains(pyatspi.STATE_SENSITIVE)]
        if disabled:
            raise Failure("%s is disabled" % describe(pyatspi, disabled[0]))
        raise Failure("%r in window %r offers none of %s, only %s" % (name, title, list(actions), offered))

    done = retry(deadline, attempt)
    if done is not True:
        fail(str(done), what_is_there(pyatspi, title))


def wait_enabled(pyatspi, title, name, enabled, deadline):
    def attempt():
        matches = named(pyatspi, title, name, "control")
        if any(c.getState().contains(pyatspi.STATE_SENSITIVE) == enabled for c in matches):
            return True
        raise Failure("%s is %s" % (describe(pyatspi, matches[0]), "disabled" if enabled else "enabled"))

    done = retry(deadline, attempt)
    if done is not True:
        fail(str(done), what_is_there(pyatspi, title))


def set_text(pyatspi, title, name, text, deadline):
    field = control(pyatspi, title, name, "EditableText", deadline, "field")
    if not field.queryEditableText().setTextContents(text):
        fail("%s refused the text %r" % (describe(pyatspi, field), text))
    now = field.queryText().getText(0, -1)
    if now != text:
        fail("%s holds %r after setting %r" % (describe(pyatspi, field), now, text))


def get_text(pyatspi, title, name, deadline, wanted=None):
    def attempt():
        win = find_window(pyatspi, title)
        if win is None:
            raise Failure("no window %r" % title)
        matches = [c for c in descendants(win) if c.name == name and showing(pyatspi, c)]
        # A field and the label in front of it share the name: the field it is.
        matches.sort(key=lambda c: "EditableText" not in interfaces(pyatspi, c))
        for c in matches:
            if "Text" in interfaces(pyatspi, c):
                text = c.queryText().getText(0, -1)
                if wanted is not None and text != wanted:
                    raise Failure("%s holds %r, not %r" % (describe(pyatspi, c), text, wanted))
                return text
        if matches:
            raise Failure("%s has no text" % describe(pyatspi, matches[0]))
        raise Failure("no field %r in window %r" % (name, title))

    text = retry(deadline, attempt)
    if isinstance(text, Failure) or text is None:
        fail(str(text), what_is_there(pyatspi, title))
    return text


def select(pyatspi, title, row, name, deadline):
    lst = shown_list(pyatspi, title, name, deadline)
    texts = [r.name for r in rows(lst)]
    if row not in texts:
        fail("no row %r in the list of window %r; its rows: %s" % (row, title, texts))
    index = texts.index(row)
    if "Selection" in interfaces(pyatspi, lst):
        lst.querySelection().selectChild(index)
        return
    item = rows(lst)[index]
    action = item.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if item.getState().contains(pyatspi.STATE_SELECTED):
        return
    if "Toggle" not in names:
        fail("row %r can be neither selected nor toggled (actions %s)" % (row, names))
    action.doAction(names.index("Toggle"))


def wait_item(pyatspi, title, row, name, deadline):
    def attempt():
        texts = [r.name for r in rows(shown_list(pyatspi, title, name, deadline))]
        if row not in texts:
            raise Failure("no row %r in the list of window %r; its rows: %s" % (row, title, texts))
        return True

    done = retry(deadline, attempt)
    if done is not True:
        fail(str(done))


def wait_window(pyatspi, title, deadline, gone):
    def attempt():
        win = find_window(pyatspi, title)
        return True if (win is None) == gone else None

    if retry(deadline, attempt) is not True:
        fail("window %r %s" % (title, "is still shown" if gone else "was not shown"), what_is_there(pyatspi))


def main(argv):
    timeout = 10.0
    args = []
    i = 1
    while i < len(argv):
        if argv[i] == "--timeout" and i + 1 < len(argv):
            timeout = float(argv[i + 1])
            i += 2
        else:
            args.append(argv[i])
            i += 1
    usage = {"bus": (1, 1), "wait-bus": (0, 0), "wait-window": (1, 1), "wait-gone": (1, 1), "press": (2, 2), "focus": (2, 2), "wait-enabled": (2, 2), "wait-disabled": (2, 2),
             "set-text": (3, 3), "get-text": (2, 2), "wait-text": (3, 3), "items": (1, 2), "wait-item": (2, 3), "select": (2, 3), "extents": (2, 2), "dump": (0, 1)}
    if not args or args[0] not in usage or not usage[args[0]][0] <= len(args) - 1 <= usage[args[0]][1]:
        sys.stderr.write(__doc__)
        return 2
    command, rest = args[0], args[1:]
    if command == "bus":
        return run_bus(rest[0])
    deadline = time.monotonic() + timeout
    try:
        if command == "wait-bus":
            wait_bus(deadline)
            return 0
        pyatspi = atspi()
        if command == "wait-window":
            wait_window(pyatspi, rest[0], deadline, gone=False)
        elif command == "wait-gone":
            wait_window(pyatspi, rest[0], deadline, gone=True)
        elif command == "press":
            act(pyatspi, rest[0], rest[1], ("Press", "press", "click"), deadline, "button")
        elif command in ("wait-enabled", "wait-disabled"):
            wait_enabled(pyatspi, rest[0], rest[1], command == "wait-enabled", deadline)
        elif command == "focus":
            act(pyatspi, rest[0], rest[1], ("SetFocus",), deadline, "control")
        elif command == "set-text":
            set_text(pyatspi, rest[0], rest[1], rest[2], deadline)
        elif command == "get-text":
            print(get_text(pyatspi, rest[0], rest[1], deadline))
        elif command == "items":
            for r in rows(shown_list(pyatspi, rest[0], rest[1] if len(rest) > 1 else None, deadline)):
                print(r.name)
        elif command == "wait-text":
            get_text(pyatspi, rest[0], rest[1], deadline, wanted=rest[2])
        elif command == "wait-item":
            wait_item(pyatspi, rest[0], rest[1], rest[2] if len(rest) > 2 else None, deadline)
        elif command == "select":
            select(pyatspi, rest[0], rest[1], rest[2] if len(rest) > 2 else None, deadline)
        elif command == "extents":
            # A list and the check box in front of it may share a name: the list it is.
            def attempt():
                matches = named(pyatspi, rest[0], rest[1], "control")
                lists = [c for c in matches if c.getRoleName() == "combo box"]
                return (lists or matches)[0]
            c = retry(deadline, attempt)
            if c is None or isinstance(c, Failure):
                fail(str(c) if c else "no control %r" % rest[1], what_is_there(pyatspi, rest[0]))
            e = c.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            print("%d %d %d %d" % (e.x, e.y, e.width, e.height))
        elif command == "dump":
            if rest:
                win = retry(deadline, lambda: find_window(pyatspi, rest[0]))
                if win is None or isinstance(win, Failure):
                    fail("window %r was not shown" % rest[0], what_is_there(pyatspi))
                print(tree(pyatspi, win))
            else:
                for win in windows(pyatspi):
                    print(tree(pyatspi, win))
        return 0
    except Failure as e:
        sys.stderr.write("a11y_driver: error: %s: %s\n" % (command, e))
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
