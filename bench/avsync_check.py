"""What the user sees of video and sound played together, in the real window.

The program runs on an X server of its own (Xvfb) with its sound going through SDL into a
PulseAudio null sink started here, which plays in real time. The video is an ordinary one:
1280 x 720 H.264 at 29.97 fps with x264's default key frame interval (250 frames), its frame
number drawn as a row of blocks along the top of the picture, read back from the screen by
screen_frames as fast as it can, and compared with the sound's cursor (from the window's tick
log, at the same moment of the monotonic clock).

  1. At 1.0 for PLAY_SECONDS: samples whose frame is within one frame step of the sound  >= 95%
  2. Three Space replays of a subtitle at 15 s, 200 frames past a key frame: the picture is
     back within two frame steps of the sound (and stays there)                        <= 0.3 s
  3. CPU per second of playback at 1.0 against mpv alone (mpv --vo=gpu, the same file at the
     same size on the same X server), same run                                         <= 1.5 x

Exits 1 when a target is missed, 2 when the check cannot be run.

  avsync_check.py BIN_DIR [PLAY_SECONDS]
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BIN = sys.argv[1]
PLAY_SECONDS = int(sys.argv[2]) if len(sys.argv) > 2 else 20
FRAME_MS = 1001 / 30
SCREEN = (1280, 1024)
CLK_TCK = os.sysconf("SC_CLK_TCK")

work = tempfile.mkdtemp(prefix="tamsel-avsync-")
children = []


def cannot(why):
    print(f"avsync_check: {why}", file=sys.stderr)
    sys.exit(2)


def start(args, **kw):
    p = subprocess.Popen(args, **kw)
    children.append(p)
    return p


def stop_all():
    for p in reversed(children):
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
    shutil.rmtree(work, ignore_errors=True)


def wait_for(what, seconds, test):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            if test():
                return
        except (OSError, ValueError, subprocess.CalledProcessError):
            pass
        time.sleep(0.1)
    cannot(f"{what} within {seconds} s")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True,
                          text=True).stdout.strip()


def read_pairs(path):
    values = {}
    for line in open(path, encoding="utf-8"):
        parts = line.split()
        if len(parts) >= 2:
            values[parts[0]] = parts[1:]
    return values


def make_video(path):
    # 16 blocks of 80 x 40 px over a black strip: bits 0-11 of the frame number, then bits 0-3
    # inverted (see screen_frames).
    boxes = ["drawbox=x=0:y=0:w=1280:h=40:color=black:t=fill"]
    for k in range(16):
        bit = f"mod(floor(n/{2 ** (k % 12)}),2)"
        on = bit if k < 12 else f"1-{bit}"
        boxes.append(f"drawbox=x={80 * k}:y=0:w=80:h=40:color=white:t=fill:enable='{on}'")
    subprocess.run(
        ["ffmpeg", "-nostdin", "-loglevel", "error", "-y",
         "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30000/1001:duration=60",
         "-f", "lavfi", "-i", "sine=frequency=440:beep_factor=4:duration=60",
         "-vf", ",".join(boxes), "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
         "-c:a", "aac", "-shortest", path], check=True)


class Ticks:
    """The window's tick log: the sound's position at any moment of the monotonic clock."""

    def __init__(self, path):
        self.rows = []
        for line in open(path):
            v = line.split()
            if len(v) == 8:
                self.rows.append([float(x) for x in v])

    def frame_step(self):
        return self.rows[-1][4]

    def sound_at(self, t):
        """The sound's position (ms) at monotonic time t (ms), or None outside the log."""
        lo, hi = 0, len(self.rows) - 1
        if not self.rows or t < self.rows[0][0] or t > self.rows[-1][0] + 200:
            return None
        while lo < hi:
            mid = (lo + hi + 1) // 2
            if self.rows[mid][0] <= t:
                lo = mid
            else:
                hi = mid - 1
        row = self.rows[lo]
        return row[7] + (t - row[0]) * row[3]


def grab(area, seconds):
    x, y, w, h = area
    out = subprocess.run([f"{BIN}/screen_frames", *map(str, (x, y, w, h, seconds))], check=True,
                         capture_output=True, text=True).stdout
    return [(float(t), int(n)) for t, n in (line.split() for line in out.splitlines())]


def gaps(samples, ticks):
    """(time, frame time - sound position) of each sample that reads, ms."""
    out = []
    for t, n in samples:
        snd = ticks.sound_at(t)
        if n >= 0 and snd is not None:
            out.append((t, n * FRAME_MS - snd))
    return out


