# README and licence under <prefix>/share/doc/runekit. A Debian package
# instead carries the machine-readable copyright file (which points to the
# system's copy of the licence) and its changelog, with the larger texts
# compressed with gzip -9n.
if(NOT RUNEKIT_DEB_LAYOUT)
  install(FILES README.md COPYING DESTINATION ${CMAKE_INSTALL_DOCDIR})
  return()
endif()

find_program(GZIP gzip REQUIRED)
set(doc_dir ${CMAKE_BINARY_DIR}/doc)
set(compressed)
foreach(source README.md packaging/changelog)
  get_filename_component(name ${source} NAME)
  # gzip -n leaves out the name and time stamp, so the result is reproducible.
  add_custom_command(OUTPUT ${doc_dir}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_dir}
                     COMMAND ${GZIP} -9n -c ${CMAKE_SOURCE_DIR}/${source} > ${doc_dir}/${name}.gz
                     DEPENDS ${CMAKE_SOURCE_DIR}/${source}
                     COMMENT "Compressing ${name}")
  list(APPEND compressed ${doc_dir}/${name}.gz)
endforeach()
add_custom_target(deb_docs ALL DEPENDS ${compressed})
install(FILES ${compressed} packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Installed programs lose their symbols and the compiler's .comment and .note
# sections, as Debian's own packaging tools strip them; the package is
# stripped here and nowhere else.
foreach(program IN LISTS RUNEKIT_PROGRAMS)
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                                COMMAND_ERROR_IS_FATAL ANY)")
endforeach()
