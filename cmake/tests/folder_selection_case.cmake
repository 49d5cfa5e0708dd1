# One PW_FOLDERS value through pw_select_folders, in a process of its own (a refused name ends
# it with the configure step's error). Run by folder_selection_test.cmake:
#   cmake -DSOURCE_DIR=<tree> -DALL=<folders, comma-separated> -DGIVEN=<names, comma-separated>
#         [-DPW_FUZZ=ON] -P folder_selection_case.cmake
# Prints "selected: <folders>".
# The policies of the configure step (empty list elements kept, quoted names never variables).
cmake_minimum_required(VERSION 3.20)
set(PROJECT_SOURCE_DIR "${SOURCE_DIR}")
string(REPLACE "," ";" PW_ALL_FOLDERS "${ALL}")
string(REPLACE "," ";" PW_FOLDERS "${GIVEN}")
include("${SOURCE_DIR}/cmake/PostwingFolders.cmake")
pw_select_folders(selected)
string(REPLACE ";" " " selected "${selected}")
message("selected: ${selected}")
