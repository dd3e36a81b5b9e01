// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace quillo {

namespace {
int DescriptorOf(OutputStream stream) {
  return stream == OutputStream::StandardOutput ? STDOUT_FILENO : STDERR_FILENO;
}
} // namespace

bool IsTerminal(OutputStream stream) {
  return isatty(DescriptorOf(stream)) == 1;
}

int TerminalColumns(OutputStream stream) {
  winsize size{};
  if (ioctl(DescriptorOf(stream), TIOCGWINSZ, &size) != 0) return 0;
  return int(size.ws_col);
}

} // namespace quillo
