#!/usr/bin/python3
# The deck through a real window: Xvfb with a window manager (openbox), the program on the xcb
# platform, keys and clicks from xdotool, and the accessibility tree (at-spi) to see what the
# window shows. Every wait ends on an event (a window, an accessibility event, a file event)
# or at its deadline; nothing sleeps.
#
# Usage: real_window_test.py VANTREL CASE   (run under dbus-run-session; exit 77 skips)
# Cases: keyboard, style, no-sound-device, keep-both, escape-resume, accessibility.
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import wave

SKIP = 77


def skip(why):
    print("SKIP: " + why)
    sys.exit(SKIP)


for tool in ("Xvfb", "openbox", "xdotool", "inotifywait", "xprop"):
    if shutil.which(tool) is None:
        skip(tool + " is not installed (scripts/install-deps.sh installs it)")
try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib  # noqa: E402
except (ImportError, ValueError):
    skip("the at-spi Python bindings are not installed (scripts/install-deps.sh installs them)")
if "DBUS_SESSION_BUS_ADDRESS" not in os.environ:
    skip("no D-Bus session: run under dbus-run-session")

VANTREL = os.path.realpath(sys.argv[1])
CASE = sys.argv[2]
work = tempfile.mkdtemp(prefix="vantrel-window-")
started = []  # processes to end, last first


def cleanup():
    for p in reversed(started):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
    shutil.rmtree(work, ignore_errors=True)


class Failed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failed(what)
    print("ok: " + what, flush=True)


def run(*args, timeout=30, **kw):
    return subprocess.run(list(args), timeout=timeout, capture_output=True, text=True, **kw)


# --- The X server, the window manager and the program ------------------------------------------


def start_x():
    # -displayfd: Xvfb picks a free display and writes its number once it accepts clients.
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
                             "-screen", "0", "1024x768x24"], pass_fds=(write_end,),
                            stderr=open(os.path.join(work, "xvfb.log"), "w"))
    started.append(xvfb)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        display = f.readline().strip()
    if not display:
        raise Failed("Xvfb did not start")
    os.environ["DISPLAY"] = ":" + display
    spy = subprocess.Popen(["xprop", "-root", "-spy", "_NET_SUPPORTING_WM_CHECK"], stdout=subprocess.PIPE, text=True)
    wm = subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started.append(wm)
    # The window manager announces itself on the root window; xprop -spy prints each change.
    deadline = threading.Timer(20, spy.kill)
    deadline.start()
    for line in spy.stdout:
        if "window id" in line:
            break
    deadline.cancel()
    spy.kill()
    spy.wait()


def start_program(*args, cwd=None, simulate="--simulate"):
    cwd = cwd or tempfile.mkdtemp(dir=work)
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1", NO_AT_BRIDGE="0")
    env.pop("QT_QPA_PLATFORMTHEME", None)
    log = open(os.path.join(cwd, "out.log"), "w")
    p = subprocess.Popen([VANTREL, simulate, *args], cwd=cwd, env=env, stdout=log, stderr=subprocess.STDOUT)
    started.append(p)
    return p, cwd


def window(pattern, timeout=30):
    r = run("timeout", str(timeout), "xdotool", "search", "--sync", "--onlyvisible", "--name", pattern,
            timeout=timeout + 5)
    ids = r.stdout.split()
    if not ids:
        raise Failed("no window named " + pattern)
    return ids[0]


def keys(win, *names):
    run("xdotool", "windowactivate", "--sync", win)
    for k in names:
        run("xdotool", "key", "--clearmodifiers", k)


# --- The accessibility tree ------------------------------------------------------------------


def app_node(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        a = desktop.get_child_at_index(i)
        if a is not None and a.get_process_id() == pid:
            return a
    return None


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.get_child_count()):
        yield from walk(node.get_child_at_index(i), depth + 1)


def find(pid, predicate):
    app = app_node(pid)
    if app is None:
        return None
    for n in walk(app):
        try:
            if predicate(n):
                return n
        except GLib.Error:
            continue
    return None


def enabled(n):
    return n.get_state_set().contains(Atspi.StateType.ENABLED)


KINDS = ("object:state-changed:enabled", "object:state-changed:sensitive", "window:create", "window:activate")


