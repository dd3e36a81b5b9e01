#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Fixture images for the process benches, made once in the work folder and
reused (an image is only complete once renamed from NAME.part to NAME):

  fat32-many-N.img        N small files copied in with mtools (mcopy -s)
  ntfs-many-N.img         N files made by the fixture tool's "populate"
  fat32-fragmented.img    small files plus big files cut into hundreds of
                          fragments, written by our own FAT32 layout writer
  ntfs-fragmented.img     small files plus big files written one cluster at a
                          time into one-cluster holes (checkerboard + write)

Every image is a plain file under the work folder; nothing is mounted and no
device is touched. Each FAT32 image is checked with fsck.fat -n.
"""
import array
import os
import shutil
import struct
import subprocess
import sys

CLUSTER = 4096
SECTORS_PER_CLUSTER = 8                 # 4 KiB clusters with 512-byte sectors
FILES_PER_FOLDER = 1000
# mkfs.fat makes FAT32 only from 65,525 clusters on; below that qdefrag would
# rightly call the volume FAT16. 320 MiB of 4 KiB clusters is safely above.
FAT32_MIN_MIB = 320
SMALL_FILE_BYTES = (100, 12000)         # one to three clusters
BIG_FILE_MIB = (1, 12)
TARGET_FRAGMENTS = 300                  # per big file, roughly
MIB = 1 << 20


def must(argv, quiet_errors=False):
    """Runs a maker step; exits with its error output when it fails."""
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit("fixture step failed: %s\n%s" % (" ".join(argv),
                                                   result.stderr.decode(errors="replace")[-4000:]))
    return result.stdout


def sparse_file(path, size):
    if os.path.exists(path):
        os.remove(path)
    with open(path, "wb") as f:
        f.truncate(size)


def small_size(i):
    """Deterministic spread of small-file sizes."""
    low, high = SMALL_FILE_BYTES
    return low + (i * 7919) % (high - low)


def big_size(i):
    low, high = BIG_FILE_MIB
    return (low + (i * 7) % (high - low + 1)) * MIB


def check_fat(image):
    """fsck.fat -n reads only; a nonzero exit means the maker is wrong."""
    out = must(["fsck.fat", "-n", image]).decode(errors="replace").strip().splitlines()
    return out[-1] if out else ""


def mkfs_fat(path, size):
    sparse_file(path, size)
    must(["mkfs.fat", "-F", "32", "-s", str(SECTORS_PER_CLUSTER), "-n", "QBENCH", path])


def log(text):
    print("  [fixture] " + text, flush=True)


# ------------------------------------------------------------ many files

def fat32_many(work, files):
    """FAT32 with FILES small files in folders of a thousand, by mcopy -s."""
    image = os.path.join(work, "fat32-many-%d.img" % files)
    if os.path.exists(image):
        return image
    log("FAT32 image with %d files (mcopy)" % files)
    tree = os.path.join(work, "fat32-tree")
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    folder = None
    for i in range(files):
        if i % FILES_PER_FOLDER == 0:
            folder = os.path.join(tree, "d%04d" % (i // FILES_PER_FOLDER))
            os.mkdir(folder)
        with open(os.path.join(folder, "f%06d.txt" % i), "wb") as f:
            f.write(b"q" * small_size(i))
    # Each file takes one to three clusters; twice that keeps a third free.
    size = max(FAT32_MIN_MIB * MIB, files * 3 * CLUSTER)
    part = image + ".part"
    mkfs_fat(part, size)
    folders = [os.path.join(tree, d) for d in sorted(os.listdir(tree))]
    must(["mcopy", "-s", "-i", part] + folders + ["::/"])
    shutil.rmtree(tree)
    log("fsck.fat -n: " + check_fat(part))
    os.rename(part, image)
    return image


def ntfs_many(work, tool, files):
    """NTFS with FILES files, as bench/ntfs/NtfsBench.cpp makes its image."""
    image = os.path.join(work, "ntfs-many-%d.img" % files)
    if os.path.exists(image):
        return image
    log("NTFS image with %d files (ntfs_fixture_tool populate)" % files)
    part = image + ".part"
    # About 1 KiB of MFT per file plus clusters for one file in four.
    sparse_file(part, max(1 << 30, files * 16 * 1024))
    must(["mkntfs", "-F", "-Q", "-T", "-q", "-c", str(CLUSTER), "-L", "QBENCH", part])
    must([tool, part, "populate", "/bench", str(files)])
    os.rename(part, image)
    return image


# ------------------------------------------------------ fragmented images

class Fat32Layout:
    """Writes directories and files into a freshly made FAT32 image with the
    clusters chosen by the caller, so that fragmentation is exact and quick to
    make (mtools allocates contiguously and cannot be told where to put a
    file). Short 8.3 names only; both FATs are written; the FSInfo counts are
    set to "unknown" so that no tool trusts a stale figure."""

    EOC = 0x0FFFFFFF
    DATE = ((2026 - 1980) << 9) | (1 << 5) | 1   # 2026-01-01
    TIME = 12 << 11

    def __init__(self, path):
        self.file = open(path, "r+b")
        boot = self.file.read(512)
        self.sector = struct.unpack_from("<H", boot, 11)[0]
        self.per_cluster = boot[13]
        reserved = struct.unpack_from("<H", boot, 14)[0]
        self.fats = boot[16]
        total_sectors = struct.unpack_from("<I", boot, 32)[0]
        self.fat_sectors = struct.unpack_from("<I", boot, 36)[0]
        self.root = struct.unpack_from("<I", boot, 44)[0]
        self.fsinfo = struct.unpack_from("<H", boot, 48)[0]
        self.fat_offset = reserved * self.sector
        self.data_offset = (reserved + self.fats * self.fat_sectors) * self.sector
        self.cluster_bytes = self.sector * self.per_cluster
        self.clusters = (total_sectors - reserved - self.fats * self.fat_sectors) // self.per_cluster
        self.file.seek(self.fat_offset)
        self.fat = array.array("I")
        self.fat.frombytes(self.file.read((self.clusters + 2) * 4))
        self.next_free = self.root + 1
        self.root_entries = []

    def offset(self, cluster):
        return self.data_offset + (cluster - 2) * self.cluster_bytes

    def take(self, count):
        """COUNT clusters from the contiguous allocation front."""
        first = self.next_free
        self.next_free += count
        if self.next_free > self.clusters + 2:
            raise RuntimeError("FAT32 layout: image too small")
        return list(range(first, first + count))

    def chain(self, clusters):
        for a, b in zip(clusters, clusters[1:]):
            self.fat[a] = b
        self.fat[clusters[-1]] = self.EOC

    @classmethod
    def entry(cls, name, attributes, cluster, size):
        return struct.pack("<11sBBBHHHHHHHI", name, attributes, 0, 0, cls.TIME, cls.DATE, cls.DATE,
                           cluster >> 16, cls.TIME, cls.DATE, cluster & 0xFFFF, size)

    def directory(self, entries, parent):
        """A directory holding ENTRIES (32-byte records); its first cluster."""
        count = -(-(len(entries) + 2) * 32 // self.cluster_bytes)
        clusters = self.take(count)
        parent_field = 0 if parent == self.root else parent
        body = (self.entry(b".          ", 0x10, clusters[0], 0)
                + self.entry(b"..         ", 0x10, parent_field, 0) + b"".join(entries))
        self.write_chain(clusters, body)
        return clusters[0]

    def write_chain(self, clusters, data):
        self.chain(clusters)
        data = data.ljust(len(clusters) * self.cluster_bytes, b"\0")
        start = 0
        for run_first, run_length in runs(clusters):
            self.file.seek(self.offset(run_first))
            self.file.write(data[start:start + run_length * self.cluster_bytes])
            start += run_length * self.cluster_bytes

    def finish(self):
        # The root directory: mkfs.fat left one cluster, maybe with the label.
        self.file.seek(self.offset(self.root))
        existing = self.file.read(self.cluster_bytes)
        kept = [existing[i:i + 32] for i in range(0, len(existing), 32)
                if existing[i] not in (0, 0xE5)]
        body = b"".join(kept + self.root_entries)
        extra = -(-len(body) // self.cluster_bytes) - 1
        clusters = [self.root] + (self.take(extra) if extra > 0 else [])
        self.write_chain(clusters, body)
        table = self.fat.tobytes()
        for copy in range(self.fats):
            self.file.seek(self.fat_offset + copy * self.fat_sectors * self.sector)
            self.file.write(table)
        self.file.seek(self.fsinfo * self.sector + 0x1E8)
        self.file.write(struct.pack("<II", 0xFFFFFFFF, 0xFFFFFFFF))
        self.file.close()


def runs(clusters):
    """(first, length) of each run of consecutive cluster numbers."""
    result = []
    for c in clusters:
        if result and result[-1][0] + result[-1][1] == c:
            result[-1][1] += 1
        else:
            result.append([c, 1])
    return result


def fat32_fragmented(work, small_files, big_files):
    """SMALL_FILES small files in folders of a thousand under /SMALL, then
    BIG_FILES big files under /BIG whose pieces are interleaved round-robin,
    so that each has a few hundred fragments; the rest of the volume is free."""
    image = os.path.join(work, "fat32-fragmented-%d-%d.img" % (small_files, big_files))
    if os.path.exists(image):
        return image
    log("fragmented FAT32 image: %d small files, %d big files" % (small_files, big_files))
    small_clusters = sum(-(-small_size(i) // CLUSTER) for i in range(small_files))
    big_clusters = sum(big_size(i) // CLUSTER for i in range(big_files))
    used = small_clusters + big_clusters + small_files // 100 + 64
    # Free space about as large as the used space, so that the optimise pass
    # has room to build its zones.
    size = max(FAT32_MIN_MIB * MIB, used * 2 * CLUSTER)
    part = image + ".part"
    mkfs_fat(part, size)
    layout = Fat32Layout(part)
    assert layout.cluster_bytes == CLUSTER

    # Small files: each folder's directory clusters, then its files, in order.
    folder_entries = []
    for first in range(0, small_files, FILES_PER_FOLDER):
        count = min(FILES_PER_FOLDER, small_files - first)
        directory = layout.take(-(-(count + 2) * 32 // CLUSTER))
        entries, data = [], []
        data_start = start = layout.next_free
        for i in range(first, first + count):
            size_i = small_size(i)
            n = -(-size_i // CLUSTER)
            entries.append(layout.entry(b"F%07dTXT" % i, 0x20, start, size_i))
            layout.chain(list(range(start, start + n)))
            data.append((b"s%07d" % i * (CLUSTER // 8 * n))[:n * CLUSTER])
            start += n
        layout.take(start - layout.next_free)
        layout.file.seek(layout.offset(data_start))
        layout.file.write(b"".join(data))
        body = (layout.entry(b".          ", 0x10, directory[0], 0)
                + layout.entry(b"..         ", 0x10, 0, 0) + b"".join(entries))
        # The folder's parent is /SMALL, made below; patch ".." then.
        folder_entries.append((b"D%07d   " % (first // FILES_PER_FOLDER), directory, body))
    small_dir_records = [layout.entry(name, 0x10, directory[0], 0) for name, directory, _ in folder_entries]
    small_dir = layout.directory(small_dir_records, layout.root)
    for _, directory, body in folder_entries:
        body = body[:32] + layout.entry(b"..         ", 0x10, small_dir, 0) + body[64:]
        layout.write_chain(directory, body)
    layout.root_entries.append(layout.entry(b"SMALL      ", 0x10, small_dir, 0))

    # Big files: pieces sized for about TARGET_FRAGMENTS fragments each, laid
    # round-robin so that neighbouring pieces belong to other files.
    sizes = [big_size(i) for i in range(big_files)]
    piece = [max(1, (s // CLUSTER) // TARGET_FRAGMENTS) for s in sizes]
    left = [s // CLUSTER for s in sizes]
    owned = [[] for _ in sizes]
    while any(left):
        for i in range(big_files):
            if left[i]:
                n = min(piece[i], left[i])
                owned[i] += layout.take(n)
                left[i] -= n
    big_records = []
    for i in range(big_files):
        layout.write_chain(owned[i], os.urandom(sizes[i]))
        big_records.append(layout.entry(b"BIG%05dBIN" % i, 0x20, owned[i][0], sizes[i]))
    big_dir = layout.directory(big_records, layout.root)
    layout.root_entries.append(layout.entry(b"BIG        ", 0x10, big_dir, 0))
    layout.finish()
    log("fsck.fat -n: " + check_fat(part))
    os.rename(part, image)
    return image


def ntfs_fragmented(work, tool, small_files, big_files):
    """SMALL_FILES files by "populate", then the volume's free space turned
    into one-cluster holes (checkerboard), BIG_FILES big files written one
    cluster at a time into them, and the filling deleted again: each big file
    has one fragment per cluster (256 to 3,072) and the freed filling leaves
    room to join them."""
    image = os.path.join(work, "ntfs-fragmented-%d-%d.img" % (small_files, big_files))
    if os.path.exists(image):
        return image
    log("fragmented NTFS image: %d small files, %d big files" % (small_files, big_files))
    sizes = [big_size(i) for i in range(big_files)]
    big_clusters = sum(sizes) // CLUSTER
    part = image + ".part"
    size = (small_files * 2 * 1024 + big_clusters * 4 * CLUSTER + 256 * MIB) // MIB * MIB
    sparse_file(part, size)
    must(["mkntfs", "-F", "-Q", "-T", "-q", "-c", str(CLUSTER), "-L", "QBENCH", part])
    must([tool, part, "populate", "/small", str(small_files)])
    # Twice the clusters needed: every other one-cluster file is truncated.
    must([tool, part, "checkerboard", "/filling", str(2 * big_clusters + 1024)])
    must([tool, part, "mkdir", "/big"])
    source = os.path.join(work, "big-source.bin")
    for i, s in enumerate(sizes):
        with open(source, "wb") as f:
            f.write(os.urandom(s))
        must([tool, part, "write", "/big/big-%02d.bin" % i, source, "1"])
    os.remove(source)
    must([tool, part, "clear", "/filling"])
    os.rename(part, image)
    return image
