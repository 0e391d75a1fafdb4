# Proves that the include check catches what it should: runs it on a copy of
# the tree, clean and then with one wrong include at a time.
#   cmake -DROOT=<source tree> -DWORK=<scratch directory> -P check_includes_test.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/*.cc" "${ROOT}/*.h")
foreach(path IN LISTS sources)
  if(NOT path MATCHES "^(build|\\.)")
    get_filename_component(dir "${path}" DIRECTORY)
    file(COPY "${ROOT}/${path}" DESTINATION "${WORK}/${dir}")
  endif()
endforeach()
file(COPY "${ROOT}/scripts/layers.txt" DESTINATION "${WORK}/scripts")

# Runs the check on the copy; `want` is PASS or FAIL, `text` must appear in
# the output of a failing run.
function(expect want what text)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -DROOT=${WORK} -DTABLE=${WORK}/scripts/layers.txt
            -P "${ROOT}/scripts/check_includes.cmake"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(want STREQUAL "PASS" AND NOT rc EQUAL 0)
    message(FATAL_ERROR "${what}: the check failed:\n${out}")
  elseif(want STREQUAL "FAIL" AND rc EQUAL 0)
    message(FATAL_ERROR "${what}: the check passed")
  elseif(want STREQUAL "FAIL")
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${what}: the failure does not say '${text}':\n${out}")
    endif()
  endif()
endfunction()

# Appends `line` to `file` of the copy for one run and takes it out again.
function(expect_with file line want what text)
  file(READ "${WORK}/${file}" original)
  file(APPEND "${WORK}/${file}" "${line}\n")
  expect(${want} "${what}" "${text}")
  file(WRITE "${WORK}/${file}" "${original}")
endfunction()

expect(PASS "the tree as it is" "")
expect_with(abi/common_area.h "#include \"launcher/launcher.h\"" FAIL
            "a record including the launcher" "abi/common_area.h: includes \"launcher/launcher.h\"")
expect_with(datafiles/keyed_file.h "#include \"platform/program_loader.h\"" FAIL
            "a sibling layer" "datafiles/keyed_file.h: includes \"platform/program_loader.h\"")
expect_with(programs/title.cc "#include \"catalogue/groups.h\"" FAIL
            "a program including the catalogue" "programs/title.cc: includes \"catalogue/groups.h\"")
expect_with(tools/menu_io.cc "#include \"launcher/rules.h\"" FAIL
            "the tool including the launcher" "tools/menu_io.cc: includes \"launcher/rules.h\"")
expect_with(launcher/launcher.cc "#include <sqlite3.h>" FAIL
            "a system header kept to one place" "launcher/launcher.cc: includes <sqlite3.h>")
expect_with(programs/title.cc "#include \"datafiles/menu_access.h\"" PASS
            "a program using the access rule" "")
expect_with(launcher/launcher_test.cc "#include \"tools/verbs.h\"" PASS "a test file" "")
expect_with(programs/title.cc "int x = platform::processLoader ();" FAIL
            "a program reading the process's loader itself" "programs/title.cc: uses processLoader()")
file(WRITE "${WORK}/newfolder/thing.cc" "int thing;\n")
expect(FAIL "a folder the table does not place" "newfolder/: a folder with C++ files")
file(REMOVE_RECURSE "${WORK}")
