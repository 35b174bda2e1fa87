# Manual pages, README examples, install layout and the catalogue directory
# (included from tests/CMakeLists.txt).

# Each page renders without warnings and documents what its program does:
# every option it accepts, its statuses, and examples that come out as shown.
find_program(GROFF groff)
find_program(MAN_DB man)
foreach(program IN LISTS RUNEKIT_PROGRAMS)
  if(NOT GROFF)
    message(WARNING "groff not found: the manual page tests are left out")
    break()
  endif()
  add_test(NAME man_${program}
           COMMAND ${RUNEKIT_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_man_pages.py
                   --page ${CMAKE_BINARY_DIR}/man/${program}.1 --program $<TARGET_FILE:${program}>
                   --main $<TARGET_PROPERTY:${program},SOURCE_DIR>/main.cpp --groff ${GROFF} --man "${MAN_DB}")
  set_tests_properties(man_${program} PROPERTIES LABELS "man")
endforeach()

# cmake --install into a scratch DESTDIR lays out exactly the expected files.
add_test(NAME install_layout
         COMMAND ${RUNEKIT_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_install.py
                 --cmake ${CMAKE_COMMAND} --build-dir ${CMAKE_BINARY_DIR} --source-dir ${CMAKE_SOURCE_DIR}
                 --prefix ${CMAKE_INSTALL_PREFIX} --localedir ${RUNEKIT_LOCALEDIR}
                 --deb-layout ${RUNEKIT_DEB_LAYOUT} --version ${PROJECT_VERSION} --programs ${RUNEKIT_PROGRAMS})
set_tests_properties(install_layout PROPERTIES LABELS "install")

# The catalogue directory follows the prefix across reconfigures.
add_test(NAME install_localedir
         COMMAND ${RUNEKIT_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_localedir.py
                 --cmake ${CMAKE_COMMAND} --source-dir ${CMAKE_SOURCE_DIR})
set_tests_properties(install_localedir PROPERTIES LABELS "install")

# The README's example transcripts come out of the programs as shown.
add_test(NAME readme_examples
         COMMAND ${RUNEKIT_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_readme_examples.py
                 --bin-dir ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR}/README.md)
set_tests_properties(readme_examples PROPERTIES LABELS "doc")
