#!/usr/bin/env python3
"""The real program's sound, heard from outside.

Runs the zeltora executable under a virtual X server, on a private session bus and a
private PulseAudio daemon whose only sink is a null sink, and records that sink's
monitor. A clip with a 1 kHz beep at the start of every second must come out as beeps
one second apart; halving the volume over MPRIS must make them clearly quieter; killing
the sound server in the middle must leave the program running with its position still
moving; and a start with no sound server at all must be just as quiet in the log.

Usage: sound.py PROGRAM BUS_CONFIG. Exits 77 (skipped) when a needed tool is missing.
Nothing of the real user's is touched: HOME, the XDG folders, the bus and the sound
server all live in a temporary folder that is removed at the end.
"""

import array
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
RATE = 48000                 # recording rate, mono s16le
BEEP_EVERY_S = 1.0
BEEP_LENGTH_S = 0.1
CLIP_S = 40
SPACING_TOLERANCE_MS = 30.0
START_TOLERANCE_MS = 150.0   # a moment's starvation while the program starts, not a lost beep
MIN_DROP_DB = 3.0            # "clearly quieter"
NOISE_FLOOR = 150            # far above AAC's rounding noise, far below a beep
TOOLS = ["pulseaudio", "parec", "pactl", "Xvfb", "dbus-daemon", "gdbus", "ffmpeg"]

MPRIS = "org.mpris.MediaPlayer2.zeltora"
MPRIS_PATH = "/org/mpris/MediaPlayer2"
PLAYER = "org.mpris.MediaPlayer2.Player"


class Failure(Exception):
    pass


class RigFailure(Failure):
    """The sound server or the recorder failed, not the player: on a starved machine
    the daemon can stop serving its monitor. Nothing is learnt about the player then,
    so the test says so and is skipped rather than failed."""


def log(*words):
    print("sound.py:", *words, flush=True)


def wait_for(what, predicate, timeout_s, interval_s=0.1):
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval_s)
    raise Failure(f"timed out after {timeout_s:.0f} s waiting for {what}")