def wait_for(pid, predicate, what, timeout=30):
    """Waits until predicate(node) holds for a node of the program's tree: looks again at each
    accessibility event the program sends (states, names, windows), until the deadline."""
    found = [find(pid, predicate)]
    if found[0] is not None:
        return found[0]
    loop = GLib.MainLoop()

    def on_event(event):
        # Only what the event is about: a busy window sends many, and the tree is large.
        try:
            if event.source is None or event.source.get_process_id() != pid:
                return
            for n in walk(event.source):
                if predicate(n):
                    found[0] = n
                    loop.quit()
                    return
        except GLib.Error:
            return

    listener = Atspi.EventListener.new(on_event)
    for kind in KINDS:
        listener.register(kind)
    GLib.timeout_add_seconds(timeout, loop.quit)
    # Looked at once more after registering: an event between the first look and now is not lost.
    found[0] = find(pid, predicate)
    if found[0] is None:
        loop.run()
    for kind in KINDS:
        try:
            listener.deregister(kind)
        except GLib.Error:
            pass  # the outcome is known; a registry slow to answer changes nothing
    if found[0] is None:
        raise Failed("timed out waiting for " + what)
    return found[0]


def button(name):
    return lambda n: n.get_role() == Atspi.Role.PUSH_BUTTON and n.get_name() == name


def enabled_button(name):
    return lambda n: button(name)(n) and enabled(n)


def ready(p, timeout=30):
    # Ready: Play can be pressed.
    wait_for(p.pid, enabled_button("Play Tape"), "the deck to be Ready", timeout)


def message_text(pid, contains):
    return lambda n: n.get_role() in (Atspi.Role.LABEL, Atspi.Role.TEXT, Atspi.Role.STATIC) and \
        contains in (n.get_name() or "")


class Watch:
    """File events in a folder and the folders made in it, from the moment it is made on."""

    def __init__(self, folder):
        self.p = subprocess.Popen(["inotifywait", "-m", "-r", "-e", "create,modify,close_write,moved_to",
                                   "--format", "%e %w%f", folder], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True)
        started.append(self.p)
        for line in self.p.stderr:
            if "Watches established" in line:
                break

    def wait(self, name, *wanted, timeout=60):
        """Blocks until one of the events wanted (MODIFY, CLOSE_WRITE, ...) happens to a file
        called `name`."""
        deadline = threading.Timer(timeout, self.p.kill)
        deadline.start()
        try:
            for line in self.p.stdout:
                events, _, path = line.rstrip("\n").partition(" ")
                if os.path.basename(path) == name and set(wanted) & set(events.split(",")):
                    return True
            return False
        finally:
            deadline.cancel()


