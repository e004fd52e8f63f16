# The layering check on a tree of known faults: it must fail and name each one.
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${DIR}/forbidden -P ${DIR}/check_layers.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(result EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with forbidden includes:\n${out}")
endif()
foreach(expected
        "src/engine/sqlite/uses_a_window.cc:3: #include \"host/qt/qt_desktop.h\""
        "src/kvtfields/field/uses_an_engine.cc:2: #include \"engine/sqlite/sqlite_engine.h\""
        "apps/tool/main.cc:3: #include \"kvtfields/internal/live_object.h\""
        "3 includes cross the layers")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not reported: ${expected}\n${out}")
  endif()
endforeach()
message("the check finds every forbidden include")
