// SPDX-License-Identifier: GPL-2.0-or-later
// The lowest priority a thread can ask for, for both the processor and the
// disk, so that a defragmentation yields to everything else on the machine.
#pragma once

namespace quillo {

// Puts the calling thread in the idle scheduling class and the idle I/O
// priority class. Returns whether both took effect; a thread that keeps its
// old priority still works, only less politely.
bool SetIdlePriority();

// Whether the calling thread runs in both idle classes.
bool HasIdlePriority();

} // namespace quillo
