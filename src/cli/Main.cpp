// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/Qdefrag.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return quillo::RunQdefrag(arguments);
}
