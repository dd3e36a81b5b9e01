// SPDX-License-Identifier: GPL-2.0-or-later
// libjobsched: the task library. Starts a program once a week or at every
// log on, through the desktop's own facilities:
//   a weekly task is a systemd user timer with its service,
//     $XDG_CONFIG_HOME/systemd/user/<unit>.timer and <unit>.service,
//     plus the library's task file $XDG_CONFIG_HOME/jobsched/<unit>.task
//     that keeps the schedule;
//   a log-on task is an XDG autostart entry,
//     $XDG_CONFIG_HOME/autostart/<unit>.desktop.
// <unit> is the task name in lower case with "." turned into "-"
// ("QuilloDefrag.job" gives "quillodefrag-job"); characters a unit name
// cannot hold are written as \xNN. Task names therefore compare without
// regard to case (ASCII letters).
//
// Strings are NUL-terminated UTF-16. Results other than IsTaskExist's and
// GetTaskTime's are for diagnosis only: 1 when the call did what was asked,
// 0 when it did not (bad arguments, a folder that cannot be written, a file
// of the same name that this library did not write, a cancelled dialog).
// Files of the same names that this library did not write are never
// changed or removed.
//
// After writing or removing a timer the library runs
// "systemctl --user daemon-reload" and "enable --now" or "disable --now".
// Each run is limited to a few seconds; a missing systemctl or user bus is
// ignored. The environment variable JOBSCHED_SYSTEMCTL, when set, names the
// program run instead of systemctl; set and empty, nothing is run.
#pragma once

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#define JOBSCHED_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// Creates or replaces the weekly task `name` that runs `executable` (an
// absolute path) with `parameters` (blank-separated; double quotes group
// words) on the chosen weekdays at hour:minute local time, in every
// `intervalWeeks`-th week, never before year-month-day.
//   intervalWeeks  1 to 52; 1 is every week, 2 every other week. Weeks run
//                  from Sunday to Saturday; the week holding the start date
//                  is the first one.
//   weekdays       a mask: 1 Sunday, 2 Monday, 4 Tuesday, 8 Wednesday,
//                  16 Thursday, 32 Friday, 64 Saturday; several may be added.
//   hour, minute   0 to 23, 0 to 59.
// So NewTaskWeekly(name, path, u"/Schedule", 1, 2, 2026, 12, 9, 22, 0) runs
// the program every Monday at 22:00 from 9 December 2026 on.
JOBSCHED_API int32_t NewTaskWeekly(const char16_t* name, const char16_t* executable,
                                   const char16_t* parameters, int32_t intervalWeeks,
                                   int32_t weekdays, int32_t year, int32_t month, int32_t day,
                                   int32_t hour, int32_t minute);

// Creates or replaces the log-on task `name`: `executable` runs with
// `parameters` whenever the user logs on to the desktop.
JOBSCHED_API int32_t NewTaskAtLogOn(const char16_t* name, const char16_t* executable,
                                    const char16_t* parameters);

// Non-zero exactly when a weekly or log-on task of that name exists.
JOBSCHED_API int32_t IsTaskExist(const char16_t* name);

// Removes the task; does nothing when there is none.
JOBSCHED_API int32_t DeleteTask(const char16_t* name);

// When the task runs, in words: "At 22:00 every Monday of every week,
// starting 2026-12-09", "At log on"; "" when there is no such task. The
// buffer belongs to the library and stays valid until the next call of
// GetTaskTime on the same thread.
JOBSCHED_API const char16_t* GetTaskTime(const char16_t* name);

// Shows the library's dialog for the weekly task's weekdays, time and
// interval, modally, and returns when it is closed; on OK the task is
// rewritten. Uses the running QApplication, or makes one for the dialog
// when none runs and a display is available. Does nothing for a log-on task
// or a missing one.
JOBSCHED_API int32_t EditTask(const char16_t* name);

#ifdef __cplusplus
}
#endif