class Session:
    """Every process the test starts, and the folder they live in."""

    def __init__(self, program, bus_config):
        self.program = program
        self.bus_config = bus_config
        self.dir = tempfile.mkdtemp(prefix="zeltora-e2e-sound-")
        self.processes = []
        self.env = dict(os.environ)
        for name in ("DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY",
                     "PULSE_SERVER", "PULSE_SINK", "XAUTHORITY"):
            self.env.pop(name, None)
        home = self.path("home")
        runtime = self.path("runtime")
        pulse = self.path("pulse")
        for folder in (home, runtime, pulse):
            os.makedirs(folder, mode=0o700)
        client_conf = self.path("client.conf")
        with open(client_conf, "w") as f:
            # A client must never start a sound server of its own behind the test's back.
            f.write("autospawn = no\n")
        self.socket = os.path.join(pulse, "native")
        self.env.update({
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local/share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": runtime,
            "PULSE_RUNTIME_PATH": pulse,
            "PULSE_STATE_PATH": pulse,
            "PULSE_CLIENTCONFIG": client_conf,
            "PULSE_SERVER": "unix:" + self.socket,
            # Message types spelled out, so a critical message cannot pass unseen.
            "QT_MESSAGE_PATTERN": "%{if-critical}CRITICAL %{endif}%{if-fatal}FATAL %{endif}"
                                  "%{if-warning}WARNING %{endif}%{category}: %{message}",
        })

    def path(self, name):
        return os.path.join(self.dir, name)

    def start(self, args, output=None, errors=None, **kwargs):
        """output takes stdout, and stderr too unless errors names a file of its own."""
        out = open(output, "wb") if output else subprocess.DEVNULL
        err = open(errors, "wb") if errors else (subprocess.STDOUT if output else subprocess.DEVNULL)
        try:
            process = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=err, **kwargs)
        finally:
            for f in (out, err):
                if hasattr(f, "close"):
                    f.close()
        self.processes.append(process)
        return process

    def stop(self, process, sig=signal.SIGTERM, timeout_s=10):
        if process.poll() is not None:
            return process.returncode
        process.send_signal(sig)
        try:
            return process.wait(timeout_s)
        except subprocess.TimeoutExpired:
            process.kill()
            return process.wait(timeout_s)

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                self.stop(process, timeout_s=5)
        if os.environ.get("ZELTORA_E2E_KEEP"):
            log("kept", self.dir)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)

    def run(self, args, timeout_s=10):
        return subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=timeout_s)

    # --- the surroundings ------------------------------------------------------

    def start_x(self):
        read_end, write_end = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                    "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        os.set_blocking(read_end, False)
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline:
                raise Failure("Xvfb did not report its display")
            try:
                chunk = os.read(read_end, 16)
            except BlockingIOError:
                time.sleep(0.05)
                continue
            if not chunk:
                raise Failure("Xvfb ended before reporting its display")
            number += chunk
        os.close(read_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def start_bus(self):
        process = subprocess.Popen(["dbus-daemon", "--config-file=" + self.bus_config, "--nofork",
                                    "--print-address=1"], env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.processes.append(process)
        # dbus-daemon prints its address at once; a hung daemon is caught by the watchdog.
        address = process.stdout.readline().strip()
        if not address:
            raise Failure("the session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def start_sound_server(self):
        args = ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                "--use-pid-file=no", "--log-target=stderr", "--log-level=warning",
                "--load=module-null-sink sink_name=zsink rate=48000 channels=2",
                f"--load=module-native-protocol-unix socket={self.socket} auth-anonymous=1"]
        self.pulse = self.start(raised(args, 15), output=self.path("pulseaudio.log"))
        wait_for("the sound server", lambda: self.pulse.poll() is not None
                 or self.run(["pactl", "info"], timeout_s=5).returncode == 0, 20)
        if self.pulse.poll() is not None:
            raise Failure("the sound server ended at once:\n" + read(self.path("pulseaudio.log")))

    def start_recording(self):
        self.recording = self.path("monitor.raw")
        self.recording_started = time.monotonic()
        self.recorder = self.start(raised(["parec", "--device=zsink.monitor", "--raw", "--format=s16le",
                                    f"--rate={RATE}", "--channels=1", "--latency-msec=20"], 10),
                                   output=self.recording, errors=self.path("parec.log"))
        try:
            wait_for("the recording", lambda: self.recorder.poll() is not None
                     or os.path.getsize(self.recording) > RATE, 10)
        except Failure as e:
            raise RigFailure(str(e)) from e
        self.check_recording()

    def check_recording(self):
        if self.recorder.poll() is not None:
            raise RigFailure(f"the recorder ended (status {self.recorder.returncode}): "
                          + read(self.path("parec.log")) + read(self.path("pulseaudio.log")))

    def recorded_samples(self):
        return os.path.getsize(self.recording) // 2

    # --- the player over MPRIS -------------------------------------------------

    def get(self, prop):
        result = self.run(["gdbus", "call", "--session", "--dest", MPRIS, "--object-path", MPRIS_PATH,
                           "--method", "org.freedesktop.DBus.Properties.Get", PLAYER, prop], timeout_s=5)
        if result.returncode != 0:
            return None
        # e.g. "(<int64 1234567>,)" or "(<'Playing'>,)"
        return result.stdout.strip().strip("(),").strip("<>").split()[-1].strip("'")

    def set_volume(self, value):
        result = self.run(["gdbus", "call", "--session", "--dest", MPRIS, "--object-path", MPRIS_PATH,
                           "--method", "org.freedesktop.DBus.Properties.Set", PLAYER, "Volume",
                           f"<{value}>"], timeout_s=5)
        if result.returncode != 0:
            raise Failure("setting the volume over MPRIS failed: " + result.stderr)

    def set_volume_between_beeps(self, value):
        """Changes the volume in the silence after a beep, so no beep is part loud, part quiet."""
        def beep_just_heard():
            with open(self.recording, "rb") as f:
                f.seek(max(0, os.path.getsize(self.recording) - RATE // 5 * 2) // 2 * 2)
                tail = array.array("h")
                tail.frombytes(f.read() [:RATE // 5 * 2])
            return any(abs(v) > 2 * NOISE_FLOOR for v in tail)
        wait_for("a beep", beep_just_heard, 5, interval_s=0.01)
        # The beep is 100 ms long, the silence after it 900 ms: land in the middle of
        # that, whatever the output's and the recorder's buffering add.
        time.sleep(0.3)
        self.set_volume(value)
        return self.recorded_samples()

    def position_ms(self):
        value = self.get("Position")
        return int(value) / 1000.0 if value is not None else None

    def quit_player(self, player):
        self.run(["gdbus", "call", "--session", "--dest", MPRIS, "--object-path", MPRIS_PATH,
                  "--method", "org.mpris.MediaPlayer2.Quit"], timeout_s=5)
        try:
            player.wait(10)
        except subprocess.TimeoutExpired:
            self.stop(player)


def raised(args, steps):
    """args run that many nice steps above the rest of the machine, where we may.

    On a machine busy with builds the sound server, the recorder and the player each
    starve now and then at ordinary priority, and the recording shows the scheduler's
    gaps instead of the player's timing. Only root may raise a priority.
    """
    return ["nice", "-n", str(-steps)] + args if os.geteuid() == 0 else args


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def make_clip(path):
    # A sample-exact beep: 1 kHz for the first 100 ms of every second, silence between.
    beeps = (f"aevalsrc='if(lt(mod(t\\,{BEEP_EVERY_S})\\,{BEEP_LENGTH_S})\\,0.5*sin(2*PI*1000*t)\\,0)'"
             f":s=48000:d={CLIP_S}")
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                    "-f", "lavfi", "-i", f"testsrc2=size=320x240:rate=25:duration={CLIP_S}",
                    "-f", "lavfi", "-i", beeps,
                    "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                    "-c:a", "aac", "-b:a", "128k", "-shortest", path],
                   check=True, timeout=120)


def find_beeps(samples):
    """(onset sample, RMS level) of every beep in the recording."""
    window = RATE // 400                      # 2.5 ms
    active = []
    for start in range(0, len(samples) - window, window):
        peak = max(abs(v) for v in samples[start:start + window])
        active.append(peak > NOISE_FLOOR)
    beeps = []
    gap = int(0.2 * RATE / window)            # windows of quiet that separate two beeps
    i = 0
    while i < len(active):
        if not active[i]:
            i += 1
            continue
        first = i
        last = i
        while i < len(active) and (active[i] or i - last <= gap):
            if active[i]:
                last = i
            i += 1
        begin, end = first * window, (last + 1) * window
        # A beep cut by the start or end of the recording is no beep to measure.
        if begin == 0 or end >= len(samples) - window:
            continue
        body = samples[begin:end]
        peak = max(abs(v) for v in body)
        onset = begin + next(k for k, v in enumerate(body) if abs(v) > 0.3 * peak)
        middle = samples[onset + RATE // 50:onset + RATE // 50 + RATE * 6 // 100]
        rms = math.sqrt(sum(v * v for v in middle) / len(middle)) if middle else 0.0
        beeps.append((onset, rms, (end - begin) / RATE))
    return beeps


def check_sound(session, clip):
    player_log = session.path("player.log")
    player = session.start(raised([session.program, clip], 10), output=player_log)
    wait_for("the player on the bus, playing", lambda: player.poll() is not None
             or session.get("PlaybackStatus") == "Playing", 30)
    if player.poll() is not None:
        raise Failure("the player ended at once:\n" + read(player_log))
    full_at = session.set_volume_between_beeps(1.0)
    time.sleep(5)
    halved_at = session.set_volume_between_beeps(0.5)
    time.sleep(4.5)

    # The sound server dies under the player; until now the recorder must have kept going.
    session.check_recording()
    killed_at = session.recorded_samples()
    # A null sink's monitor delivers in real time; a recording far shorter than the
    # time it ran means the daemon stopped serving it.
    recorded_s, ran_s = killed_at / RATE, time.monotonic() - session.recording_started
    if recorded_s < ran_s - 2:
        raise RigFailure(f"the recording holds {recorded_s:.1f} s of {ran_s:.1f} s")
    session.stop(session.pulse, signal.SIGKILL)
    session.recorder.wait(10)
    time.sleep(1)
    before = session.position_ms()
    time.sleep(3)
    after = session.position_ms()
    if player.poll() is not None:
        raise Failure(f"the player ended (status {player.returncode}) when the sound server died:\n"
                      + read(player_log))
    if before is None or after is None or after - before < 2000:
        raise Failure(f"the position did not move on without a sound server: {before} -> {after} ms")
    log(f"without a sound server the position moved {after - before:.0f} ms in 3 s")
    session.quit_player(player)

    with open(session.recording, "rb") as f:
        samples = array.array("h")
        samples.frombytes(f.read()[:killed_at * 2])
    if sys.byteorder == "big":
        samples.byteswap()
    beeps = find_beeps(samples)
    log("beeps (s, RMS, ms): " + " ".join(f"{o / RATE:.3f}/{r:.0f}/{n * 1000:.0f}" for o, r, n in beeps))
    log(f"{len(beeps)} beeps in {len(samples) / RATE:.1f} s of recording")
    if len(beeps) < 8:
        raise Failure(f"only {len(beeps)} beeps were heard")
    # The first beep starts with the sound itself, and the output's start may clip its
    # first milliseconds; spacing and length are measured from the second on.
    first_levels = [rms for onset, rms, _ in beeps if onset < full_at]
    beeps = beeps[1:]
    for onset, rms, length in beeps:
        if not 0.05 < length < 0.2:
            raise Failure(f"a beep at {onset / RATE:.3f} s lasted {length * 1000:.0f} ms, not "
                          f"{BEEP_LENGTH_S * 1000:.0f} ms")
    spacings = [(b[0] - a[0]) * 1000.0 / RATE for a, b in zip(beeps, beeps[1:])]
    log("beep spacing ms: " + " ".join(f"{s:.1f}" for s in spacings))
    # While the program starts (window, fonts, thumbnail and preview workers) a machine
    # busy with builds can starve the output for a moment; from a second after the
    # first volume change on, playback has settled and must keep time strictly.
    settled = [(b[0] - a[0]) * 1000.0 / RATE for a, b in zip(beeps, beeps[1:]) if a[0] > full_at + RATE]
    starting = spacings[:len(spacings) - len(settled)]
    if len(settled) < 5:
        raise Failure(f"only {len(settled)} beep spacings after playback settled")
    worst = max(abs(s - BEEP_EVERY_S * 1000) for s in settled)
    worst_start = max((abs(s - BEEP_EVERY_S * 1000) for s in starting), default=0.0)
    log(f"largest spacing error {worst:.1f} ms once settled, {worst_start:.1f} ms while starting")
    if worst > SPACING_TOLERANCE_MS:
        raise Failure(f"beeps not evenly spaced: off by up to {worst:.1f} ms")
    if worst_start > START_TOLERANCE_MS:
        raise Failure(f"beeps lost while starting: a spacing off by {worst_start:.1f} ms")

    # The volume change reaches the output with its buffering; leave a second either side.
    loud = [rms for onset, rms, _ in beeps if full_at + RATE < onset < halved_at - RATE]
    quiet = [rms for onset, rms, _ in beeps if onset > halved_at + RATE]
    if len(loud) < 2 or len(quiet) < 2:
        raise Failure(f"too few beeps either side of the volume change: {len(loud)} and {len(quiet)}")
    loud_level = sum(loud[-2:]) / 2
    quiet_level = sum(quiet) / len(quiet)
    drop_db = 20 * math.log10(loud_level / max(quiet_level, 1e-9))
    log(f"level at volume 1.0: {loud_level:.0f}, at 0.5: {quiet_level:.0f} (RMS, s16): {drop_db:.1f} dB lower")
    if drop_db < MIN_DROP_DB:
        raise Failure(f"halving the volume lowered the level by only {drop_db:.1f} dB")
    # The player starts with its slider at half, so it must have sounded as it does
    # now that MPRIS has set half again.
    if not first_levels:
        raise Failure("no beep was heard before the first volume change")
    start_db = 20 * math.log10(max(first_levels[0], 1e-9) / max(quiet_level, 1e-9))
    log(f"level at start (slider at half): {first_levels[0]:.0f}, {start_db:+.1f} dB against half set over MPRIS")
    if abs(start_db) > 1.0:
        raise Failure(f"the sound started {start_db:+.1f} dB off the level its volume slider shows")

    output = read(player_log)
    if "CRITICAL" in output or "FATAL" in output:
        raise Failure("the player reported a critical fault:\n" + output)


def check_start_without_server(session, clip):
    # The server is gone and its socket with it: start as on a machine without sound.
    player_log = session.path("player-silent.log")
    player = session.start(raised([session.program, clip], 10), output=player_log)
    wait_for("the player without sound, playing", lambda: player.poll() is not None
             or session.get("PlaybackStatus") == "Playing", 30)
    time.sleep(1)
    before = session.position_ms()
    time.sleep(2)
    after = session.position_ms()
    alive = player.poll() is None
    session.quit_player(player)
    output = read(player_log)
    if not alive:
        raise Failure("the player ended when started without a sound server:\n" + output)
    if before is None or after is None or after - before < 1000:
        raise Failure(f"without a sound server the position stood still: {before} -> {after} ms")
    if "CRITICAL" in output or "FATAL" in output:
        raise Failure("a start without a sound server reported a critical fault:\n" + output)
    log("a start without a sound server plays on wall time, nothing critical in the log")


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        log("skipped: missing " + ", ".join(missing))
        return SKIP
    program = os.path.abspath(sys.argv[1])
    session = Session(program, os.path.abspath(sys.argv[2]))

    def watchdog(signum, frame):
        raise Failure("the whole test took too long")
    signal.signal(signal.SIGALRM, watchdog)
    signal.alarm(200)
    try:
        clip = session.path("beeps.mp4")
        make_clip(clip)
        session.start_x()
        session.start_bus()
        session.start_sound_server()
        session.start_recording()
        check_sound(session, clip)
        check_start_without_server(session, clip)
    except RigFailure as e:
        log("skipped: the recording rig failed, the player was not judged:", e)
        return SKIP
    except (Failure, subprocess.SubprocessError) as e:
        log("FAILED:", e)
        server_log = read(session.path("pulseaudio.log")).strip()
        if server_log:
            log("sound server's log:\n" + server_log[-3000:])
        return 1
    finally:
        signal.alarm(0)
        session.close()
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
