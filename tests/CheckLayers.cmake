# Fails when a file of the core includes a file of a layer above its own.
# Run as: cmake -DSOURCE_DIR=<project root> -P tests/CheckLayers.cmake
#
# Ranks, bottom up. A folder may include its own files and those of lower
# ranks only; folders of one rank stay apart, so that the engine and the
# protocol never know each other.
set(rank_files 0)
set(rank_method 0)
set(rank_striking 0)
set(rank_sound 0)
set(rank_engine 1)
set(rank_protocol 1)
set(rank_ringer 2)
set(rank_app 3)
set(rank_dialogs 3)

set(checked files method striking sound engine protocol ringer)
set(violations "")
foreach(folder IN LISTS checked)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/${folder}")
    continue()
  endif()
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(path IN LISTS files)
    file(STRINGS "${path}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][A-Za-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([A-Za-z_]+)/.*" "\\1" target "${line}")
      if(NOT DEFINED rank_${target} OR target STREQUAL folder)
        continue()
      endif()
      if(NOT rank_${target} LESS rank_${folder})
        file(RELATIVE_PATH shown "${SOURCE_DIR}" "${path}")
        string(STRIP "${line}" line)
        list(APPEND violations "${shown}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " listed)
  message(FATAL_ERROR "Includes that point up or across a layer:\n  ${listed}")
endif()