def main():
    for tool in ("Xvfb", "xdotool", "pulseaudio", "mpv", "ffmpeg"):
        if not shutil.which(tool):
            cannot(f"{tool} is not installed (scripts/install-deps.sh)")
    for b in ("tamsel", "screen_frames"):
        if not os.access(f"{BIN}/{b}", os.X_OK):
            cannot(f"{BIN}/{b} not found; build first (scripts/build.sh)")

    video = f"{work}/clip.mp4"
    make_video(video)
    with open(f"{work}/clip.srt", "w", encoding="utf-8") as f:
        f.write("1\r\n00:00:02,000 --> 00:00:04,000\r\n一\r\n\r\n"
                "2\r\n00:00:15,000 --> 00:00:17,000\r\n二\r\n\r\n")
    with open(f"{work}/settings.ini", "w") as f:
        f.write("[setup]\r\nAIenable=0\r\n")

    read_fd, write_fd = os.pipe()
    start(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
           "-nolisten", "tcp"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    display = os.read(read_fd, 64).decode().strip()
    if not display:
        cannot("Xvfb did not start")
    os.environ["DISPLAY"] = f":{display}"
    xvfb = children[-1]

    # A PulseAudio server of our own with one null sink, which consumes sound in real time.
    pulse = f"{work}/pulse"
    os.makedirs(pulse)
    env = dict(os.environ, HOME=pulse, XDG_RUNTIME_DIR=pulse, XDG_CONFIG_HOME=pulse)
    start(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
           "--load=module-null-sink sink_name=avsync",
           f"--load=module-native-protocol-unix socket={pulse}/native auth-anonymous=1"],
          env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("PulseAudio did not start", 20, lambda: os.path.exists(f"{pulse}/native"))

    app_env = dict(os.environ, TAMSEL_LAYOUT_FILE=f"{work}/layout",
                   TAMSEL_STATE_FILE=f"{work}/state", TAMSEL_TICK_LOG=f"{work}/ticks",
                   QT_QPA_PLATFORM="xcb", SDL_AUDIODRIVER="pulseaudio",
                   PULSE_SERVER=f"unix:{pulse}/native", XDG_RUNTIME_DIR=pulse)
    log = open(f"{work}/app.log", "w")
    app = start([f"{BIN}/tamsel", "--settings", f"{work}/settings.ini", video], env=app_env,
                stdout=log, stderr=subprocess.STDOUT)

    def window():
        ids = xdotool("search", "--onlyvisible", "--name", "Tamsel时间轴").split()
        return ids[0] if ids else ""

    def layout(name):
        for line in open(f"{work}/layout"):
            v = line.split()
            if v and v[0] == name:
                return tuple(int(x) for x in v[1:5])
        return None

    def state(name):
        return read_pairs(f"{work}/state").get(name, [""])[0]

    wait_for("the window did not show", 60, lambda: window() != "")
    wait_for("the video did not become ready", 240,
             lambda: "clip.srt" in xdotool("getwindowname", window()))
    win = window()
    xdotool("windowmove", "--sync", win, 0, 0)
    xdotool("windowsize", "--sync", win, SCREEN[0], SCREEN[1] - 124)
    time.sleep(1)
    wait_for("no ready picture", 10, lambda: layout("ImageReadyGo") is not None)

    def at(dx, dy):
        geo = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell",
                                                       win).splitlines())
        return int(geo["X"]) + dx, int(geo["Y"]) + dy

    x, y, w, h = layout("ImageReadyGo")
    xdotool("mousemove", *at(x + w // 2, y + h // 2), "sleep", "0.2", "click", "1")
    wait_for("editing did not begin", 30, lambda: state("ReadyState") == "2")
    wait_for("the loop did not learn the frame rate", 30, lambda: int(state("FrameRate")) > 0)
    wait_for("no video area", 10, lambda: layout("Video") is not None)
    vx, vy, vw, vh = layout("Video")
    area = (*at(vx, vy), vw, vh)
    client_w = int(xdotool("getwindowgeometry", "--shell", win).split("WIDTH=")[1].split()[0])

    # 1. At 1.0: the pointer over the video in the 1.0 zone (the window spans -400..400 there).
    xdotool("mousemove", *at(client_w * 13 // 16, vh // 2))
    time.sleep(2)
    cpu0, xcpu0, t0 = cpu_seconds(app.pid), cpu_seconds(xvfb.pid), time.monotonic()
    samples = grab(area, PLAY_SECONDS)
    loop_cpu = (cpu_seconds(app.pid) - cpu0) / (time.monotonic() - t0)
    loop_xcpu = (cpu_seconds(xvfb.pid) - xcpu0) / (time.monotonic() - t0)

    # 2. Space replays of the second subtitle (W back to the first, R on to the second). The
    # pointer rests in the pause band.
    xdotool("mousemove", *at(client_w // 2, vh // 2))
    time.sleep(1)
    xdotool("key", "w")
    time.sleep(1)
    xdotool("key", "r")
    time.sleep(1.5)
    presses = []
    grabber = subprocess.Popen([f"{BIN}/screen_frames", *map(str, area), "13"],
                               stdout=subprocess.PIPE, text=True)
    for _ in range(3):
        time.sleep(1)
        presses.append(time.monotonic() * 1000)
        xdotool("key", "space")
        time.sleep(3)
    replay_samples = [(float(t), int(n)) for t, n in (l.split() for l in grabber.communicate()[0]
                                                      .splitlines())]
    app.send_signal(signal.SIGTERM)
    app.wait(30)
    ticks = Ticks(f"{work}/ticks")
    step = ticks.frame_step()

    # 3. mpv alone, at the video area's size, on the same X server.
    # --gpu-sw: mpv takes Mesa's software renderer, which is all an X server without a GPU has.
    mpv = start(["mpv", "--no-config", "--vo=gpu", "--gpu-sw", "--no-audio", "--hwdec=no", "--osd-level=0",
                 "--no-border", f"--geometry={vw}x{vh}+0+0", "--loop-file=inf", video],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(3)
    cpu0, xcpu0, t0 = cpu_seconds(mpv.pid), cpu_seconds(xvfb.pid), time.monotonic()
    time.sleep(PLAY_SECONDS)
    alone_cpu = (cpu_seconds(mpv.pid) - cpu0) / (time.monotonic() - t0)
    alone_xcpu = (cpu_seconds(xvfb.pid) - xcpu0) / (time.monotonic() - t0)

    if os.environ.get("AVSYNC_TRACE"):
        # For a closer look: the samples (time, frame, frame time - sound) and the tick log.
        trace = os.environ["AVSYNC_TRACE"]
        os.makedirs(trace, exist_ok=True)
        for name, rows in (("play", samples), ("replay", replay_samples)):
            with open(f"{trace}/{name}.txt", "w") as f:
                for t, n in rows:
                    snd = ticks.sound_at(t)
                    gap = n * FRAME_MS - snd if n >= 0 and snd is not None else float("nan")
                    f.write(f"{t:.1f} {n} {gap:.1f}\n")
        shutil.copy(f"{work}/ticks", f"{trace}/ticks.txt")
        with open(f"{trace}/presses.txt", "w") as f:
            f.write("\n".join(f"{p:.1f}" for p in presses) + "\n")

    ok = True
    played = gaps(samples, ticks)
    unread = sum(1 for _, n in samples if n < 0)
    within = sum(1 for _, g in played if abs(g) <= step) / max(len(played), 1)
    ordered = sorted(abs(g) for _, g in played)
    pct = lambda p: ordered[min(len(ordered) - 1, int(p / 100 * len(ordered)))] if ordered else 0
    print(f"{PLAY_SECONDS} s at 1.0, the frame on the screen against the sound's cursor "
          f"({len(played)} samples, {unread} unreadable):")
    signed = sorted(g for _, g in played)
    mid = signed[len(signed) // 2] if signed else 0
    print(f"  |frame - sound| ms: median {pct(50):.0f}, 90% {pct(90):.0f}, 95% {pct(95):.0f}, "
          f"max {pct(100):.0f}; frame - sound: median {mid:.0f}")
    met = within >= 0.95 and len(played) > 10 * PLAY_SECONDS
    ok &= met
    print(f"  within one frame step ({step:.0f} ms)  {within * 100:5.1f}%  target >= 95%  "
          f"{'ok' if met else 'MISSED'}")

    print("Space replays of a subtitle 200 frames past a key frame:")
    replay = gaps(replay_samples, ticks)
    for i, p in enumerate(presses):
        window_gaps = [(t, g) for t, g in replay if p <= t <= p + 2500]
        settled = None
        for j, (t, _) in enumerate(window_gaps):
            if all(abs(g) <= 2 * step for _, g in window_gaps[j:]):
                settled = (t - p) / 1000
                break
        met = settled is not None and settled <= 0.3 and len(window_gaps) > 50
        ok &= met
        shown = f"{settled:.2f} s" if settled is not None else "never"
        print(f"  replay {i + 1}: within two frame steps after {shown}  target <= 0.3 s  "
              f"{'ok' if met else 'MISSED'}")

    ratio = loop_cpu / alone_cpu if alone_cpu > 0 else float("inf")
    met = ratio <= 1.5
    ok &= met
    print("CPU per second of playback at 1.0 (the X server's own beside it):")
    print(f"  mpv alone (--vo=gpu)       {alone_cpu:6.3f} s  (X server {alone_xcpu:.3f} s)")
    print(f"  the editing window         {loop_cpu:6.3f} s  (X server {loop_xcpu:.3f} s)  "
          f"{ratio:.2f} x mpv alone  target <= 1.5  {'ok' if met else 'MISSED'}")
    return 0 if ok else 1


try:
    status = main()
except subprocess.CalledProcessError as e:
    print(f"avsync_check: {e}", file=sys.stderr)
    status = 2
finally:
    stop_all()
sys.exit(status)
