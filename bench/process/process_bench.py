#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Times qdefrag as users run it, a process on an image file, against peer
tools on the same images, in alternating rounds, and prints medians, minima,
ratios against the targets, peak memory, write amplification and the load
average. A bench reports: missing a target never fails the run.

  process_bench.py --qdefrag PATH --tool PATH [--work DIR] [--rounds N]
                   [--files N] [--only fat32|ntfs] [--big-files N] [--loop]

Measures, per file system:
  analysis   qdefrag analyze --quiet IMAGE   vs  fsck.fat -n / ntfscluster -i
             on an image of --files files
  passes     qdefrag defrag [--optimize] on a fresh copy of a fragmented image
             (--files / 2 small files, --big-files big files of 1-12 MiB in
             hundreds of fragments)  vs  dd conv=fsync of the bytes moved
  writes     bytes the qdefrag process wrote (rusage) / bytes that changed
  memory     peak resident memory (rusage), per file
With --loop (root), the passes also run on loop devices over the fresh
copies, as on a disk, against dd conv=fsync to a loop device over a scratch
file; each device is detached after its run.
Nothing outside the work folder is written; nothing is mounted.
"""
import argparse
import contextlib
import json
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixtures  # noqa: E402

BLOCK = 4096                      # unit of the before/after comparison
COMPARE_CHUNK = 8 << 20           # read this much at once, split only when it differs
TARGETS = {                       # ratio of qdefrag to its peer, at most
    "fat32 analysis": 1.0,
    "ntfs analysis": 1.5,
    "pass": 2.0,
    "write amplification": 2.0,
}
PEERS = {"fat32": ["fsck.fat", "-n"], "ntfs": ["ntfscluster", "-i"]}
DEFAULT_WORK = "/tmp/quillo-process-bench"
GNU_TIME = "/usr/bin/time"        # for the peak memory: see run()

summary = []                      # (measure, figure text, ratio, target) for the closing table


def load_average():
    with open("/proc/loadavg") as f:
        return f.read().strip()


def run(argv, env=None, keep_output=False, measure_to=None):
    """Runs ARGV to its end as a child process: (seconds, rusage, exit code,
    standard output). rusage comes from wait4, so it is this child's own,
    with one exception: Linux carries the parent's resident size over an exec
    (and Python starts children with vfork), so ru_maxrss would be at least
    this script's size. With MEASURE_TO, ARGV runs under GNU time, which
    forks from its own small process and writes the true peak (KiB) and the
    blocks written there; the timing then includes time's own start-up,
    about a millisecond."""
    if measure_to:
        argv = [GNU_TIME, "-f", "%M %O", "-o", measure_to] + argv
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE if keep_output else subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    out = proc.stdout.read() if keep_output else b""
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if keep_output:
        proc.stdout.close()
    return seconds, usage, proc.returncode, out


def peak_of(measure_to):
    """Peak resident bytes written by GNU time to MEASURE_TO."""
    with open(measure_to) as f:
        return int(f.read().split()[-2]) * 1024


def describe(times):
    return "median %7.3f s  min %7.3f s" % (statistics.median(times), min(times))


def verdict(ratio, target):
    return "met" if ratio <= target else "NOT met"


def report(measure, figure, ratio, target):
    print("  -> %-40s ratio %6.2f  target <= %.1f  %s" % (measure, ratio, target, verdict(ratio, target)))
    summary.append((measure, figure, ratio, target))


def fresh_copy(source, copy):
    """A copy whose blocks are all on disk before the timed run starts, so
    that the write-back of the copy is not charged to the pass. Holes stay
    holes (cp --sparse=always): the copy costs only the used clusters."""
    if os.path.exists(copy):
        os.remove(copy)
    subprocess.run(["cp", "--sparse=always", source, copy], check=True)
    fd = os.open(copy, os.O_RDONLY)
    os.fsync(fd)
    os.close(fd)


def changed_bytes(before, after):
    """Bytes in BLOCK-sized blocks that differ between two images."""
    changed = 0
    with open(before, "rb") as a, open(after, "rb") as b:
        while True:
            x = a.read(COMPARE_CHUNK)
            y = b.read(COMPARE_CHUNK)
            if not x and not y:
                return changed
            if x == y:
                continue
            for i in range(0, max(len(x), len(y)), BLOCK):
                if x[i:i + BLOCK] != y[i:i + BLOCK]:
                    changed += BLOCK


def random_source(work, size):
    """A file of random bytes at least SIZE long, for dd to copy: reading it
    from the page cache costs dd next to nothing (unlike /dev/urandom, whose
    generation would be timed too)."""
    path = os.path.join(work, "dd-source.bin")
    have = os.path.getsize(path) if os.path.exists(path) else 0
    if have < size:
        with open(path, "ab") as f:
            while have < size:
                piece = min(64 << 20, size - have)
                f.write(os.urandom(piece))
                have += piece
    # Read it through before each timing: the images read and compared since
    # may have pushed it out of the page cache, and dd would then be timed
    # reading the disk as well.
    with open(path, "rb") as f:
        left = size
        while left > 0:
            left -= len(f.read(min(left, 64 << 20))) or left
    return path


@contextlib.contextmanager
def loop_device(path):
    """A loop device over PATH (a file of the work folder), detached on the
    way out whatever happened."""
    device = subprocess.run(["losetup", "--find", "--show", path], check=True, capture_output=True,
                            text=True).stdout.strip()
    try:
        yield device
    finally:
        subprocess.run(["losetup", "--detach", device], check=True)


def volume_of(out):
    report_json = json.loads(out)
    return report_json["volumes"][0]


def moved_by_report(volume):
    """Bytes of the files the JSON report lists as moved (Defragged), i.e.
    clusters x cluster size. The report lists the fragmented files only, so
    for the optimise pass this misses the files moved into zones."""
    cluster = volume["sectorsPerCluster"] * volume["bytesPerSector"]
    return sum(e["clusters"] for e in volume["entries"] if e["result"] == "Defragged") * cluster


# ---------------------------------------------------------------- analysis

def analysis(fs, qdefrag, image, files, rounds, env, label=None):
    """Alternating rounds of qdefrag analyze and the peer on IMAGE; LABEL
    names an image other than the one of FILES files."""
    ours_argv = [qdefrag, "analyze", "--quiet", image]
    peer_argv = PEERS[fs] + [image]
    # One untimed run of each first: both then read the image from the page
    # cache, as in every later round.
    # That run of qdefrag gives its peak memory.
    measure_to = os.path.join(os.path.dirname(image), "time.out")
    run(ours_argv, env, measure_to=measure_to)
    peak = peak_of(measure_to)
    run(peer_argv)
    ours, peer = [], []
    for r in range(rounds):
        # Alternate which program goes first, so that neither always runs
        # right after the other has warmed (or cooled) the caches.
        order = ("ours", "peer") if r % 2 == 0 else ("peer", "ours")
        for who in order:
            if who == "ours":
                seconds, usage, code, _ = run(ours_argv, env)
                if code != 0:
                    sys.exit("qdefrag analyze failed (exit %d) on %s" % (code, image))
                ours.append(seconds)
            else:
                seconds, _, code, _ = run(peer_argv)
                if code != 0:
                    print("  warning: %s exited with %d" % (" ".join(peer_argv), code))
                peer.append(seconds)
    name = "%s analysis" % fs
    measure = "%s (%s)" % (name, label) if label else name
    print("%s, %d files, %d rounds" % (measure, files, rounds))
    print("  qdefrag analyze --quiet    %s" % describe(ours))
    print("  %-26s %s" % (" ".join(PEERS[fs]), describe(peer)))
    report(measure, "%.3f s vs %.3f s" % (statistics.median(ours), statistics.median(peer)),
           statistics.median(ours) / statistics.median(peer), TARGETS[name])
    print("  peak memory %.1f MiB, %d bytes per file" % (peak / (1 << 20), peak // max(files, 1)))
    summary.append(("%s peak memory" % measure, "%.1f MiB, %d B/file" % (peak / (1 << 20), peak // max(files, 1)),
                    None, None))


# ------------------------------------------------------------------ passes

def describe_fixture(qdefrag, image, env):
    _, _, code, out = run([qdefrag, "analyze", "--json", image], env, keep_output=True)
    if code != 0:
        sys.exit("qdefrag analyze --json failed on %s" % image)
    volume = volume_of(out)
    fragments = sorted(e["fragments"] for e in volume["entries"])
    print("  fixture: %d files, %d fragmented (fragments per file %d..%d, median %d), fragmentation %.1f %%,"
          " %.0f MiB free of %.0f MiB" % (volume["files"], volume["fragmented"], fragments[0], fragments[-1],
                                          statistics.median(fragments), volume["fragmentationBefore"],
                                          volume["freeBytes"] / (1 << 20), volume["totalBytes"] / (1 << 20)))


def passes(fs, qdefrag, image, work, rounds, env, loop=False):
    """Alternating rounds of qdefrag defrag [--optimize] on fresh copies of
    IMAGE and dd conv=fsync of the bytes moved. With LOOP, both write to loop
    devices: qdefrag to one over the copy, dd to one over a scratch file."""
    where = " on loop devices" if loop else ""
    print("%s passes%s on %s" % (fs, where, os.path.basename(image)))
    describe_fixture(qdefrag, image, env)
    copy = os.path.join(work, "pass-copy.img")
    dd_out = os.path.join(work, "dd-out.bin")
    measure_to = os.path.join(work, "time.out")
    for mode, flags in (("fast", []), ("optimise", ["--optimize"])):
        ours, peer, amplification, peaks, dd_sizes = [], [], [], [], []
        reported = changed = 0
        for _ in range(rounds):
            fresh_copy(image, copy)
            # Under GNU time for the peak memory: about a millisecond more on
            # a run of a tenth of a second or longer.
            argv = [qdefrag, "defrag", "--json"] + flags
            with contextlib.ExitStack() as stack:
                target = stack.enter_context(loop_device(copy)) if loop else copy
                seconds, usage, code, out = run(argv + [target], env, keep_output=True,
                                                measure_to=measure_to)
            volume = volume_of(out) if out else {}
            if code != 0 or volume.get("outcome") != "defragmented":
                sys.exit("qdefrag defrag %s failed (exit %d, outcome %s)" % (" ".join(flags), code,
                                                                            volume.get("outcome")))
            ours.append(seconds)
            peaks.append(peak_of(measure_to))
            reported = moved_by_report(volume)
            changed = changed_bytes(image, copy)
            # A loop device's writes are the kernel's, not the process's.
            written = usage.ru_oublock * 512
            if changed and not loop:
                amplification.append(written / changed)
            # dd writes what the pass moved: the report's figure, or the bytes
            # that changed when that is more (the optimise pass moves files
            # the report does not list).
            size = max(reported, changed, BLOCK)
            dd_sizes.append(size)
            source = random_source(work, size)
            with contextlib.ExitStack() as stack:
                if loop:
                    with open(dd_out, "wb") as scratch:
                        scratch.truncate(size)
                    target = stack.enter_context(loop_device(dd_out))
                else:
                    target = dd_out
                seconds, _, code, _ = run(["dd", "if=" + source, "of=" + target, "bs=1M", "count=%d" % size,
                                           "iflag=count_bytes", "conv=fsync"])
            if code != 0:
                sys.exit("dd failed")
            peer.append(seconds)
            os.remove(dd_out)
        os.remove(copy)
        print("  %-8s qdefrag defrag %-10s %s   moved per report %.1f MiB, changed %.1f MiB" % (
            mode, " ".join(flags), describe(ours), reported / (1 << 20), changed / (1 << 20)))
        print("  %-8s dd conv=fsync %.1f MiB     %s" % ("", statistics.median(dd_sizes) / (1 << 20),
                                                      describe(peer)))
        report("%s %s pass%s" % (fs, mode, where),
               "%.2f s vs %.2f s" % (statistics.median(ours), statistics.median(peer)),
               statistics.median(ours) / statistics.median(peer), TARGETS["pass"])
        if amplification:
            a = statistics.median(amplification)
            print("  %-8s written by qdefrag (rusage) / changed: %.2f" % ("", a))
            if mode == "optimise":
                report("%s optimise write amplification" % fs, "%.2f" % a, a, TARGETS["write amplification"])
            else:
                summary.append(("%s fast write amplification" % fs, "%.2f" % a, None, None))
        peak = max(peaks)
        print("  %-8s peak memory %.1f MiB" % ("", peak / (1 << 20)))


# -------------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qdefrag", required=True, help="the qdefrag program (a release build)")
    parser.add_argument("--tool", required=True, help="ntfs_fixture_tool")
    parser.add_argument("--work", default=DEFAULT_WORK, help="fixture cache and scratch folder")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--files", type=int, default=100000, help="files of the analysis images")
    parser.add_argument("--big-files", type=int, default=50, help="big fragmented files of the pass images")
    parser.add_argument("--only", choices=["fat32", "ntfs"])
    parser.add_argument("--loop", action="store_true",
                        help="also time the passes on loop devices (root)")
    args = parser.parse_args()
    if args.loop and os.geteuid() != 0:
        sys.exit("--loop needs root (losetup)")
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    # A configuration folder of the bench's own: no drive table or settings
    # of the user are read, and nothing of theirs is written.
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_STATE_HOME=os.path.join(home, ".local", "state"), QUILLODEFRAG_HOME=os.path.join(home, "q"),
               NO_COLOR="1")
    started = time.time()
    print("load average at start: %s" % load_average())
    print("%d cores, %d rounds, %d files, %d big files, work folder %s" % (
        os.cpu_count(), args.rounds, args.files, args.big_files, work))
    small = args.files // 2
    for fs in ("fat32", "ntfs"):
        if args.only not in (None, fs):
            continue
        if fs == "fat32":
            many = fixtures.fat32_many(work, args.files)
            fragmented = fixtures.fat32_fragmented(work, small, args.big_files)
        else:
            many = fixtures.ntfs_many(work, args.tool, args.files)
            fragmented = fixtures.ntfs_fragmented(work, args.tool, small, args.big_files)
        analysis(fs, args.qdefrag, many, args.files, args.rounds, env)
        # The fragmented image too: on NTFS its MFT holds the records of the
        # deleted filling, which a walk over the MFT must step over.
        analysis(fs, args.qdefrag, fragmented, small + args.big_files, args.rounds, env, label="fragmented image")
        passes(fs, args.qdefrag, fragmented, work, args.rounds, env)
        if args.loop:
            passes(fs, args.qdefrag, fragmented, work, args.rounds, env, loop=True)
    print()
    print("%-50s %-24s %7s %8s" % ("measure", "qdefrag vs peer", "ratio", "target"))
    for measure, figure, ratio, target in summary:
        if ratio is None:
            print("%-50s %-24s" % (measure, figure))
        else:
            print("%-50s %-24s %7.2f %8s  %s" % (measure, figure, ratio, "<= %.1f" % target,
                                                verdict(ratio, target)))
    print("load average at end: %s (%.0f s in all)" % (load_average(), time.time() - started))


if __name__ == "__main__":
    main()
