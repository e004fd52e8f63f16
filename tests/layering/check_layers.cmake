# Checks every #include "..." of the sources against the layers they may use: the component
# depends only on the runtime and its contracts; engines, window systems, script engines and
# add-ons on contracts and the runtime, never on each other; programs never on the component's
# internal/ or server/ headers. Run: cmake -DROOT=<source tree> -P check_layers.cmake
# Prints each forbidden include as FILE:LINE: ... and fails when there is one.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "give -DROOT=<source tree>")
endif()

# Layers by path prefix (below src/), most specific first.
set(layers
    kvtfields/contracts kvtfields/internal kvtfields/server kvtfields runtime engine/common
    engine/sqlite engine/postgresql host/common host/headless host/qt addons scripting archives
    reading)

set(base runtime kvtfields/contracts)
set(allow_runtime runtime)
set(allow_kvtfields/contracts ${base})
set(allow_kvtfields ${base} kvtfields kvtfields/internal kvtfields/server)
set(allow_kvtfields/internal ${allow_kvtfields})
set(allow_kvtfields/server ${allow_kvtfields})
set(allow_engine/common ${base} engine/common)
set(allow_engine/sqlite ${base} engine/common engine/sqlite)
set(allow_engine/postgresql ${base} engine/common engine/postgresql)
set(allow_host/common ${base} host/common)
set(allow_host/headless ${base} host/common host/headless)
set(allow_host/qt ${base} host/common host/qt)
set(allow_addons ${base} addons)
set(allow_scripting ${base} scripting)
# Archive files are the programs' library: they read archives into engines and check scripts.
set(allow_archives ${base} engine/common scripting archives)
# What is read off the pages works on the engines' contract.
set(allow_reading ${base} engine/common reading)
# Programs may use every part, but not what the component keeps to itself.
set(programs_forbid kvtfields/internal kvtfields/server)

# The layer of a path below src/ (or of an include's text); empty when it names none.
function(layer_of path out)
  foreach(l IN LISTS layers)
    if(path MATCHES "^${l}/")
      set(${out} ${l} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE ${ROOT}
     ${ROOT}/src/*.h ${ROOT}/src/*.cc ${ROOT}/apps/*.h ${ROOT}/apps/*.cc
     ${ROOT}/bench/*.h ${ROOT}/bench/*.cc ${ROOT}/fuzz/*.cc)
set(problems 0)
foreach(source IN LISTS sources)
  if(source MATCHES "^src/(.*)$")
    layer_of("${CMAKE_MATCH_1}" own)
    set(program FALSE)
  else()
    set(own "")
    set(program TRUE)
  endif()
  file(STRINGS ${ROOT}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  file(READ ${ROOT}/${source} content)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
    layer_of("${included}" target)
    if(target STREQUAL "")
      continue()  # a file beside it, or a program's own folder
    endif()
    if(program)
      list(FIND programs_forbid ${target} hit)
      if(hit GREATER -1)
        set(why "programs do not use the component's ${target}/ headers")
      endif()
    else()
      list(FIND allow_${own} ${target} hit)
      if(hit EQUAL -1)
        set(why "${own} may use ${allow_${own}}, not ${target}")
      endif()
    endif()
    if((program AND hit GREATER -1) OR (NOT program AND hit EQUAL -1))
      string(FIND "${content}" "${line}" pos)
      string(SUBSTRING "${content}" 0 ${pos} before)
      string(REGEX MATCHALL "\n" ends "${before}")
      list(LENGTH ends at)
      math(EXPR at "${at} + 1")
      message("${source}:${at}: #include \"${included}\": ${why}")
      math(EXPR problems "${problems} + 1")
    endif()
  endforeach()
endforeach()
if(problems GREATER 0)
  message(FATAL_ERROR "${problems} includes cross the layers")
endif()
list(LENGTH sources count)
message("layers: ${count} files, every include allowed")
