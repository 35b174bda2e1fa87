# Compiles the locales the CLI cases run under into LOCPATH, once.
# -DBYTE_ORDER=BIG_ENDIAN (or LITTLE_ENDIAN) writes them for programs of that
# byte order, as a cross build needs: compiled locales are in the byte order
# of the C library that reads them, which otherwise takes them for corrupt
# and stays in the C locale.
find_program(LOCALEDEF localedef REQUIRED)
set(order_option "")
if(BYTE_ORDER STREQUAL "BIG_ENDIAN")
  set(order_option --big-endian)
elseif(BYTE_ORDER STREQUAL "LITTLE_ENDIAN")
  set(order_option --little-endian)
endif()
foreach(locale de_DE fr_FR en_US ps_AF)
  set(dir ${LOCPATH}/${locale}.UTF-8)
  if(NOT EXISTS ${dir}/LC_NUMERIC)
    file(MAKE_DIRECTORY ${LOCPATH})
    # localedef warns (and exits 1) about harmless details of some sources;
    # what counts is that the compiled locale is there afterwards.
    execute_process(COMMAND ${LOCALEDEF} ${order_option} -c -i ${locale} -f UTF-8 ${dir}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT EXISTS ${dir}/LC_NUMERIC)
      message(FATAL_ERROR "localedef could not compile ${locale}.UTF-8 (status ${rc}); "
                          "install Debian's 'locales' package")
    endif()
  endif()
endforeach()
