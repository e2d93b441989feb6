#!/usr/bin/python3
"""The road of one video, as a user walks it: Kestrelle is started in a private home under Xvfb, a photo
folder is chosen in the folder tree, three thumbnails are dragged onto the storyboard, Start makes the
video, the completion question is answered, and ffprobe checks the AVI. The slideshow is then saved as
a project file (Ctrl+S and the save dialog), the program quits, starts again with the project on its
command line, and makes the same video again: the same frame count and the same first frame.

Widgets are found through the accessibility tree (AT-SPI, the names a screen reader hears) and driven
with real pointer and key events from xdotool. Every step waits on a window, a widget or a file, with a
deadline; a failed step saves a screenshot next to the log.

Run by road_of_one_video.sh inside xvfb-run and dbus-run-session:
    road_of_one_video.py BIN_DIR WORK_DIR
"""

import os
import subprocess
import sys
import time

import pyatspi

BIN_DIR, WORK_DIR = sys.argv[1], sys.argv[2]
HOME = os.path.join(WORK_DIR, "home")
PHOTO_FOLDER = os.path.join(HOME, "Pictures", "Trip")
TARGET = os.path.join(HOME, "Videos")
OUTPUT = os.path.join(TARGET, "Untitled.avi")
# Three photos of 1.0 s with 1.0 s transitions at 29.97 frames per second: a budget of
# trunc(6.0 x 30) = 180 frames; each slide counts 30 still and 30 effect frames, the last effect frame
# reaches the budget and is dropped, and the black closing frame makes the file 180 frames long.
EXPECTED_FRAMES = 180
PROJECT = os.path.join(HOME, "Trip.kestrelle")
FIRST_OUTPUT = os.path.join(TARGET, "first.avi")


class StepFailed(Exception):
    pass


def log(text):
    print(time.strftime("%H:%M:%S"), text, flush=True)


def screenshot(name):
    path = os.path.join(WORK_DIR, name + ".png")
    subprocess.run(["import", "-window", "root", path], check=False)
    log("screenshot: " + path)


