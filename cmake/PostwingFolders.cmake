# The folders of the top-level list and what each cannot be built without.
#
# pw_folder_needs(<folder> <folder>...) names the folders of the top-level list whose targets the
# folder's CMakeLists.txt uses unconditionally (its libraries, and its tests). What a folder uses
# only when it is there (the optional parts, decided with if(TARGET ...)) is not listed: a build
# without it leaves those parts out. pw_check_folders() stops the configure step, before any
# folder is added, when PW_FOLDERS selects a folder without one it needs, and names them all.

function(pw_folder_needs folder)
  set_property(GLOBAL PROPERTY PW_NEEDS_${folder} ${ARGN})
endfunction()

pw_folder_needs(common/http    testing)  # its tests' loopback server
pw_folder_needs(platform/gdiplus platform/win32)
pw_folder_needs(platform/duilib  platform/win32)
pw_folder_needs(sso            common/log common/util common/http xcap/shared)
pw_folder_needs(xcap/client    common/log common/util common/http xcap/shared xcap/bindings sso)
pw_folder_needs(desktop/bridge common/log common/util platform/win32 hook)
# hook: its tests drive simulated mail clients (testing) through the agent, whose codec is
# desktop/bridge's (the library alone would build without the agent).
pw_folder_needs(hook           platform/win32 testing desktop/bridge)
pw_folder_needs(desktop/shell  common/log common/util common/http xcap/shared testing
                               platform/win32 platform/gdiplus platform/duilib)
pw_folder_needs(desktop/netdisk common/log common/util common/http common/json xcap/shared sso
                                desktop/shell)
pw_folder_needs(desktop/addressbook common/log common/util xcap/shared xcap/client sso testing
                                    platform/duilib hook desktop/bridge desktop/shell)
pw_folder_needs(bench          common/log)

# pw_folder_name(<name> <out>): the name as the folders of PW_ALL_FOLDERS are written, without
# trailing slashes ("common/" as tab completion writes it is "common").
function(pw_folder_name name out)
  string(REGEX REPLACE "/+$" "" name "${name}")
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

# pw_folder_related(<dir> <name> <out>): TRUE when the name selects the folder of the list: it is
# the folder, a folder above it, or a folder below it. Compared as text, never as a pattern.
function(pw_folder_related dir name out)
  set(related FALSE)
  string(FIND "${dir}/" "${name}/" above)
  string(FIND "${name}/" "${dir}/" below)
  if(above EQUAL 0 OR below EQUAL 0)
    set(related TRUE)
  endif()
  set(${out} ${related} PARENT_SCOPE)
endfunction()

# pw_given_folders(<out>): the names of PW_FOLDERS as written, without empty ones: a stray ";"
# ("common;testing;") names nothing, as a trailing slash names no other folder.
function(pw_given_folders out)
  set(given)
  foreach(w IN LISTS PW_FOLDERS)
    if(NOT w STREQUAL "")
      list(APPEND given "${w}")
    endif()
  endforeach()
  set(${out} "${given}" PARENT_SCOPE)
endfunction()

# pw_select_folders(<out>): the folders of PW_ALL_FOLDERS that PW_FOLDERS selects (every one
# when it names none). A listed folder brings its sub-folders; a listed sub-folder brings the
# folder of the list it is in. A name that selects nothing, a name below a folder of the list
# that is no folder of the source tree, and fuzz without PW_FUZZ (it would build nothing) stop
# the configure step.
function(pw_select_folders out)
  pw_given_folders(given_names)
  list(LENGTH given_names named)
  set(names)
  foreach(w IN LISTS given_names)
    pw_folder_name("${w}" w)
    list(APPEND names "${w}")
  endforeach()
  set(selected)
  foreach(dir IN LISTS PW_ALL_FOLDERS)
    set(wanted TRUE)
    if(named GREATER 0)
      set(wanted FALSE)
      foreach(w IN LISTS names)
        pw_folder_related("${dir}" "${w}" related)
        if(related)
          set(wanted TRUE)
        endif()
      endforeach()
    endif()
    if(wanted AND EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      list(APPEND selected ${dir})
    endif()
  endforeach()
  foreach(given IN LISTS given_names)
    pw_folder_name("${given}" w)
    set(found FALSE)
    # Each part a plain name ("..", "." and "a//b" are none), and the name a folder on disk.
    if(NOT w MATCHES "(^|/)\\.\\.?(/|$)|//|^/|^$" AND IS_DIRECTORY "${PROJECT_SOURCE_DIR}/${w}")
      foreach(dir IN LISTS selected)
        pw_folder_related("${dir}" "${w}" related)
        if(related)
          set(found TRUE)
        endif()
      endforeach()
    endif()
    if(NOT found)
      string(REPLACE ";" " " all "${PW_ALL_FOLDERS}")
      message(FATAL_ERROR "PW_FOLDERS: \"${given}\" is no folder of this build. The folders: ${all}")
    endif()
    # The fuzz folder's targets are made only in a libFuzzer build: named without it, the folder
    # is empty (and a build of it alone builds nothing).
    pw_folder_related(fuzz "${w}" related)
    if(related AND NOT PW_FUZZ)
      message(FATAL_ERROR "PW_FOLDERS: \"${given}\" builds nothing without -DPW_FUZZ=ON (the "
                          "libFuzzer targets, with -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++; "
                          "scripts/fuzz.sh builds them): add it, or leave fuzz out")
    endif()
  endforeach()
  set(${out} ${selected} PARENT_SCOPE)
endfunction()

# pw_check_folders(<folders>): stops with the folders to add when a selected folder needs one
# that is not selected, directly or through another needed folder.
function(pw_check_folders)
  set(selected ${ARGN})
  set(closure ${selected})
  set(changed TRUE)
  while(changed)
    set(changed FALSE)
    foreach(dir IN LISTS closure)
      get_property(needs GLOBAL PROPERTY PW_NEEDS_${dir})
      foreach(n IN LISTS needs)
        if(NOT n IN_LIST closure)
          list(APPEND closure ${n})
          set(changed TRUE)
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(missing)
  set(lines)
  foreach(dir IN LISTS PW_ALL_FOLDERS)
    if(NOT dir IN_LIST closure)
      continue()
    endif()
    if(NOT dir IN_LIST selected)
      list(APPEND missing ${dir})
    endif()
    get_property(needs GLOBAL PROPERTY PW_NEEDS_${dir})
    set(absent)
    foreach(n IN LISTS needs)
      if(NOT n IN_LIST selected)
        list(APPEND absent ${n})
      endif()
    endforeach()
    if(absent)
      string(REPLACE ";" " " absent "${absent}")
      string(APPEND lines "  ${dir} needs ${absent}\n")
    endif()
  endforeach()
  if(NOT missing)
    return()
  endif()
  set(absent_from_tree)
  foreach(dir IN LISTS missing)
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      list(APPEND absent_from_tree ${dir})
    endif()
  endforeach()
  string(REPLACE ";" " " missing_text "${missing}")
  pw_given_folders(given)
  set(hint "Add them: -DPW_FOLDERS=\"${given};${missing}\"")
  if(absent_from_tree)
    string(REPLACE ";" " " absent_from_tree "${absent_from_tree}")
    set(hint "${absent_from_tree}: not in this source tree.")
  endif()
  message(FATAL_ERROR "PW_FOLDERS=\"${given}\" leaves out folders that the chosen ones need "
                      "(${missing_text}):\n${lines}${hint}")
endfunction()
