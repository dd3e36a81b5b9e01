# SPDX-License-Identifier: GPL-2.0-or-later
# Runs after gtest_discover_tests has defined the tests of this folder.
get_property(quillo_window_tests DIRECTORY PROPERTY TESTS)
foreach(test ${quillo_window_tests})
  if(test MATCHES "SingleInstance|RunningWindow|Instance")
    set_tests_properties(${test} PROPERTIES RESOURCE_LOCK quillo_instance_socket)
  endif()
endforeach()
