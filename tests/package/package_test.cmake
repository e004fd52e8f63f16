# Installs the build into a temporary prefix, builds the consumer program against the installed
# CMake package and runs it, checks the pkg-config file, and makes the Debian package.
# Called by ctest with BUILD_DIR, SOURCE_DIR and WORK_DIR.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f bin/kvtfields bin/kvtfields-desk lib/libkvtfields.so lib/cmake/kvtfields/kvtfieldsConfig.cmake
          include/kvtfields/kvtfields/collection/fields_collection.h
          include/kvtfields/kvtfields/server/version.h lib/pkgconfig/kvtfields.pc)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/consumer -B ${WORK_DIR}/consumer -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer ${WORK_DIR}/sample.kvtdb)
message(STATUS "${last_output}")

# The installed program runs from its new place (it finds the runtime library beside it).
run(${prefix}/bin/kvtfields selfcheck)

set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(pkg-config --cflags --libs kvtfields)
if(NOT last_output MATCHES "-lkvt_fields")
  message(FATAL_ERROR "pkg-config gives: ${last_output}")
endif()

run(cpack -G DEB -B ${WORK_DIR}/deb --config ${BUILD_DIR}/CPackConfig.cmake)
file(GLOB debs ${WORK_DIR}/deb/*.deb)
if(NOT debs)
  message(FATAL_ERROR "cpack made no .deb")
endif()
run(dpkg-deb --contents ${debs})
if(NOT last_output MATCHES "usr/bin/kvtfields-desk")
  message(FATAL_ERROR "the package lacks the desktop program:\n${last_output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
