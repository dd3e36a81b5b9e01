// SPDX-License-Identifier: GPL-2.0-or-later
// The libntfs-3g headers, included the one way that works from C++: they
// carry no extern "C" guards, and ntfstime.h declares its own struct timespec
// unless it is told that <time.h> and <sys/stat.h> are available.
#pragma once

#ifndef HAVE_TIME_H
#define HAVE_TIME_H 1
#endif
#ifndef HAVE_SYS_STAT_H
#define HAVE_SYS_STAT_H 1
#endif

#include <stdarg.h>
#include <sys/stat.h>
#include <time.h>

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/bitmap.h>
#include <ntfs-3g/bootsect.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/lcnalloc.h>
#include <ntfs-3g/logfile.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/mft.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/security.h>
#include <ntfs-3g/volume.h>
}

// support.h defines these as macros, which would break std::min and std::max.
#undef min
#undef max
