#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/ from volumes
made with mkfs.fat, mtools, mkntfs and ntfscp in a temporary folder (nothing
is mounted), and from the language files. Run by hand when a seed is to
change; the fuzz runs only copy the corpus.

  fuzz/make_corpus.py
"""
import os
import shutil
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
SECTOR = 512
FAT_IMAGE_KIB = 40 * 1024
NTFS_IMAGE_BYTES = 2 << 20
NTFS_FIRST_FUZZED_RECORD = 16
NTFS_RECORD_BYTES = 1024
NTFS_FIRST_USER_RECORD = 64
MKNTFS = ["mkntfs", "-F", "-Q", "-T", "-q", "-c", "512", "-p", "0", "-H", "0", "-S", "0"]
ENV = dict(os.environ, PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin", MTOOLS_SKIP_CHECK="1")


def run(*command):
    subprocess.run(list(command), check=True, env=ENV, stdout=subprocess.DEVNULL)


def seed(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as handle:
        handle.write(data)


def fat_chain(image, first):
    bps, spc, reserved, fats = struct.unpack_from("<HBHB", image, 11)
    fat_sectors = struct.unpack_from("<I", image, 36)[0]
    fat = reserved * bps
    data = (reserved + fats * fat_sectors) * bps
    cluster_bytes = bps * spc
    out = b""
    cluster = first
    while 2 <= cluster < 0x0FFFFFF8:
        start = data + (cluster - 2) * cluster_bytes
        out += image[start:start + cluster_bytes]
        cluster = struct.unpack_from("<I", image, fat + 4 * cluster)[0] & 0x0FFFFFFF
    return out


def fat_seeds(work):
    small = os.path.join(work, "reserved8.fat")
    run("mkfs.fat", "-F", "32", "-R", "8", "-s", "1", "-n", "QUILLO", "-i", "51D0C0DE", "-C", small,
        str(FAT_IMAGE_KIB))
    with open(small, "rb") as handle:
        image = handle.read()
    # The reserved area and the head of the FAT: enough to open the volume.
    seed("fat_boot_sector", "mkfs-reserved8.bin", image[:9 * SECTOR])

    full = os.path.join(work, "full.fat")
    run("mkfs.fat", "-F", "32", "-s", "1", "-n", "QUILLO", "-i", "51D0C0DE", "-C", full,
        str(FAT_IMAGE_KIB))
    for name in ["Readme.txt", "a long file name with blanks.data", "UPPER.TXT", "lower.txt",
                 "Ünïcødé name.bin"]:
        source = os.path.join(work, "source")
        with open(source, "wb") as handle:
            handle.write(name.encode() * 40)
        run("mcopy", "-i", full, source, "::" + name)
    run("mmd", "-i", full, "::Sub Directory")
    run("mcopy", "-i", full, os.path.join(work, "source"), "::Sub Directory/inner file.txt")
    with open(full, "rb") as handle:
        image = handle.read()
    seed("fat_boot_sector", "mkfs-boot-sector.bin", image[:SECTOR])
    root_cluster = struct.unpack_from("<I", image, 44)[0]
    root = fat_chain(image, root_cluster)
    seed("fat_directory", "root.bin", root)
    # The subdirectory's first cluster, from its entry in the root.
    for slot in range(0, len(root), 32):
        entry = root[slot:slot + 32]
        if entry[0] not in (0, 0xE5) and entry[11] == 0x10:
            first = struct.unpack_from("<H", entry, 20)[0] << 16 | struct.unpack_from("<H", entry, 26)[0]
            seed("fat_directory", "subdirectory.bin", fat_chain(image, first))


def ntfs_seeds(work):
    base = os.path.join(work, "base.ntfs")
    with open(base, "wb") as handle:
        handle.truncate(NTFS_IMAGE_BYTES)
    run(*MKNTFS, base)
    source = os.path.join(work, "source")
    with open(source, "wb") as handle:
        handle.write(bytes(range(256)) * 64)
    run("ntfscp", "-q", base, source, "non-resident file.bin")
    with open(source, "wb") as handle:
        handle.write(b"resident")
    run("ntfscp", "-q", base, source, "small.txt")
    with open(base, "rb") as handle:
        image = handle.read()
    mft_lcn = struct.unpack_from("<q", image, 0x30)[0]
    cluster_bytes = struct.unpack_from("<H", image, 11)[0] * image[13]
    mft = mft_lcn * cluster_bytes

    def records(first, count):
        start = mft + first * NTFS_RECORD_BYTES
        return image[start:start + count * NTFS_RECORD_BYTES]

    # The reserved records and $Extend's files as mkntfs writes them.
    seed("ntfs_mft_record", "mkntfs-records-16-26.bin", records(NTFS_FIRST_FUZZED_RECORD, 11))
    # Files that ntfscp wrote, as records of their own.
    seed("ntfs_mft_record", "ntfscp-files.bin", records(NTFS_FIRST_USER_RECORD, 2))
    seed("ntfs_mft_record", "quota-record.bin", records(24, 1))


def text_seeds():
    language = os.path.join(HERE, "..", "language")
    for name in sorted(os.listdir(language)):
        with open(os.path.join(language, name), "rb") as handle:
            text = handle.read()
        seed("language_file", name.replace(".lng", ".bin"), text)
        seed("profile_file", name.replace(".lng", ".bin"), text)
    seed("language_file", "ansi.bin", "[M]\r\nAnalyzed=Analysé\r\n".encode("cp1252"))
    seed("profile_file", "settings.bin",
         b"[Settings]\nLanguage=English\nExclude=\"  *.tmp  \"\n; comment\n[update]\n"
         b"lastcheckupdate=2027-02-28\nno equals sign\n[broken\n=no key\n")
    seed("profile_file", "utf16.bin", "[drives]\r\nC=/srv/win.img\r\n".encode("utf-16"))
    seed("drives_ini", "drives.bin",
         b"[drives]\n; an image, a device and a partition\nC=/srv/win.img\nD=/dev/sdb1\n"
         b"E=/srv/disk.img#2\nsystem=C\n[letters]\n1234-ABCD=F\n")
    seed("drives_ini", "problems.bin",
         b"\xef\xbb\xbf[drives]\r\nC:=\"/srv/a b.img\"\r\nC=/srv/again.img\r\n1=/x\r\nD=\r\n"
         b"system=nope\r\nwhat is this\r\n[letters]\r\nuuid=zz\r\n")
    seed("update_file", "newer.bin",
         b"[qvl]\r\nappver=62\r\nUpdateInfo=Version 62 is out.\r\n"
         b"App_Url=https://www.quillodefrag.example/?Str=download\r\n")
    seed("update_file", "same.bin", b"[qvl]\nappver=61\n")
    seed("update_file", "hostile.bin",
         b"[qvl]\nappver=+99\nApp_Url=file:///etc/passwd\nlastcheckupdate=2027-02-29\n")


def main():
    shutil.rmtree(CORPUS, ignore_errors=True)
    with tempfile.TemporaryDirectory(prefix="quillo-corpus-") as work:
        fat_seeds(work)
        ntfs_seeds(work)
    text_seeds()


if __name__ == "__main__":
    main()
