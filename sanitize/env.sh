# The sanitizer runtime options of the PW_SANITIZE builds. CTest hands them to every test
# (cmake/Postwing.cmake reads the export lines below, with $d as this folder); source this file
# to run a sanitizer-built test program by hand:  . sanitize/env.sh
d=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$d/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$d/ubsan.supp
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$d/tsan.supp