def wait_for(what, probe, timeout=30.0, interval=0.2):
    """Calls probe() until it returns something true; fails the step after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except Exception:  # the accessibility tree changes under our feet while windows open and close
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise StepFailed("timed out waiting for " + what)
        time.sleep(interval)


def walk(node, depth=0, limit=12):
    if node is None or depth > limit:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1, limit)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name.lower() == "kestrelle":
            return app
    return None


def find(role, name=None, root=None, showing=True):
    root = root or application()
    for node in walk(root):
        if node.getRoleName() != role:
            continue
        if name is not None and node.name != name:
            continue
        if showing and not node.getState().contains(pyatspi.STATE_SHOWING):
            continue
        return node
    return None


def find_all(role, root):
    return [n for n in walk(root) if n.getRoleName() == role]


def extents(node):
    e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def centre(node):
    x, y, w, h = extents(node)
    return x + w // 2, y + h // 2


def xdotool(*args):
    subprocess.run(["xdotool", *[str(a) for a in args]], check=True)


def click(node, *modifiers):
    x, y = centre(node)
    xdotool("mousemove", x, y)
    time.sleep(0.05)
    for key in modifiers:
        xdotool("keydown", key)
    xdotool("click", 1)
    for key in reversed(modifiers):
        xdotool("keyup", key)


def drag(start, end, steps=20):
    """A pointer drag with intermediate moves, as a hand makes it (Qt starts a drag after a distance)."""
    (x0, y0), (x1, y1) = start, end
    xdotool("mousemove", x0, y0)
    time.sleep(0.1)
    xdotool("mousedown", 1)
    for i in range(1, steps + 1):
        xdotool("mousemove", x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps)
        time.sleep(0.03)
    time.sleep(0.3)
    xdotool("mouseup", 1)


def frame_count(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                          "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path],
                         capture_output=True, text=True, check=False)
    if out.stderr.strip():
        raise StepFailed("ffprobe reported: " + out.stderr.strip())
    return int(out.stdout.strip())


def first_frame_checksum(path):
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-frames:v", "1", "-f", "framemd5", "-"],
                         capture_output=True, text=True, check=False)
    lines = [line for line in out.stdout.splitlines() if line and not line.startswith("#")]
    if out.returncode != 0 or not lines:
        raise StepFailed("no first frame in %s: %s" % (path, out.stderr.strip()))
    return lines[0].split(",")[-1].strip()


def main_window():
    """The main window, titled "NAME - Kestrelle"."""
    for role in ("dialog", "frame"):
        for node in walk(application(), limit=2):
            if node.getRoleName() == role and (node.name or "").endswith("Kestrelle") and \
                    node.getState().contains(pyatspi.STATE_SHOWING):
                return node
    return None


def start_program(*arguments):
    # The windows must appear on the Xvfb display, whatever platform the environment names.
    return subprocess.Popen([os.path.join(BIN_DIR, "kestrelle"), *arguments],
                            env=dict(os.environ, QT_QPA_PLATFORM="xcb"),
                            stdout=open(os.path.join(WORK_DIR, "kestrelle.out"), "a"),
                            stderr=subprocess.STDOUT)


def make_video(window):
    """Start, the completion question answered No; returns the checked frame count."""
    start = wait_for("the Start button", lambda: find("push button", "Start", window))
    click(start)
    log("Start pressed")
    no = wait_for("the completion question", completion_no_button, timeout=240.0, interval=0.5)
    click(no)
    log("completion question answered")
    wait_for("the output file", lambda: os.path.getsize(OUTPUT) > 0 if os.path.exists(OUTPUT) else None)
    frames = frame_count(OUTPUT)
    if frames != EXPECTED_FRAMES:
        raise StepFailed("the video has %d frames, the schedule says %d" % (frames, EXPECTED_FRAMES))
    errors = decode_errors(OUTPUT)
    if errors:
        raise StepFailed("decoding reported: " + errors)
    log("video checked: %d frames, decodes cleanly" % frames)
    return frames


def decode_errors(path):
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"],
                         capture_output=True, text=True, check=False)
    return out.stderr.strip()


def main():
    step = "start"
    process = start_program()
    try:
        step = "main window"
        window = wait_for("the main window", main_window)
        log("main window shown: " + window.name)

        step = "folder tree"
        tree = wait_for("the folder tree", lambda: find("tree"))
        pictures = wait_for("the Pictures folder in the tree", lambda: find("table cell", "Pictures", tree))
        click(pictures)
        xdotool("key", "Right")  # expand
        trip = wait_for("the Trip folder in the tree", lambda: find("table cell", "Trip", tree))
        wait_for("the tree to settle", lambda: settled(lambda: extents(trip)))
        click(trip)
        log("photo folder selected")

        step = "thumbnails"
        browser = wait_for("the photo list", lambda: find("list"))
        items = wait_for("three photos in the list",
                         lambda: (lambda found: found if len(found) >= 3 else None)(find_all("list item", browser)))
        # Thumbnails arrive after the names: wait until the items stop moving before pointing at them.
        wait_for("the photo list to settle", lambda: settled(lambda: [extents(i) for i in items[:3]]))
        click(items[0])
        click(items[2], "shift")
        log("three photos selected")

        step = "drag onto the storyboard"
        storyboard = wait_for("the storyboard", lambda: find_storyboard(window))
        sx, sy, sw, sh = extents(storyboard)
        drag(centre(items[0]), (sx + 77, sy + 40))
        log("photos dropped")

        step = "first video"
        frames = make_video(window)
        checksum = first_frame_checksum(OUTPUT)
        os.rename(OUTPUT, FIRST_OUTPUT)

        step = "save the project"
        wait_for("the main window to be active", lambda: main_window().getState().contains(pyatspi.STATE_ACTIVE))
        xdotool("key", "ctrl+s")  # untitled: Save asks for a name
        wait_for("the save dialog", lambda: find("dialog", "Save Slideshow As") or find("file chooser"))
        time.sleep(0.5)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "20", PROJECT)
        xdotool("key", "Return")
        wait_for("the project file", lambda: os.path.exists(PROJECT) and os.path.getsize(PROJECT) > 0)
        wait_for("the title to name the project", lambda: main_window().name == "Trip - Kestrelle")
        log("project saved: " + PROJECT)

        step = "quit"
        xdotool("key", "Escape")  # saved: no question
        wait_for("the program to end", lambda: process.poll() is not None, timeout=20.0)
        log("program ended with status %d" % process.returncode)

        step = "start again with the project"
        process = start_program(PROJECT)
        window = wait_for("the main window with the project", lambda: (lambda w: w if w and w.name ==
                                                                       "Trip - Kestrelle" else None)(main_window()))
        log("project opened: " + window.name)

        step = "second video"
        again = make_video(window)
        if again != frames:
            raise StepFailed("the reopened project made %d frames, the first video %d" % (again, frames))
        if first_frame_checksum(OUTPUT) != checksum:
            raise StepFailed("the reopened project's first frame differs from the first video's")
        log("same video from the reopened project: %d frames, first frame %s" % (again, checksum))

        step = "exit"
        xdotool("key", "Escape")
        wait_for("the program to end", lambda: process.poll() is not None, timeout=20.0)
        log("program ended with status %d" % process.returncode)
        return 0
    except StepFailed as failure:
        log("FAILED at step '%s': %s" % (step, failure))
        screenshot("road_of_one_video_failure")
        return 1
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def settled(measure, pause=0.4):
    """True when two measurements `pause` seconds apart agree."""
    first = measure()
    time.sleep(pause)
    return first == measure()


def find_storyboard(window):
    for node in walk(window):
        if node.name == "Storyboard":
            return node
    return None


def completion_no_button():
    app = application()
    for node in walk(app):
        if node.getRoleName() in ("dialog", "alert") and any(
                "Output file completed" in (n.name or "") for n in walk(node)):
            return find("push button", "No", node) or find("push button", "&No", node)
    return None


if __name__ == "__main__":
    sys.exit(main())
