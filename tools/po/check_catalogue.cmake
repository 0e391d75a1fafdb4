# Checks that the catalogue CATALOGUE translates every text the tool's
# sources in SOURCE_DIR mark: the marked texts are extracted into WORK, and
# msgcmp fails on each one the catalogue lacks or leaves untranslated or
# fuzzy. Run by CTest.
find_program(XGETTEXT xgettext REQUIRED)
find_program(MSGCMP msgcmp REQUIRED)
file(GLOB sources ${SOURCE_DIR}/*.cc)
list(FILTER sources EXCLUDE REGEX "_test\\.cc$")
file(MAKE_DIRECTORY ${WORK})
execute_process(
  COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_
          --keyword=ngettext:1,2 -o ${WORK}/pxadmin.pot ${sources}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "xgettext failed: ${err}")
endif()
execute_process(COMMAND ${MSGCMP} ${CATALOGUE} ${WORK}/pxadmin.pot
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${CATALOGUE} does not translate every marked text:\n${err}")
endif()