def wait_exit(p, timeout=30):
    try:
        return p.wait(timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        raise Failed("the program did not end")


def close_deck(p, deck):
    keys(deck, "ctrl+q")
    check(wait_exit(p) == 0, "the deck closes with Ctrl+Q, exit status 0")


# --- Cases ---------------------------------------------------------------------------------------


def case_keyboard():
    p, _ = start_program("--audio-device=null")
    deck = window("^Vantrel$")
    ready(p)
    keys(deck, "space")
    wait_for(p.pid, enabled_button("Stop Tape"), "Space to start playing")
    check(find(p.pid, enabled_button("Play Tape")) is None, "Space plays: Stop on, Play off")
    keys(deck, "space")
    ready(p)
    check(find(p.pid, enabled_button("Stop Tape")) is None, "Space again stops: the deck is Ready")
    close_deck(p, deck)


def case_style():
    p, _ = start_program("-style", "fusion")
    deck = window("^Vantrel$")
    ready(p)
    check(p.poll() is None, "vantrel -style fusion --simulate starts and comes Ready")
    close_deck(p, deck)


def case_no_sound_device():
    p, _ = start_program("--audio-device=nosuch")
    deck = window("^Vantrel$")
    ready(p)
    keys(deck, "space")
    wait_for(p.pid, message_text(p.pid, "aplay -L"), "the message with the hint")
    check(True, "a sound device that cannot be opened is told, with --audio-device and aplay -L")
    run("xdotool", "key", "Return")  # the message has the focus
    ready(p)
    check(find(p.pid, enabled_button("Stop Tape")) is None, "the deck is back to Ready, not stuck playing")
    close_deck(p, deck)


def wait_audio(watch, folder):
    """Blocks until the capture being written (Audio48.wav.part, put in place under its name
    when finished) holds a play buffer of audio after its header: a slow build may take a
    while between the header and the first audio."""
    part = os.path.join(folder, "Audio48.wav.part")
    while not (os.path.exists(part) and os.path.getsize(part) >= 44 + 172800):
        if not watch.wait("Audio48.wav.part", "MODIFY"):
            raise Failed("Play and Save writes no audio to Audio48.wav")
    check(True, "Play and Save writes audio to Audio48.wav")


def capture_once(p, deck, folder):
    """Play with Play and Save on until the file has audio, then Stop; returns when it is shut."""
    watch = Watch(folder)
    keys(deck, "space")
    wait_audio(watch, folder)
    wait_for(p.pid, enabled_button("Stop Tape"), "the capture to run")
    keys(deck, "space")
    # Finished: put in place under its name.
    check(watch.wait("Audio48.wav", "MOVED_TO"), "Stop finishes Audio48.wav")
    ready(p)


def wav_sizes_fixed(path):
    with open(path, "rb") as f:
        head = f.read(44)
    size = os.path.getsize(path)
    riff = int.from_bytes(head[4:8], "little")
    data = int.from_bytes(head[40:44], "little")
    return size > 44 and riff == size - 8 and data == size - 44


def case_keep_both():
    p, folder = start_program("--audio-device=null")
    deck = window("^Vantrel$")
    ready(p)
    keys(deck, "alt+o", "s")  # Options, Play and Save
    capture_once(p, deck, folder)
    first = os.path.join(folder, "Audio48.wav")
    with open(first, "rb") as f:
        before = f.read()
    check(wav_sizes_fixed(first), "the first capture is a finished WAV")
    watch = Watch(folder)
    keys(deck, "space")
    wait_for(p.pid, button("Keep Both"), "the question before replacing")
    run("xdotool", "key", "Return")  # Return is Keep both; the question has the focus
    wait_audio(watch, folder)
    wait_for(p.pid, enabled_button("Stop Tape"), "the second capture to run")
    keys(deck, "space")
    check(watch.wait("Audio48.wav", "MOVED_TO"), "Stop finishes the new Audio48.wav")
    ready(p)
    kept = [n for n in os.listdir(folder) if n.startswith("Audio48-") and n.endswith(".wav")]
    check(len(kept) == 1, "the old capture is kept as " + (kept[0] if kept else "nothing"))
    with open(os.path.join(folder, kept[0]), "rb") as f:
        check(f.read() == before, "the kept file is the first capture, byte for byte")
    check(wav_sizes_fixed(first), "the new Audio48.wav is a finished WAV")
    close_deck(p, deck)


def case_escape_resume():
    p, folder = start_program("--audio-device=null")
    deck = window("^Vantrel$")
    ready(p)
    package = os.path.join(folder, "package")
    keys(deck, "alt+f", "a")
    chooser = window("^Archive Tape: ")
    # The chooser's file name field has the focus: a new folder's path, then Return.
    watch = Watch(folder)
    run("xdotool", "windowactivate", "--sync", chooser)
    run("xdotool", "type", "--delay", "0", package)
    run("xdotool", "key", "Return")
    check(watch.wait("tape.dat", "MODIFY"), "the archive writes data/tape.dat")
    progress = window("^Archive Tape$")
    # The run stopped shows Resume for the incomplete package. On a loaded machine the window
    # may not have the keyboard yet when the key is sent: a key that went nowhere is sent
    # again (a run that went on to the end would show no Resume, and fail here).
    for attempt in range(3):
        keys(progress, "Escape")
        try:
            wait_for(p.pid, enabled_button("Resume"), "the stopped run's Resume", timeout=20)
            break
        except Failed:
            if attempt == 2:
                raise
    # The deck comes back once the stopped run has unwound.
    ready(p, timeout=120)
    check(p.poll() is None, "Escape mid-archive stops the run and the program goes on")
    keys(progress, "Escape")  # the window shows the result until it is closed
    close_deck(p, deck)
    with open(os.path.join(package, "bag-info.txt")) as f:
        check("Vantrel-Status: incomplete" in f.read(), "Escape left an incomplete package")
    # The same demo tape, read as fast as the virtual drive can.
    bus = os.path.join(folder, "fast.json")
    with open(bus, "w") as f:
        f.write('{"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "demo"}]}]}')
    r = run(VANTREL, "--simulate=" + bus, "--archive=" + package, "--resume", timeout=600, cwd=folder,
            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    bag_info = os.path.join(package, "bag-info.txt")
    check(r.returncode == 0, "--resume completes the package (exit status %d)" % r.returncode)
    with open(bag_info) as f:
        check("Vantrel-Status: complete" in f.read(), "the resumed package says it is complete")


def click(node):
    """A left click at the middle of a control, where the accessibility tree says it is."""
    r = node.get_extents(Atspi.CoordType.SCREEN)
    run("xdotool", "mousemove", "--sync", str(r.x + r.width // 2), str(r.y + r.height // 2), "click", "1")


def case_record():
    folder = tempfile.mkdtemp(dir=work)
    # Three seconds of a 48 kHz stereo source: 100 frames, the last one whole.
    source = os.path.join(folder, "song.wav")
    with wave.open(source, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(48000)
        w.writeframes(b"".join((i * 37 % 20000 - 10000).to_bytes(2, "little", signed=True) * 2
                               for i in range(3 * 48000)))
    bus = os.path.join(folder, "blank.json")
    with open(bus, "w") as f:
        f.write('{"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "blank", '
                '"length_minutes": 1, "save_tape": "tape.dat"}]}]}')
    p, _ = start_program("--audio-device=null", cwd=folder, simulate="--simulate=" + bus)
    deck = window("^Vantrel$")
    record = wait_for(p.pid, enabled_button("Record to Tape"), "Record to be enabled on a blank tape")
    run("xdotool", "windowactivate", "--sync", deck)
    click(record)
    chooser = window("^Record to Tape$")
    # The chooser's file name field has the focus.
    run("xdotool", "windowactivate", "--sync", chooser)
    run("xdotool", "type", "--delay", "0", source)
    run("xdotool", "key", "Return")
    wait_for(p.pid, message_text(p.pid, "Record 1 program onto the tape"), "the confirmation")
    check(find(p.pid, message_text(p.pid, "The tape is blank.")) is not None, "the confirmation says the tape is blank")
    click(wait_for(p.pid, button("Record"), "the confirmation's Record"))
    # Recording and reading back take a while on a loaded machine; an event missed while the
    # box appears is made up for by looking again.
    deadline = time.monotonic() + 180
    while True:
        try:
            wait_for(p.pid, message_text(p.pid, "Verified: all 500 frames"), "the result after the read-back",
                     timeout=15)
            break
        except Failed:
            if time.monotonic() > deadline:
                raise
    check(True, "the box tells that all 500 frames (lead-in, the program, lead-out) read back as written")
    click(wait_for(p.pid, button("OK"), "the result's OK"))
    ready(p)
    close_deck(p, deck)
    saved = os.path.join(folder, "tape.dat")
    check(os.path.getsize(saved) == 500 * 5822, "the cassette holds the 500 frames written")


TRANSPORT = ["Beginning of Tape", "Previous Program", "Next Program", "End of Tape", "Eject Tape", "Play Tape",
             "Cue Tape", "Stop Tape", "Record to Tape"]


def case_accessibility():
    p, _ = start_program("--audio-device=null")
    deck = window("^Vantrel$")
    ready(p)
    names = {n.get_name() for n in walk(app_node(p.pid)) if n.get_role() == Atspi.Role.PUSH_BUTTON}
    for name in TRANSPORT:
        check(name in names, "the accessibility tree lists the button " + name)
    close_deck(p, deck)


CASES = {
    "keyboard": case_keyboard,
    "style": case_style,
    "no-sound-device": case_no_sound_device,
    "keep-both": case_keep_both,
    "escape-resume": case_escape_resume,
    "accessibility": case_accessibility,
    "record": case_record,
}

if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    status = 0
    try:
        Atspi.init()
        start_x()
        CASES[CASE]()
    except Failed as e:
        print("FAIL: %s" % e)
        for root, _, files in os.walk(work):
            for f in files:
                if f == "out.log":
                    print("--- " + os.path.join(root, f))
                    print(open(os.path.join(root, f)).read()[-3000:])
        status = 1
    finally:
        cleanup()
    sys.exit(status)
